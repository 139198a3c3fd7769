"""kqcam end to end on the simulated bench: recordings, refusals and exit codes, flash writes,
and what other programs read from its files.

Run as: kqcam_cli_test.py KQCAM_PATH SCRATCH_DIR
"""

import os
import re
import resource
import signal
import subprocess
import sys
import unittest

import numpy
import tifffile
from PIL import Image

KQCAM = ""
SCRATCH = ""


def kqcam(*arguments, env=None, preexec_fn=None, cwd=None):
    return subprocess.run([KQCAM, *arguments], capture_output=True, text=True, check=False,
                          env=env, preexec_fn=preexec_fn, cwd=cwd or SCRATCH, timeout=120)


def scratch(name):
    path = os.path.join(SCRATCH, name)
    for leftover in (path, path + ".partial"):
        if os.path.exists(leftover):
            os.remove(leftover)
    return path


def interrupt_once(arguments, ready):
    """Runs kqcam, sends Ctrl-C once its stderr matched `ready`; exit code and stderr."""
    run = subprocess.Popen([KQCAM, *arguments], stderr=subprocess.PIPE, text=True,
                           stdout=subprocess.PIPE, cwd=SCRATCH)
    seen = ""
    while not re.search(ready, seen):
        char = run.stderr.read(1)
        if char == "":
            raise AssertionError("kqcam ended before %r: %s" % (ready, seen))
        seen += char
    run.send_signal(signal.SIGINT)
    out, rest = run.communicate(timeout=60)
    return run.returncode, out, seen + rest


class Recording(unittest.TestCase):
    def test_without_output_nothing_is_written(self):
        before = set(os.listdir(SCRATCH))
        done = kqcam("stream", "--frames", "2", "--exposure", "10000")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertNotIn("wrote", done.stdout)
        self.assertEqual(set(os.listdir(SCRATCH)), before)

    def test_a_run_needs_a_positive_stop_condition(self):
        for option in (("--frames", "0"), ("--seconds", "0"), ("--seconds", "-1")):
            done = kqcam("stream", *option, "--output", scratch("never.tif"))
            self.assertEqual(done.returncode, 1, option)
            self.assertIn("must be above 0", done.stderr)
            self.assertFalse(os.path.exists(scratch("never.tif")))

    def test_a_run_without_limit_records_until_ctrl_c_as_bigtiff(self):
        for command in ("stream", "series"):
            path = scratch("endless.tif")
            code, out, err = interrupt_once([command, "--exposure", "10000", "--output", path],
                                            r"written [2-9]")
            self.assertIn("recording until Ctrl-C", err)
            self.assertEqual(code, 130, command)
            with tifffile.TiffFile(path) as tiff:
                self.assertTrue(tiff.is_bigtiff)
                pages = len(tiff.pages)
                self.assertGreaterEqual(pages, 2)
            self.assertIn("wrote %s: %d pages" % (path, pages), out)

    def test_bigtiff_is_chosen_when_the_frames_asked_for_could_pass_4_gb(self):
        # 500 colour frames are 4.3 GB, every second one of them 2.2 GB; Ctrl-C ends both early.
        for every, big in (("1", True), ("2", False)):
            path = scratch("bound.tif")
            code, _, _ = interrupt_once(["stream", "--frames", "500", "--every", every,
                                         "--exposure", "10000", "--output", path],
                                        r"written [1-9]")
            self.assertEqual(code, 130)
            with tifffile.TiffFile(path) as tiff:
                self.assertEqual(tiff.is_bigtiff, big, every)

    def test_a_failed_write_keeps_every_page_written_before_it(self):
        # A file size limit stands in for a full disk: the third page cannot be completed.
        def limit_file_size():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (22_000_000, 22_000_000))
        path = scratch("full.tif")
        done = kqcam("stream", "--frames", "6", "--exposure", "10000", "--output", path,
                     preexec_fn=limit_file_size)
        self.assertEqual(done.returncode, 3)
        self.assertIn("failed after 2 pages; the file keeps those 2", done.stderr)
        with tifffile.TiffFile(path) as tiff:
            frames = tiff.series[0].asarray()
        self.assertEqual(frames.shape, (2, 1040, 1388, 3))
        self.assertTrue(all(frame.mean() > 500 for frame in frames))
        self.assertFalse(os.path.exists(path + ".partial"))

    def test_files_have_the_channels_the_library_delivers(self):
        # The colour camera's mosaic resolution is grey although its depth stays 42.
        path = scratch("mosaic.tif")
        done = kqcam("snap", "--resolution", "2", "--exposure", "10000", "--output", path)
        self.assertEqual(done.returncode, 0, done.stderr)
        image = tifffile.imread(path)
        self.assertEqual(image.shape, (1040, 1388))
        self.assertGreater(image[:, 1000:].mean(), 200)  # no zeros where channels were assumed
        path = scratch("mosaic-stream.tif")
        done = kqcam("series", "--resolution", "2", "--frames", "2", "--exposure", "10000",
                     "--output", path)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(tifffile.imread(path).shape, (2, 1040, 1388))

    def test_the_interpolation_chosen_serves_snaps_runs_and_series_alike(self):
        def image(*arguments):
            path = scratch("interpolated.tif")
            done = kqcam(*arguments, "--exposure", "10000", "--output", path)
            self.assertEqual(done.returncode, 0, done.stderr)
            return tifffile.imread(path).astype(numpy.float64).reshape(1040, 1388, 3)

        blocks = image("snap", "--interpolation", "camera")
        lmmse = image("snap", "--interpolation", "lmmse")
        # Frames differ by their noise; the methods by half a pixel at every edge of the slide.
        for run in ("stream", "series"):
            frame = image(run, "--interpolation", "lmmse", "--frames", "1")
            self.assertLess(abs(frame - lmmse).mean(), 0.5 * abs(frame - blocks).mean(), run)


