"""Streaming: ordered frames, losses reported, the two queue modes."""

import kqfw.sim as sim


def test_every_mode_delivers_frames_in_order_and_reports_a_lost_one(mono):
    sim.set_time_scale(0.01)
    sim.drop_frame(0, 4)
    with mono.stream(mode="every", queue_size=4) as frames:
        images = [image for _, image in zip(range(8), frames)]
    statistics = frames.statistics  # after the run: a frame is counted once its callback returned
    indexes = [image.meta.frame_index for image in images]
    assert indexes == sorted(set(indexes))
    assert all(image.shape == (1040, 1388) for image in images)
    assert statistics.frames_lost >= 1
    assert statistics.frames_delivered >= len(images) + statistics.frames_dropped_by_queue


def test_latest_mode_keeps_only_the_newest_frame(colour):
    with colour.stream(mode="latest") as frames:
        indexes = [image.meta.frame_index for _, image in zip(range(6), frames)]
    statistics = frames.statistics
    assert indexes == sorted(set(indexes))
    assert statistics.frames_delivered >= len(indexes) + statistics.frames_dropped_by_queue
    assert colour.snap().shape == colour.image_shape  # the run is over


def test_an_unplugged_camera_ends_the_iteration(mono):
    with mono.stream() as frames:
        next(frames)
        sim.unplug(0)
        remaining = list(frames)  # ends instead of waiting for ever
    assert all(image.shape == (1040, 1388) for image in remaining)


def test_a_stream_iterated_without_with_ends_its_run_when_the_loop_is_left(mono):
    for image in mono.stream():
        assert image.shape == (1040, 1388)
        break
    assert not mono.statistics.running and sim.bandwidth_in_use() == 0
    images = mono.stream()
    next(images)
    del images  # a dropped stream, as a generator that wraps it is dropped
    assert not mono.statistics.running
    assert mono.snap().shape == (1040, 1388)


def test_a_stream_iterated_without_with_ends_when_the_camera_ends_the_run(mono):
    frames = mono.stream()
    next(frames)
    sim.unplug(0)
    assert all(image.shape == (1040, 1388) for image in frames)
    assert not mono.statistics.running


def test_a_streams_frames_follow_the_cameras_interpolation(colour):
    sim.set_noise(0, False)
    colour.region = (0, 0, 256, 128)
    for method in ("lmmse", "camera"):
        colour.colour_interpolation = method
        single = colour.snap()
        with colour.stream() as frames:
            image = next(frames)
        assert (image == single).all(), method
    assert not (image == _lmmse_of(colour)).all()


def _lmmse_of(camera):
    camera.colour_interpolation = "lmmse"
    return camera.snap()
