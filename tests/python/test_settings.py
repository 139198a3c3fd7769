"""Settings read back from the library, and refused values raise with the library's status."""

import pytest

import kqfw

# property, a value to set, what reading gives back, a value the library refuses
ROUND_TRIPS = [
    ("exposure_us", 12345, 12200, 10),
    ("gain", 37, 37, 256),
    ("blooming_voltage", 63, 63, 64),
    ("binning", 3, 3, 2),
    ("bits", 14, 14, 16),
    ("resolution", 4, 4, 7),
    ("region", (8, 8, 400, 300), (8, 8, 400, 300), (0, 0, 5000, 10)),
    ("frame", (0, 0, 800, 600), (0, 0, 800, 600), None),
    ("frame_delay_us", 1000, 1000, 600000001),
    ("frame_time_us", 1399, 1200, 600000001),
    ("white_balance", (1.2, 1.0, 2.0), (1.2, 1.0, 2.0), (1.0, 0.0, 1.0)),
    ("saturation", (0.5, 0.5, 0.5), (0.5, 0.5, 0.5), None),
    ("colour_processing", True, True, None),
    ("packing", False, False, None),
    ("compression8", True, True, None),
    ("hardware_trigger", True, True, None),
    ("trigger_polarity", 1, 1, None),
    ("overlapped_trigger", True, True, None),
    ("shutter", (False, 0), (False, 0), None),
    ("shutter2", (True, 0, 5), (True, 0, 5), None),
    ("shutter_delay_us", (-2000, 1400), (-2000, 1400), (0, 4096 * 200)),
    ("sharpener", True, True, None),
    ("fading_correction", True, True, None),
    ("multishot_filter", 2, 2, None),
    ("use_black_reference", False, False, True),  # no black reference measured yet
    ("colour_interpolation", "lmmse", "lmmse", "bilinear"),
]


@pytest.mark.parametrize("name, value, expected, refused", ROUND_TRIPS,
                         ids=[row[0] for row in ROUND_TRIPS])
def test_setting_round_trips_and_refuses_with_the_librarys_status(colour, name, value,
                                                                  expected, refused):
    setattr(colour, name, value)
    assert getattr(colour, name) == expected
    if refused is not None:
        with pytest.raises(kqfw.BadArgument) as caught:
            setattr(colour, name, refused)
        assert caught.value.status in (5, 8)
        assert getattr(colour, name) == expected  # a refused call changes nothing


def test_settings_follow_the_library_not_a_cache(colour):
    colour.packing = False
    assert colour.exposure_range[2] == 400
    colour.frame_delay_us = 1000  # 2 steps of 400 us: 800 us
    colour.packing = True
    assert colour.frame_delay_us == 400  # the steps stay, the time they mean halves
    colour.bits = 14
    colour.binning = 2
    colour.bits = 42  # the library turns binning 2 into 3
    assert colour.binning == 3


def test_values_the_binding_cannot_pass_are_refused_before_the_call(colour):
    with pytest.raises(kqfw.BadArgument):
        colour.exposure_us = -5
    with pytest.raises(TypeError):
        colour.gain = 2.5


def test_busy_setters_refuse_during_a_run(mono):
    with mono.stream() as frames:
        next(frames)
        with pytest.raises(kqfw.Busy) as caught:
            mono.exposure_us = 20000
        assert caught.value.status == 10
        assert mono.gain == 0  # getters still answer
    mono.exposure_us = 20000


def test_refused_values_name_the_setting_and_the_range_and_a_closed_camera_says_so(colour):
    low, high, step = colour.exposure_range
    with pytest.raises(kqfw.BadArgument) as caught:
        colour.exposure_us = 0
    message = str(caught.value)
    assert "exposure_us = 0" in message and f"{low:,} to {high:,} us" in message
    assert caught.value.status == 8
    for name, value, accepted in (
            ("gain", 256, "the range is 0 to 255"),
            ("blooming_voltage", 64, "the range is 0 to 63"),
            ("binning", 2, "with these settings this camera takes 1, 3 or 5"),
            ("bits", 16, "at resolution 0 this camera takes 14 or 42")):
        with pytest.raises(kqfw.BadArgument) as caught:
            setattr(colour, name, value)
        assert f"{name} = {value} refused ({accepted})" in str(caught.value)
    with kqfw.Camera(model="KQM") as mono:
        with pytest.raises(kqfw.BadArgument, match=r"this camera has 0, 1, 2, 4, 5 or 6\)"):
            mono.resolution = 3
        assert mono.resolution == 0
        with pytest.raises(kqfw.BadArgument) as caught:
            mono.colour_interpolation = "lmmse"
        assert ("colour_interpolation = 'lmmse' refused ('camera', or 'lmmse' on a colour "
                "camera)") in str(caught.value)
        assert caught.value.status == 8 and mono.colour_interpolation == "camera"
    colour.close()
    for use in (lambda: colour.exposure_us, lambda: colour.bits, colour.snap):
        with pytest.raises(kqfw.NoCamera, match="is closed"):
            use()