class Refusals(unittest.TestCase):
    def test_a_refused_setting_names_its_value_and_what_the_camera_accepts(self):
        cases = (
            (("--exposure", "5"), "exposure 5 us refused: this camera takes 400 to 600000000 us "
                                  "in steps of 200"),
            (("--bits", "16"), "bits 16 refused: at resolution 0 this camera takes 14 or 42"),
            (("--binning", "2"), "binning 2 refused: with these settings this camera takes "
                                 "1, 3 or 5"),
            (("--camera", "1", "--resolution", "3"),
             "resolution 3 refused: this camera has 0, 1, 2, 4, 5 or 6"),
            (("--camera", "1", "--bits", "42"), "this camera takes 14 "),
            (("--camera", "1", "--interpolation", "lmmse"),
             "interpolation lmmse refused: this camera takes camera"),
        )
        for options, message in cases:
            done = kqcam("snap", *options, "--output", scratch("refused.tif"))
            self.assertEqual(done.returncode, 1, options)
            self.assertIn(message, done.stderr)
            self.assertIn("(status 8: bad argument", done.stderr)
            self.assertFalse(os.path.exists(scratch("refused.tif")))

    def test_an_output_that_cannot_be_created_is_refused_before_exposing(self):
        # A minute's exposure would run out the timeout if the camera were touched first.
        missing = os.path.join(SCRATCH, "missing", "x.tif")
        for command in (("snap", "--output", missing), ("stream", "--frames", "1", "--output",
                        missing), ("series", "--frames", "1", "--output", missing)):
            done = kqcam(*command, "--exposure", "60000000")
            self.assertEqual(done.returncode, 1, command)
            self.assertIn("no folder", done.stderr)
            self.assertNotIn("exposing", done.stderr)
        done = kqcam("refs", "white", "--exposure", "60000000", "--save", missing)
        self.assertEqual(done.returncode, 1)
        self.assertIn("cannot create " + missing, done.stderr)

    def test_a_read_only_folder_is_refused(self):
        folder = os.path.join(SCRATCH, "read-only")
        os.makedirs(folder, exist_ok=True)
        os.chmod(folder, 0o555)
        # Root writes into any folder of a disk, but not into /proc.
        if os.geteuid() == 0:
            folder = "/proc"
        done = kqcam("snap", "--output", os.path.join(folder, "x.tif"))
        self.assertEqual(done.returncode, 1, done.stderr)
        self.assertIn("cannot create a file in " + folder, done.stderr)

    def test_exit_codes(self):
        self.assertEqual(kqcam("snap", "--bogus").returncode, 1)
        self.assertEqual(kqcam("info", "--camera", "7").returncode, 2)
        # 130 after Ctrl-C: the recordings above, and snap_tiff_test's interrupted exposure.

    def test_an_unknown_driver_is_named_with_the_choices(self):
        done = kqcam("list", env=dict(os.environ, KQFW_DRIVER="simm"))
        self.assertEqual(done.returncode, 2)
        self.assertIn("KQFW_DRIVER=simm names no driver of this build; it takes linux or "
                      "linux-sim or sim", done.stderr)
        listed = kqcam("list")
        self.assertEqual(listed.stdout.count("simulated"), 2, listed.stdout)


