"""kqcam snap's files as other programs read them: libtiff's tiffinfo and Python's tifffile.

Run as: snap_tiff_test.py KQCAM_PATH SCRATCH_DIR
"""

import os
import re
import signal
import subprocess
import sys
import unittest

import numpy
import tifffile

KQCAM = ""
SCRATCH = ""


def snap(name, *options):
    path = os.path.join(SCRATCH, name)
    if os.path.exists(path):
        os.remove(path)
    done = subprocess.run([KQCAM, "snap", "--output", path, *options],
                          capture_output=True, text=True, check=False)
    return path, done


def description_fields(page):
    return dict(item.split("=", 1) for item in page.description.split())


class SnapFiles(unittest.TestCase):
    def test_colour_image_is_rgb_16_bit_with_its_settings_described(self):
        path, done = snap("colour.tif", "--camera", "0", "--exposure", "30000", "--gain", "3")
        self.assertEqual(done.returncode, 0, done.stderr)
        info = subprocess.run(["tiffinfo", path], capture_output=True, text=True, check=True)
        self.assertIn("Image Width: 1388 Image Length: 1040", info.stdout)
        self.assertIn("Bits/Sample: 16", info.stdout)
        self.assertIn("Samples/Pixel: 3", info.stdout)
        self.assertIn("RGB color", info.stdout)
        self.assertRegex(info.stdout, r"Software: kqcam \d+\.\d+\.\d+")
        with tifffile.TiffFile(path) as tiff:
            page = tiff.pages[0]
            image = page.asarray()
            fields = description_fields(page)
        self.assertEqual(image.shape, (1040, 1388, 3))
        self.assertEqual(image.dtype, numpy.uint16)
        self.assertLessEqual(int(image.max()), 16383)  # 14-bit samples unless asked to scale
        self.assertGreater(int(image.max()), 0)
        self.assertEqual(fields["model"], "KQC")
        self.assertEqual(fields["exposure_us"], "30000")
        self.assertEqual(fields["gain"], "3")
        self.assertEqual(fields["resolution"], "0")
        self.assertEqual(fields["bits"], "42")
        self.assertRegex(fields["serial"], r"0x[0-9a-f]{4}")

    def test_red_and_blue_land_in_the_channels_tiff_readers_expect(self):
        # A factor's gain is its inverse: (1, 4, 4) lifts red fourfold above blue, (4, 4, 1)
        # the reverse. A swap of the library's blue-green-red order would show here.
        means = {}
        for name, factors in (("reddish", ("1", "4", "4")), ("bluish", ("4", "4", "1"))):
            path, done = snap(name + ".tif", "--camera", "0", "--exposure", "10000",
                              "--white-balance", *factors)
            self.assertEqual(done.returncode, 0, done.stderr)
            image = tifffile.imread(path).astype(numpy.float64)
            means[name] = image[..., 0].mean(), image[..., 2].mean()
        red, blue = means["reddish"]
        self.assertGreater(red, 2 * blue)
        red, blue = means["bluish"]
        self.assertGreater(blue, 2 * red)

    def test_binned_mono_image_scaled_to_16_bits(self):
        path, done = snap("mono.tif", "--camera", "1", "--binning", "2", "--exposure", "20000",
                          "--scale16")
        self.assertEqual(done.returncode, 0, done.stderr)
        # Binning 2 keeps whole groups of eight sensor columns: 1384 of the 1388.
        self.assertIn("692 x 520, grey", done.stdout)
        with tifffile.TiffFile(path) as tiff:
            page = tiff.pages[0]
            image = page.asarray()
            fields = description_fields(page)
        self.assertEqual(image.shape, (520, 692))
        self.assertEqual(image.dtype, numpy.uint16)
        self.assertEqual(page.photometric, tifffile.PHOTOMETRIC.MINISBLACK)
        self.assertTrue(numpy.all(image % 4 == 0))
        self.assertEqual(fields["model"], "KQM")
        self.assertEqual(fields["binning"], "2")

    def test_interrupted_exposure_exits_non_zero_and_leaves_no_file(self):
        path = os.path.join(SCRATCH, "interrupted.tif")
        run = subprocess.Popen([KQCAM, "snap", "--camera", "0", "--exposure", "60000000",
                                "--output", path], stderr=subprocess.PIPE, text=True)
        # The bar appears once the exposure runs; interrupting then must abort it.
        seen = ""
        while "exposing [" not in seen:
            char = run.stderr.read(1)
            self.assertNotEqual(char, "", "snap ended before its exposure started")
            seen += char
        run.send_signal(signal.SIGINT)
        rest = run.stderr.read()
        run.stderr.close()
        self.assertEqual(run.wait(timeout=60), 130)
        self.assertRegex(rest, re.compile(r"aborted \(status 4: aborted by the application"))
        self.assertFalse(os.path.exists(path))
        self.assertFalse(os.path.exists(path + ".partial"))


class ReferenceFiles(unittest.TestCase):
    def test_saved_references_flatten_a_flat_field_snap(self):
        black = os.path.join(SCRATCH, "mono.black")
        white = os.path.join(SCRATCH, "mono.white")
        for kind, path, options in (("black", black, ["--scene", "dark"]),
                                    ("white", white, ["--scene", "flat", "-e", "100000"])):
            done = subprocess.run([KQCAM, "refs", kind, "--camera", "1", "--save", path, *options],
                                  capture_output=True, text=True, check=False)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertIn("saved the %s reference" % kind, done.stdout)
        spreads = {}
        for name, options in (("plain", []), ("flattened", ["--black-ref", black,
                                                            "--white-ref", white])):
            path, done = snap(name + ".tif", "--camera", "1", "--scene", "flat", "-e", "100000",
                              *options)
            self.assertEqual(done.returncode, 0, done.stderr)
            image = tifffile.imread(path).astype(numpy.float64)
            spreads[name] = image.std() / image.mean()
        # Vignetting and pixel gain spread 5 % of a flat field; the references leave its noise.
        self.assertGreater(spreads["plain"], 0.04)
        self.assertLess(spreads["flattened"], 0.015)

    def test_a_failed_measurement_says_why_in_words(self):
        done = subprocess.run([KQCAM, "refs", "white", "--camera", "1", "--scene", "dark",
                               "--save", os.path.join(SCRATCH, "dark.white")],
                              capture_output=True, text=True, check=False)
        self.assertEqual(done.returncode, 3)
        self.assertIn("(status 14: white reference too dark)", done.stderr)

    def test_a_reference_file_of_another_size_is_refused(self):
        wrong = os.path.join(SCRATCH, "short.white")
        with open(wrong, "wb") as f:
            f.write(b"\0" * 1000)
        path, done = snap("refused.tif", "--camera", "1", "--white-ref", wrong)
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("holds 1000 bytes", done.stderr)
        self.assertFalse(os.path.exists(path))


if __name__ == "__main__":
    KQCAM, SCRATCH = sys.argv[1], sys.argv[2]
    os.makedirs(SCRATCH, exist_ok=True)
    unittest.main(argv=sys.argv[:1], verbosity=2)
