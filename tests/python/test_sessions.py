"""Opening and closing as applications do: with blocks, failures, threads, the front doors."""

import importlib.util
import os
import pathlib
import subprocess
import sys
import threading

import numpy as np
import pytest
import tifffile

import kqfw
import kqfw.sim as sim

ROOT = pathlib.Path(__file__).resolve().parents[2]


def test_a_failing_with_block_closes_the_camera():
    with pytest.raises(RuntimeError):
        with kqfw.Camera(0) as cam:
            cam.exposure_us = 20000
            raise RuntimeError("the application failed")
    assert cam.closed and sim.open_handles() == 0
    with kqfw.Camera(0) as again:
        assert again.serial == cam.serial


def test_cameras_are_listed_closed_and_chosen_by_place_serial_or_model_as_listed():
    listed = kqfw.cameras()
    assert [(info.position, info.model, info.simulated) for info in listed] == [
        (0, "KQC", True), (1, "KQM", True)]
    assert sim.open_handles() == 0  # listing leaves the cameras closed
    with kqfw.Camera(0) as cam:
        assert [info.slot for info in kqfw.cameras()] == [0, None]
        assert cam.info == kqfw.cameras()[0]
    with kqfw.Camera(1) as mono:  # the list's second camera, though slot 0 is free
        assert mono.model == "KQM" and mono.index == 1
        assert [info.slot for info in kqfw.cameras()] == [None, 1]
        with kqfw.Camera(model="kqc") as colour:
            assert colour.serial == listed[0].serial
        with kqfw.Camera(serial=listed[0].serial) as colour:
            assert colour.model == "KQC"
        with pytest.raises(kqfw.Busy, match="already open in this process"):
            kqfw.Camera(serial=mono.serial)
        for wrong in ({"place": 2}, {"serial": 0x9999}, {"model": "KQX"}):
            with pytest.raises(kqfw.NoCamera):
                kqfw.Camera(**wrong)
        with pytest.raises(TypeError):
            kqfw.Camera(0, model="KQC")


def test_two_threads_take_images_on_two_cameras_at_once():
    results = {}

    def work(cam):
        shapes = []
        while len(shapes) < 3:
            try:
                shapes.append(cam.snap().shape)
            except kqfw.CameraIOError as error:
                # Each camera streams at the bus's full packet size, so while one receives the
                # other is refused its bandwidth, cleanly, is told why, and tries again.
                assert error.status == 22 and "another camera on this bus" in str(error)
        results[cam.model] = shapes

    with kqfw.Camera(0) as colour, kqfw.Camera(1) as mono:
        for cam in (colour, mono):
            cam.region = (0, 0, 600, 400)
        threads = [threading.Thread(target=work, args=(cam,)) for cam in (colour, mono)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    assert results == {"KQC": [(400, 600, 3)] * 3, "KQM": [(400, 600)] * 3}


def run(*arguments, cwd=None):
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    return subprocess.run([sys.executable, *arguments], capture_output=True, text=True,
                          env=environment, cwd=cwd, check=False)


def test_the_example_script_runs():
    done = run(str(ROOT / "python" / "examples" / "snapshot_demo.py"))
    assert done.returncode == 0, done.stderr
    assert "done" in done.stdout


def test_the_readmes_python_example_works_as_written(capsys):
    readme = (ROOT / "README.md").read_text()
    example = readme.split("```python\n", 1)[1].split("```", 1)[0]
    exec(compile(example, "README.md", "exec"), {})
    assert "(1040, 1388, 3) 20000" in capsys.readouterr().out


def test_a_camera_nobody_holds_is_closed_so_the_slot_opens_again():
    import gc
    cam = kqfw.Camera(0)
    serial = cam.serial
    del cam
    gc.collect()
    assert sim.open_handles() == 0
    cam = kqfw.Camera(0)  # a notebook cell run again
    assert cam.serial == serial
    frames = cam.stream()
    next(frames)
    del cam, frames  # a camera dropped in the middle of a run
    gc.collect()
    assert sim.open_handles() == 0 and sim.bandwidth_in_use() == 0


def test_ctrl_c_during_a_long_snap_aborts_it_and_raises_keyboard_interrupt(colour, monkeypatch):
    import signal
    ignored = []
    monkeypatch.setattr(sys, "unraisablehook", ignored.append)
    sim.set_time_scale(1)
    colour.exposure_us = 600_000_000
    started = threading.Event()
    main = threading.get_ident()

    def press_ctrl_c():
        # Arrives while the library waits in C, as a key press does.
        started.wait()
        signal.pthread_kill(main, signal.SIGINT)

    presser = threading.Thread(target=press_ctrl_c)
    presser.start()
    with pytest.raises(KeyboardInterrupt):
        colour.snap(progress=lambda done, total: started.set())
    presser.join()
    assert ignored == []
    assert signal.getsignal(signal.SIGINT) is signal.default_int_handler
    sim.set_time_scale(0)
    colour.exposure_us = 20000
    assert colour.snap().shape == colour.image_shape


def test_python_dash_m_snap_writes_the_format_its_extension_names_and_explains_a_refusal(
        tmp_path):
    tiff = run("-m", "kqfw", "snap", str(tmp_path / "out.tiff"), "--exposure-us", "20000")
    assert tiff.returncode == 0, tiff.stderr
    image = tifffile.imread(tmp_path / "out.tiff")
    assert image.shape == (1040, 1388, 3) and image.dtype == np.uint16
    refused = run("-m", "kqfw", "snap", str(tmp_path / "refused.tiff"), "--resolution", "9")
    assert refused.returncode == 1 and "status 8" in refused.stderr
    png = run("-m", "kqfw", "snap", str(tmp_path / "out.PNG"))
    if importlib.util.find_spec("PIL") is None:
        assert png.returncode != 0 and "python3-pil" in png.stderr
    else:
        assert png.returncode == 0, png.stderr
        assert (tmp_path / "out.PNG").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    npy = run("-m", "kqfw", "snap", str(tmp_path / "out.npy"))
    assert npy.returncode == 0, npy.stderr
    assert np.load(tmp_path / "out.npy").shape == (1040, 1388, 3)
    unknown = run("-m", "kqfw", "snap", str(tmp_path / "out.jpg"))
    assert unknown.returncode != 0 and ".tiff" in unknown.stderr
    assert not (tmp_path / "out.jpg").exists()
