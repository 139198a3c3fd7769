"""Single images: what the bench delivered, buffers, channel order, progress and abort."""

import threading

import numpy as np
import pytest

import kqfw
import kqfw.sim as sim


def quiet_mono_bench():
    sim.reset(default=False)
    sim.add_camera("KQM", blemishes=[])
    sim.set_noise(0, False)


def test_a_mono_snap_is_the_frame_the_bench_delivered_of_the_scene():
    quiet_mono_bench()
    rows, columns = np.mgrid[0:260, 0:347]
    scene = ((rows * 7 + columns * 3) % 256 / 255.0) * 0.8
    sim.set_scene(scene)
    with kqfw.Camera(0) as cam:
        cam.packing = False  # 16-bit transfer: the samples travel as the sensor made them
        cam.exposure_us = 50000
        image = cam.snap()
        assert image.shape == (1040, 1388) and image.dtype == np.uint16
        assert np.array_equal(np.asarray(image), sim.last_frame(0))
        truth = sim.ground_truth(0, (0, 0, 1388, 1040), colour=False)
        # Noise off: the frame is the scene at the exposure's scale.
        correlation = np.corrcoef(image.ravel().astype(float), truth.ravel().astype(float))[0, 1]
        assert correlation > 0.99
        assert image.meta.exposure_us == 50000 and image.meta.channel_order == "grey"


def test_out_is_filled_in_place_and_must_fit(colour):
    out = np.zeros(colour.image_shape, dtype=np.uint16)
    image = colour.snap(out=out)
    assert np.shares_memory(image, out) and out.any()
    with pytest.raises(kqfw.BadArgument):
        colour.snap(out=np.zeros((10, 10, 3), dtype=np.uint16))
    with pytest.raises(kqfw.BadArgument):
        colour.snap(out=np.zeros(colour.image_shape, dtype=np.float32))


def test_colour_images_are_rgb_unless_bgr_is_asked(colour):
    sim.set_noise(0, False)
    red = np.zeros((64, 64, 3))
    red[..., 0] = 0.8
    sim.set_scene(red)
    rgb = colour.snap()
    bgr = colour.snap(channel_order="bgr")
    assert rgb[..., 0].mean() > 4 * rgb[..., 2].mean()
    assert np.array_equal(np.asarray(rgb), np.asarray(bgr)[..., ::-1])
    assert rgb.meta.channel_order == "rgb" and bgr.meta.channel_order == "bgr"


def test_progress_reports_and_an_abort_from_another_thread_stops_a_long_exposure(colour):
    sim.set_time_scale(1)
    colour.exposure_us = 30_000_000
    started = threading.Event()
    seen = []

    def progress(done, total):
        seen.append((done, total))
        started.set()

    aborter = threading.Thread(target=lambda: started.wait() and colour.abort())
    aborter.start()
    with pytest.raises(kqfw.Aborted) as caught:
        colour.snap(progress=progress)
    aborter.join()
    assert caught.value.status == 4
    assert seen and seen[0][1] == 30000
    sim.set_time_scale(0)
    colour.exposure_us = 20000
    assert colour.snap().shape == colour.image_shape


def test_an_exception_in_the_progress_hook_comes_out_of_snap(colour):
    class Stop(Exception):
        pass

    def progress(done, total):
        raise Stop()

    sim.set_time_scale(1)
    colour.exposure_us = 3_000_000
    with pytest.raises(Stop):
        colour.snap(progress=progress)
    sim.set_time_scale(0)


def test_multishot_progress_counts_shots_through_a_tqdm_like_hook(colour):
    class Bar:
        total = None
        n = 0

        def update(self, k):
            self.n += k

    sim.set_time_scale(0.01)
    colour.resolution = 4
    colour.region = (0, 0, 400, 400)
    bar = Bar()
    image = colour.snap(progress=bar)
    assert image.shape == (400, 400, 3)
    assert bar.total == 16 and bar.n == 16


def test_references_are_measured_kept_and_restored(mono):
    sim.set_scene("dark")
    mono.measure_black_reference()
    block = mono.black_reference()
    width, height = mono.info.sensor_size
    assert len(block) == (height + 2) * width * 2
    sim.set_scene("flat", 0.8)
    mono.exposure_us = 100000
    mono.measure_white_reference(progress=lambda done, total: None)
    table = mono.white_table
    assert table.shape == (height, width) and 3000 < table.mean() < 6000
    mono.use_black_reference = mono.use_white_reference = True
    flat = mono.snap()
    assert flat.std() < 0.05 * flat.mean()
    mono.restore_black_reference(block)
    with pytest.raises(kqfw.BadArgument):
        mono.restore_black_reference(block[:-2])


def test_calibration_reports_each_round_and_stops_when_asked(mono):
    rounds = []
    mono.resolution = 4
    mono.calibrate(iterations=3, callback=lambda i, n, stats: rounds.append((i, n, stats)) or True)
    assert [(i, n) for i, n, _ in rounds] == [(1, 3)]
    assert len(rounds[0][2]) == 8
    mono.resolution = 0
    with pytest.raises(kqfw.BadArgument):
        mono.calibrate(iterations=1)
    assert mono.readout_time_us > 0
    with pytest.raises(kqfw.BadArgument):
        mono.write_firmware(b"0101\r")  # a CR without LF: the flash is not touched