def unique_id(test, choice):
    done = kqcam("info", "--camera", choice)
    test.assertEqual(done.returncode, 0, done.stderr)
    return int(re.search(r"unique id\s+(0x[0-9a-f]+)", done.stdout).group(1), 16)


class ChoosingACamera(unittest.TestCase):
    def test_a_camera_is_named_by_place_model_or_unique_id(self):
        self.assertEqual(unique_id(self, "KQM"), unique_id(self, "1"))
        self.assertEqual(unique_id(self, "0x%04x" % unique_id(self, "kqc")), unique_id(self, "0"))
        self.assertEqual(kqcam("info", "--camera", "0x9999").returncode, 2)
        self.assertEqual(kqcam("info", "--camera", "first").returncode, 1)

    # A sanitizer build's library cannot be loaded into a plain interpreter.
    @unittest.skipUnless(os.environ.get("KQFW_LIBRARY"), "no plain build's library for Python")
    def test_kqcam_and_python_open_the_same_camera_for_each_name(self):
        import kqfw  # the package of this source tree, with the library under test

        def unique_id_of(choice):
            return unique_id(self, choice)

        listed = kqfw.cameras()
        self.assertEqual([unique_id_of(str(info.position)) for info in listed],
                         [info.serial for info in listed])
        for model in ("KQC", "kqm"):
            with kqfw.Camera(model=model) as cam:
                self.assertEqual(unique_id_of(model), cam.serial)
        with kqfw.Camera(serial=listed[1].serial) as cam:
            self.assertEqual(unique_id_of("0x%04x" % listed[1].serial), cam.serial)


class FlashWrites(unittest.TestCase):
    def test_calibration_load_takes_only_a_block_and_asks_first(self):
        wrong = scratch("wrong.cal")
        with open(wrong, "wb") as f:
            f.write(b"\0" * 1000)
        done = kqcam("calibration", "load", wrong, "--yes")
        self.assertEqual(done.returncode, 1)
        self.assertIn("holds 1000 bytes; a calibration file", done.stderr)
        saved = scratch("saved.cal")
        self.assertEqual(kqcam("calibration", "save", saved).returncode, 0)
        done = kqcam("calibration", "load", saved)
        self.assertEqual(done.returncode, 1)
        self.assertIn("add --yes", done.stderr)
        self.assertEqual(kqcam("calibration", "load", saved, "--yes").returncode, 0)

    def test_firmware_text_that_yields_no_byte_is_refused(self):
        text = scratch("lf.txt")
        with open(text, "wb") as f:
            f.write(b"00000001\n00000010\n")
        done = kqcam("firmware", text, "--yes")
        self.assertEqual(done.returncode, 1)
        self.assertIn("yields no firmware byte: its lines end in LF alone", done.stderr)
        self.assertNotIn("writing", done.stdout)


