"""The simulated bench that stands in for the camera driver and the cameras.

Without camera hardware the library talks to this bench: by default one colour (KQC) and one
monochrome (KQM) camera under a test slide. Tests and demos build their own benches, put any
numpy image under the cameras, switch noise off, dim the lamp, lose frames and inject driver
faults, and read back what reached the cameras. Camera ids are the cameras' places in the bus
listing, from 0 (not the library's slots). Reset the bench only while no camera is open.
"""

from __future__ import annotations

from ctypes import byref, c_uint32
from typing import Any

import numpy as np
import numpy.typing as npt

from . import _api
from ._lib import lib
from .errors import BadArgument

MODELS = {"KQC": 0, "KQM": 1, "foreign": 2}
SCENES = {"slide": 0, "flat": 1, "dark": 2}


def _ok(result: int, call: str) -> int:
    if result < 0:
        raise BadArgument(8, call, "the bench refused it (no such camera or a bad value)")
    return result


def reset(default: bool = True) -> None:
    """Back to the default bench, or (default=False) an empty one; clears every fault."""
    if default:
        lib().kqsimResetDefault()
    else:
        lib().kqsimReset()


def add_camera(model: str = "KQC", **fields: Any) -> int:
    """Adds a camera at the end of the bus listing and returns its id. `fields` override the
    model's defaults by the configuration's names (uniqueIdLow, firmwareVersion, maxWidth,
    maxHeight, modeWidth, modeHeight, packingCapable, gain, ...); `blemishes` is a list of
    pixel positions (y x width + x) or [] for none."""
    config = _api.KqsimCameraConfig()
    lib().kqsimDefaultConfig(MODELS[model], byref(config))
    keep = []
    if "blemishes" in fields:
        positions = (c_uint32 * max(1, len(fields["blemishes"])))(*fields.pop("blemishes"))
        keep.append(positions)
        config.blemishCount = len(positions) if positions[0] or len(positions) > 1 else 0
        config.blemishPositions = positions
        config.markedPixelCount = 0
    for name, value in fields.items():
        if not hasattr(config, name):
            raise TypeError(f"no camera field {name!r}")
        setattr(config, name, value)
    return _ok(lib().kqsimAddCamera(byref(config)), "kqsimAddCamera")


def camera_count() -> int:
    return int(lib().kqsimCameraCount())


def unplug(camera: int) -> None:
    """Takes a camera off the bus: acquisitions on it fail, it leaves the listing."""
    _ok(lib().kqsimUnplug(camera), "kqsimUnplug")


def bus_reset() -> None:
    lib().kqsimBusReset()


def set_time_scale(scale: float) -> None:
    """1.0 real time; 0 as fast as the bench renders."""
    lib().kqsimSetTimeScale(float(scale))


def set_scene(scene: str | npt.ArrayLike, level: float = 1.0) -> None:
    """What lies under every camera: "slide", "flat" (uniform at `level`, white = 1), "dark",
    or a numpy image — H x W grey or H x W x 3 RGB, uint16 (65535 white) or float (1.0
    white) — stretched over each sensor, and seen like the slide: blurred by the optics and
    gathered over each pixel's area."""
    if isinstance(scene, str):
        _ok(lib().kqsimSetScene(SCENES[scene], float(level), None, 0, 0, 0), "kqsimSetScene")
        return
    image = np.asarray(scene)
    if image.dtype.kind == "f":
        image = np.clip(image, 0.0, 1.0) * 65535.0 + 0.5
    image = image.astype(np.uint16)
    if image.ndim == 3 and image.shape[2] == 3:
        image = image[..., ::-1]  # the bench takes blue, green, red
    elif image.ndim != 2:
        raise BadArgument(8, "set_scene", "a scene is H x W or H x W x 3")
    image = np.ascontiguousarray(image)
    channels = 3 if image.ndim == 3 else 1
    _ok(lib().kqsimSetScene(3, float(level), image.ctypes.data, image.shape[1], image.shape[0],
                            channels), "kqsimSetScene")


def set_noise(camera: int, on: bool) -> None:
    """Noise off makes a frame an exact function of scene and settings."""
    _ok(lib().kqsimSetNoise(camera, 1 if on else 0), "kqsimSetNoise")


def set_illumination(camera: int, level: float = 1.0, drift_per_shot: float = 0.0) -> None:
    _ok(lib().kqsimSetIllumination(camera, float(level), float(drift_per_shot)),
        "kqsimSetIllumination")


def trigger(camera: int) -> None:
    """One pulse on the camera's trigger input."""
    _ok(lib().kqsimTrigger(camera), "kqsimTrigger")


def drop_frame(camera: int, nth: int) -> None:
    """Loses the camera's nth frame from now (from 1) on the bus."""
    _ok(lib().kqsimDropFrame(camera, nth), "kqsimDropFrame")


def delay_frame(camera: int, nth: int, delay_ms: int) -> None:
    _ok(lib().kqsimDelayFrame(camera, nth, delay_ms), "kqsimDelayFrame")


def fail_request(code: int, nth: int = 0, error: int = 31) -> None:
    """Fails the nth driver request of a control code from now (0: every one)."""
    lib().kqsimFailRequest(code, nth, error)


def fail_register(camera: int, address: int, access: str = "rw", error: int = 31) -> None:
    kinds = (1 if "r" in access else 0) | (2 if "w" in access else 0)
    _ok(lib().kqsimFailRegister(camera, address, kinds, error), "kqsimFailRegister")


def clear_faults() -> None:
    lib().kqsimClearFaults()


def ground_truth(camera: int, region: tuple[int, int, int, int], scale: int = 1,
                 colour: bool = True) -> npt.NDArray[np.uint16]:
    """The scene as a perfect camera shows it at `scale` (1 to 12) times the sensor
    resolution, over `region` (left, top, width, height) of that grid: 14-bit samples, RGB
    (H x W x 3) for a colour camera, grey (H x W) for a monochrome one (`colour` says which
    the camera is)."""
    left, top, width, height = (int(v) for v in region)
    # Room for colour either way, so a wrong `colour` gives wrong numbers, never an overrun.
    out = np.empty(height * width * 3, dtype=np.uint16)
    _ok(lib().kqsimGroundTruth(camera, scale, left, top, width, height, out.ctypes.data),
        "kqsimGroundTruth")
    if colour:
        return out.reshape(height, width, 3)[..., ::-1].copy()
    return out[:height * width].reshape(height, width).copy()


def last_frame(camera: int) -> npt.NDArray[np.uint16]:
    """The last frame the camera read out, as 14-bit samples before its transfer coding."""
    width, height = c_uint32(), c_uint32()
    count = lib().kqsimLastFrame(camera, None, 0, byref(width), byref(height))
    out = np.zeros(max(count, 0), dtype=np.uint16)
    if count > 0:
        lib().kqsimLastFrame(camera, out.ctypes.data, count, byref(width), byref(height))
    return out.reshape(height.value, width.value) if count > 0 else out


def open_handles() -> int:
    return int(lib().kqsimOpenHandles())


def bandwidth_in_use() -> int:
    return int(lib().kqsimBandwidthInUse())