class FilesOtherProgramsRead(unittest.TestCase):
    def test_a_recording_carries_its_display_range_times_and_frames(self):
        path = scratch("meta.tif")
        done = kqcam("stream", "--frames", "3", "--exposure", "10000", "--output", path)
        self.assertEqual(done.returncode, 0, done.stderr)
        with tifffile.TiffFile(path) as tiff:
            self.assertFalse(tiff.is_bigtiff)  # three frames fit a classic TIFF
            ij = tiff.imagej_metadata
            pages = list(tiff.pages)
            for page in pages:
                self.assertEqual(page.tags["MinSampleValue"].value, (0, 0, 0))
                self.assertEqual(page.tags["MaxSampleValue"].value, (16383,) * 3)
                self.assertRegex(page.tags["DateTime"].value,
                                 r"^\d{4}:\d\d:\d\d \d\d:\d\d:\d\d$")
            later = [dict(line.split("=", 1) for line in p.description.split())
                     for p in pages[1:]]
        self.assertEqual((ij["min"], ij["max"], ij["unit"], ij["frames"]), (0, 16383, "pixel", 3))
        self.assertGreater(ij["finterval"], 0)
        self.assertEqual((ij["model"], ij["bits"], ij["frame"]), ("KQC", 42, 0))
        self.assertEqual(ij["processing"],
                         "blemish_correction,colour_interpolation,white_balance")
        self.assertEqual([int(p["frame"]) for p in later], [1, 2])
        self.assertTrue(0 < float(later[0]["time_s"]) < float(later[1]["time_s"]))

    def test_references_and_scaling_applied_are_recorded(self):
        black = scratch("meta.black")
        self.assertEqual(kqcam("refs", "black", "--camera", "1", "--save", black,
                               "--scene", "dark").returncode, 0)
        path = scratch("meta-ref.tif")
        done = kqcam("snap", "--camera", "1", "--black-ref", black, "--scale16",
                     "--output", path)
        self.assertEqual(done.returncode, 0, done.stderr)
        with tifffile.TiffFile(path) as tiff:
            ij = tiff.imagej_metadata
            self.assertEqual(tiff.pages[0].tags["MaxSampleValue"].value, 65532)
        self.assertEqual(ij["black_ref"], black)
        self.assertEqual(ij["max"], 65532)
        self.assertEqual(ij["processing"], "black_reference,blemish_correction,scale16")

    def test_imagemagick_opens_snapshots_and_every_page_of_a_recording(self):
        colour, grey = scratch("im_colour.tif"), scratch("im_grey.tif")
        self.assertEqual(kqcam("snap", "--exposure", "10000", "--output", colour).returncode, 0)
        self.assertEqual(kqcam("stream", "--camera", "1", "--frames", "3", "--exposure",
                               "10000", "--output", grey).returncode, 0)
        for path, expected in ((colour, ["1388 1040 16 srgb"]),
                               (grey, ["1388 1040 16 gray"] * 3)):
            done = subprocess.run(["/usr/bin/identify", "-format", "%w %h %z %[colorspace]\n",
                                   path], capture_output=True, text=True, check=False)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(done.stdout.lower().split("\n")[:-1], expected, path)

    def test_the_preview_is_stretched_to_the_full_8_bit_range(self):
        path, preview = scratch("dim.tif"), scratch("dim.png")
        # A short exposure leaves the 14-bit image dim: well under a quarter of its range.
        done = kqcam("snap", "--camera", "1", "--exposure", "2000", "--output", path,
                     "--preview", preview)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertLess(tifffile.imread(path).max(), 4096)
        with Image.open(preview) as png:
            self.assertEqual((png.mode, png.size), ("L", (1388, 1040)))
            pixels = numpy.asarray(png)
        self.assertEqual((int(pixels.min()), int(pixels.max())), (0, 255))
        self.assertGreater(pixels.mean(), 40)
        with Image.open(path) as grey:  # Pillow takes the 16-bit grey TIFF as it is
            self.assertEqual(grey.mode, "I;16")


if __name__ == "__main__":
    KQCAM, SCRATCH = sys.argv[1], sys.argv[2]
    os.makedirs(SCRATCH, exist_ok=True)
    unittest.main(argv=sys.argv[:1], verbosity=2)
