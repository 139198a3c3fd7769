"""Cameras: opening, settings, single images, references, calibration and firmware."""

from __future__ import annotations

import atexit
import ctypes
import dataclasses
import contextlib
import os
import signal
import threading
import weakref
from ctypes import byref, c_double, c_uint32, c_void_p
from collections.abc import Iterator
from typing import TYPE_CHECKING, Any, Callable, Generic, TypeVar, overload

import numpy as np
import numpy.typing as npt

from . import _api
from ._lib import check, lib
from .errors import BadArgument, Busy, NoCamera
from .image import Image, Metadata

if TYPE_CHECKING:
    from .stream import Stream

SLOTS = 10


@dataclasses.dataclass(frozen=True)
class CameraInfo:
    """A camera on the bus. `position` is its place in the bus listing (what Camera(n) and
    `kqcam --camera n` open); `slot` is the slot this process holds it in, or None."""

    model: str
    serial: int
    firmware: int
    path: str
    sensor_size: tuple[int, int]
    slot: int | None
    position: int = -1
    simulated: bool = False


@dataclasses.dataclass(frozen=True)
class RunStatistics:
    """What the current or latest continuous run saw (see kqfwGetRunStatistics)."""

    running: bool
    frames_delivered: int
    frames_skipped: int
    frames_lost: int
    latest_frame_index: int
    frames_per_second: float
    frames_dropped_by_queue: int = 0


def _uint(value: int, name: str) -> int:
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
    if value < 0 or value > 0xFFFFFFFF:
        raise BadArgument(8, name, f"{value} is outside 0 to 4294967295")
    return int(value)


def _simulated_paths() -> set[str]:
    path = ctypes.create_string_buffer(256)
    paths = set()
    for k in range(lib().kqsimCameraCount()):
        if lib().kqsimDevicePath(k, path, len(path)) == 0:
            paths.add(path.value.decode("latin-1"))
    return paths


def _describe(slot: int, position: int = -1) -> CameraInfo:
    info = (c_uint32 * 4)()
    check(lib().IxenmInfo(slot, info), "IxenmInfo")
    description = _api.KqfwCameraDescription()
    check(lib().kqfwDescribeCamera(slot, byref(description)), "kqfwDescribeCamera")
    path = description.devicePath.decode("latin-1")
    return CameraInfo(model="KQC" if info[2] else "KQM", serial=info[1], firmware=info[0],
                      path=path, sensor_size=(description.sensorWidth, description.sensorHeight),
                      slot=slot, position=position, simulated=path in _simulated_paths())


def _listing() -> list[_api.KqfwListedCamera]:
    """The bus listing, in the order the library numbers it."""
    count = ctypes.c_int32()
    check(lib().kqfwListCameras(None, 0, byref(count)), "kqfwListCameras")
    listed = (_api.KqfwListedCamera * max(1, count.value))()
    check(lib().kqfwListCameras(listed, count.value, byref(count)), "kqfwListCameras")
    return list(listed[:min(count.value, len(listed))])


# The cameras this process holds, by slot. Weak, so that a camera nobody holds any more (a
# notebook's `del cam`, a rebound name) is collected and its finaliser closes its slot.
_open_slots: "weakref.WeakValueDictionary[int, Camera]" = weakref.WeakValueDictionary()
# Reentrant: a camera's finaliser can run, through the collector, while this thread holds it.
_registry_lock = threading.RLock()


def _release(slot: int) -> None:
    with _registry_lock:
        lib().IxenmClose(slot)


@atexit.register
def _close_all() -> None:
    # A camera left open would otherwise keep its threads streaming while the process ends.
    for camera in list(_open_slots.values()):
        camera.close()


def _free_slot(preferred: int) -> int:
    """`preferred` when this process has it free, else the lowest free slot."""
    held = {listed.slot for listed in _listing()} | set(_open_slots)
    for slot in (preferred, *range(SLOTS)):
        if 0 <= slot < SLOTS and slot not in held:
            return int(slot)
    raise NoCamera(3, "Camera", "every slot of this process is open")


def cameras() -> list[CameraInfo]:
    """Every camera on the bus, in the bus listing's order: the order `kqcam list` shows and
    Camera(n) counts, whichever cameras this process holds. Cameras not held are opened for a
    moment to read their identity; one that cannot be (another program holds it) is left
    out."""
    with _registry_lock:
        found = []
        for position, listed in enumerate(_listing()):
            if listed.slot >= 0:
                found.append(_describe(listed.slot, position))
                continue
            slot = _free_slot(SLOTS - 1)
            if lib().kqfwInitListed(slot, position) != 0:
                continue
            try:
                found.append(dataclasses.replace(_describe(slot, position), slot=None))
            finally:
                lib().IxenmClose(slot)
    return found


def _choose(place: int | None, serial: int | None, model: str | None) -> CameraInfo:
    """The camera of cameras() that a place, a serial or a model names: one rule with kqcam's
    --camera (a model names the first listed camera of that model)."""
    if sum(choice is not None for choice in (place, serial, model)) != 1:
        raise TypeError("name a camera by one of its place, serial= or model=")
    listed = cameras()
    if place is not None:
        if not isinstance(place, int) or isinstance(place, bool):
            raise TypeError(f"a camera's place is an integer, not {type(place).__name__}")
        if not 0 <= place < len(listed):
            raise NoCamera(3, "Camera", f"no camera {place} ({len(listed)} listed)")
        return listed[place]
    if serial is not None:
        for info in listed:
            if info.serial == serial:
                return info
        raise NoCamera(3, "Camera", f"no camera with serial {serial} (0x{serial:04x}) listed")
    assert model is not None
    for info in listed:
        if info.model == model.upper():
            return info
    raise NoCamera(3, "Camera", f"no {model} camera listed (models: KQC colour, KQM mono)")


@contextlib.contextmanager
def _interrupt_aborts(abort: threading.Event) -> Iterator[list[bool]]:
    """While a library call waits, Ctrl-C asks it to abort instead of raising.

    Python runs its SIGINT handler at the next bytecode of the main thread, which during a long
    call is the entry of the next progress callback, before any try block of it: the default
    handler's KeyboardInterrupt would be lost there ("Exception ignored on calling ctypes
    callback") and the call end as merely aborted. This handler only sets `abort`, which the
    callback answers by aborting; the caller raises KeyboardInterrupt once the library has
    finished cleanly. The list yielded holds True once Ctrl-C came."""
    interrupted: list[bool] = []
    if (threading.current_thread() is not threading.main_thread()
            or signal.getsignal(signal.SIGINT) is not signal.default_int_handler):
        yield interrupted  # the application handles SIGINT its own way, or cannot here
        return

    def on_sigint(_signal: int, _frame: object) -> None:
        interrupted.append(True)
        abort.set()

    previous = signal.signal(signal.SIGINT, on_sigint)
    try:
        yield interrupted
    finally:
        signal.signal(signal.SIGINT, previous)


T = TypeVar("T")
Frame = npt.NDArray[np.uint16]


class _Setting(Generic[T]):
    """A camera setting read back from the library on every access. A refused value raises
    BadArgument naming the setting, the value and what the camera accepts (`accepts`, asked
    from the library when the refusal happens)."""

    def __init__(self, getter: Callable[[Camera], T],
                 setter: Callable[[Camera, Any], object] | None = None, doc: str | None = None,
                 accepts: Callable[[Camera], str] | None = None) -> None:
        self.getter, self.setter, self.__doc__ = getter, setter, doc
        self.describe_range = accepts

    def __set_name__(self, owner: type, name: str) -> None:
        self.name = name

    @overload
    def __get__(self, camera: None, owner: type | None = None) -> _Setting[T]: ...

    @overload
    def __get__(self, camera: Camera, owner: type | None = None) -> T: ...

    def __get__(self, camera: Camera | None,
                owner: type | None = None) -> T | _Setting[T]:
        if camera is None:
            return self
        return self.getter(camera)

    def __set__(self, camera: Camera, value: Any) -> None:
        if self.setter is None:
            raise AttributeError(f"{self.name} cannot be set")
        try:
            self.setter(camera, value)
        except BadArgument as error:
            # The library's status says only that a value was refused: say which, and what
            # the camera accepts, asked from the library now.
            accepted = f" ({self.describe_range(camera)})" if self.describe_range else ""
            raise BadArgument(error.status, error.call,
                              f"{self.name} = {value!r} refused{accepted}: {error.text}",
                              error.report) from None


def _flag(get_name: str, set_name: str, doc: str) -> _Setting[bool]:
    def getter(camera: Camera) -> bool:
        value = c_uint32()
        camera._call(get_name, byref(value))
        return bool(value.value)

    def setter(camera: Camera, on: object) -> None:
        camera._call(set_name, 1 if on else 0)

    return _Setting(getter, setter, doc)


def _number(get_name: str, set_name: str | None, doc: str,
            accepts: Callable[[Camera], str] | None = None) -> _Setting[int]:
    def getter(camera: Camera) -> int:
        value = c_uint32()
        camera._call(get_name, byref(value))
        return int(value.value)

    def setter(camera: Camera, value: int) -> None:
        assert set_name is not None
        camera._call(set_name, _uint(value, set_name))

    return _Setting(getter, setter if set_name else None, doc, accepts)


def _from_settings(field: str, set_name: str, doc: str) -> _Setting[bool]:
    """A switch whose value the camera API has no getter for: read through kqfwGetSettings."""

    def getter(camera: Camera) -> bool:
        return bool(getattr(camera._settings(), field))

    def setter(camera: Camera, value: object) -> None:
        camera._call(set_name, 1 if value else 0)

    return _Setting(getter, setter, doc)


def _listed(values: list[int]) -> str:
    """1, 3 or 5."""
    words = [str(v) for v in values]
    return words[0] if len(words) == 1 else ", ".join(words[:-1]) + " or " + words[-1]


def _fixed(text: str) -> Callable[[Camera], str]:
    return lambda _camera: text


class Camera:
    """An open camera: Camera(n) opens the n-th camera of cameras() (the bus listing, as
    `kqcam list` numbers it), Camera(serial=...) the camera of that serial (unique id) and
    Camera(model="KQM") the first listed camera of that model. It takes a slot of this process
    (`index`: slot n when free, else the lowest free one). Use it as a context manager, or call
    close(); it is closed on exit from the `with` block also when an exception (Ctrl-C
    included) leaves it.

    Settings are properties read back from the library on every access. Times are in
    microseconds; images are numpy arrays of 14-bit samples (see snap())."""

    def __init__(self, place: int | None = None, *, serial: int | None = None,
                 model: str | None = None) -> None:
        if place is None and serial is None and model is None:
            place = 0
        self._abort = threading.Event()
        self._frame_callback: Any = None  # kept alive while the library may call it
        with _registry_lock:
            chosen = _choose(place, serial, model)
            if chosen.slot is not None:
                raise Busy(10, "Camera", f"the {chosen.model} camera serial {chosen.serial} is "
                           f"already open in this process (slot {chosen.slot})")
            self.index = _free_slot(chosen.position)
            check(lib().kqfwInitListed(self.index, chosen.position), "kqfwInitListed")
            self._finalizer = weakref.finalize(self, _release, self.index)
            _open_slots[self.index] = self
        self.info = _describe(self.index, chosen.position)

    # -- life ------------------------------------------------------------------------------

    def close(self) -> None:
        """Closes the camera (aborting what it does); closing twice is harmless."""
        with _registry_lock:
            if _open_slots.get(self.index) is self:
                del _open_slots[self.index]
            self._finalizer()

    @property
    def closed(self) -> bool:
        return not self._finalizer.alive

    def __enter__(self) -> "Camera":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "closed" if self.closed else f"slot {self.index}"
        return f"<kqfw.Camera {self.info.model} serial {self.info.serial}, {state}>"

    def _refuse_if_closed(self, name: str) -> None:
        if self.closed:
            raise NoCamera(3, name, f"the camera (serial {self.info.serial}) is closed")

    def _call(self, name: str, *arguments: Any) -> int:
        self._refuse_if_closed(name)
        status = int(getattr(lib(), name)(self.index, *arguments))
        check(status, name)
        return status

    def _settings(self) -> _api.KqfwSettings:
        settings = _api.KqfwSettings()
        self._call("kqfwGetSettings", byref(settings))
        return settings

    # -- identity --------------------------------------------------------------------------

    @property
    def model(self) -> str:
        """"KQC" (colour) or "KQM" (monochrome)."""
        return self.info.model

    @property
    def is_colour(self) -> bool:
        return self.info.model == "KQC"

    @property
    def serial(self) -> int:
        return self.info.serial

    # -- geometry --------------------------------------------------------------------------

    def _get_resolution(self) -> int:
        self._refuse_if_closed("IxenmGetCurrentResolution")
        return int(lib().IxenmGetCurrentResolution(self.index))

    def _accepted(self, values: range, name: str, *arguments: Any) -> str:
        """Which of `values` the library says it has now, through a Has... call."""
        found = []
        for value in values:
            available = c_uint32()
            if getattr(lib(), name)(self.index, value, *arguments, byref(available)) == 0 \
                    and available.value:
                found.append(value)
        return _listed(found) if found else "none"

    def _accepted_resolutions(self) -> str:
        # Setting a resolution only stores it, and a refused one changes nothing: trying each
        # and going back is how the library tells which this model has.
        current, found = self.resolution, []
        for r in range(7):
            if lib().IxenmSetResolution(self.index, r) == 0:
                found.append(r)
        lib().IxenmSetResolution(self.index, current)
        return f"this camera has {_listed(found)}"

    resolution = _Setting(_get_resolution,
                          lambda self, r: self._call("IxenmSetResolution", _uint(r, "resolution")),
                          "Resolution index 0 to 6 (3 to 6 are multi-shot images).",
                          _accepted_resolutions)

    def resolutions(self) -> list[tuple[int, int]]:
        """Image size (width, height) of each resolution index this model has."""
        sizes = []
        for r in range(7):
            if r == 3 and not self.is_colour:
                sizes.append((0, 0))
                continue
            w, h, i = c_uint32(), c_uint32(), c_uint32()
            self._call("IxenmGetResolutionValues", r, byref(w), byref(h), byref(i))
            sizes.append((w.value, h.value))
        return sizes

    def _get_bits(self) -> int:
        self._refuse_if_closed("IxenmGetCurrentBitsPerPixel")
        return int(lib().IxenmGetCurrentBitsPerPixel(self.index))

    bits = _Setting(_get_bits,
                    lambda self, b: self._call("IxenmSetBitsPerPixel", int(b)),
                    "Bits per pixel: 42 (colour, three 14-bit samples) or 14 (one sample).",
                    lambda self: f"at resolution {self.resolution} this camera takes "
                                 f"{self._accepted(range(14, 43, 28), 'IxenmHasBitsPerPixel')}")
    binning = _Setting(_number("IxenmGetCurrentBinning", None, "").getter,
                       lambda self, f: self._call("IxenmSetBinning", int(f)),
                       "Binning factor 1 to 5 (indexes 0 and 1; which ones depends on bits).",
                       lambda self: "with these settings this camera takes "
                                    + self._accepted(range(1, 6), "IxenmHasBinning"))

    def _get_rect(self, name: str) -> tuple[int, int, int, int]:
        rect = (c_uint32 * 4)()
        self._call(name, rect)
        return (rect[0], rect[1], rect[2], rect[3])

    def _set_rect(self, name: str, rect: tuple[int, int, int, int] | None) -> None:
        if rect is None:
            self._call(name, None)
            return
        values = [_uint(v, "rectangle") for v in rect]
        if len(values) != 4:
            raise BadArgument(8, name, "a rectangle is left, top, right, bottom")
        self._call(name, (c_uint32 * 4)(*values))

    region = _Setting(lambda self: self._get_rect("IxenmGetCurrentImageSize"),
                      lambda self, r: self._set_rect("IxenmSetImageSize", r),
                      "Region of interest (left, top, right, bottom) in image pixels, aligned "
                      "by the library; None selects the whole sensor.")
    frame = _Setting(lambda self: self._get_rect("IxenmGetCurrentFrameSize"),
                     lambda self, r: self._set_rect("IxenmSetFrameSize", r),
                     "Sensor area read out (left, top, right, bottom) in sensor pixels.")

    @property
    def image_shape(self) -> tuple[int, ...]:
        """The shape of the images the current settings produce."""
        w, h = c_uint32(), c_uint32()
        self._call("IxenmGetCurrentDataSize", byref(w), byref(h))
        return (h.value, w.value, 3) if self.bits == 42 else (h.value, w.value)

    # -- exposure and sensor -----------------------------------------------------------------

    def _describe_exposure_range(self) -> str:
        low, high, step = self.exposure_range
        return f"the range is {low:,} to {high:,} us in steps of {step} us"

    exposure_us = _number("IxenmGetCurrentExposure", "IxenmSetExposure",
                          "Exposure in microseconds, rounded down to the step.",
                          _describe_exposure_range)

    @property
    def exposure_range(self) -> tuple[int, int, int]:
        """(minimum, maximum, step) of the exposure in microseconds."""
        low, high, step = c_uint32(), c_uint32(), c_uint32()
        self._call("IxenmGetExposureRange", byref(low), byref(high), byref(step))
        return low.value, high.value, step.value

    def set_exposure_sequence(self, times_us: list[int] | tuple[int, ...]) -> None:
        """Exposure sequence of 1 to 5 times for continuous runs (the first is the exposure)."""
        values = [_uint(t, "exposure") for t in times_us]
        array = (c_uint32 * max(1, len(values)))(*values)
        self._call("IxenmSetExposureSequence", len(values), array)

    @property
    def exposure_sequence(self) -> tuple[int, ...]:
        """The exposure followed by the sequence's further times (0 where unused)."""
        return (self.exposure_us, *self._settings().exposureSequence)

    gain = _number("IxenmReadAnalogGain", "IxenmWriteAnalogGain",
                   "Analog gain 0 to 255, relative to the camera's gain when it was opened.",
                   _fixed("the range is 0 to 255"))
    blooming_voltage = _number("IxenmGetBloomingVoltage", "IxenmSetBloomingVoltage",
                               "Anti-blooming voltage code 0 to 63.",
                               _fixed("the range is 0 to 63"))
    frame_delay_us = _Setting(lambda self: int(self._settings().frameDelay),
                              lambda self, t: self._call("IxenmSetFrameDelay",
                                                         _uint(t, "frame delay")),
                              "Pause between the frames of a run, in whole steps.")
    frame_time_us = _Setting(lambda self: int(self._settings().frameTime),
                             lambda self, t: self._call("IxenmSetFrameTime",
                                                        _uint(t, "frame time")),
                             "Frame period of a run, in whole steps.")
    packing = _from_settings("packingEnabled", "IxenmEnablePacking",
                             "12-bit packed transfer (exposure step 200 us; off: 400 us).")
    compression8 = _from_settings("compression8Enabled", "IxenmEnable8bitCompression",
                                  "8-bit compressed transfer.")
    hardware_trigger = _flag("IxenmIsHardwareTriggerEnabled", "IxenmEnableHardwareTrigger",
                             "Wait for a pulse on the trigger input.")
    trigger_polarity = _Setting(lambda self: int(self._settings().triggerPolarity),
                                lambda self, p: self._call("IxenmSetHardwareTriggerPolarity",
                                                           _uint(p, "polarity")),
                                "Edge of the trigger input (0 or 1).", _fixed("it is 0 or 1"))
    overlapped_trigger = _from_settings("overlappedTrigger",
                                        "IxenmEnableOverlappedTriggeredAcquisition",
                                        "Accept a trigger while a frame is read out.")

    @property
    def shutter(self) -> tuple[bool, int]:
        """Shutter output 1: (enabled, polarity). Set with a pair."""
        s = self._settings()
        return bool(s.shutter1Enable), s.shutter1Polarity

    @shutter.setter
    def shutter(self, value: tuple[bool, int]) -> None:
        enable, polarity = value
        self._call("IxenmShutterControl", 1 if enable else 0, _uint(polarity, "polarity"))

    @property
    def shutter2(self) -> tuple[bool, int, int]:
        """Shutter output 2 (TTL): (enabled, polarity, mode bits 26..24 as 0 to 7)."""
        s = self._settings()
        return bool(s.ttl2Enable), s.ttl2Polarity, s.ttl2Bits

    @shutter2.setter
    def shutter2(self, value: tuple[bool, int, int]) -> None:
        enable, polarity, bits = value
        bits = _uint(bits, "bits")
        self._call("IxenmShutterControlTTLOut2", 1 if enable else 0, _uint(polarity, "polarity"),
                   (bits >> 2) & 1, (bits >> 1) & 1, bits & 1)

    @property
    def shutter_delay_us(self) -> tuple[int, int]:
        """(open, close) delays of shutter output 1 in signed microseconds."""
        opening, closing = c_uint32(), c_uint32()
        self._call("IxenmGetCurrentShutterDelay", byref(opening), byref(closing))
        return (ctypes.c_int32(opening.value).value, ctypes.c_int32(closing.value).value)

    @shutter_delay_us.setter
    def shutter_delay_us(self, value: tuple[int, int]) -> None:
        opening, closing = (int(v) for v in value)
        self._call("IxenmSetShutterDelay", opening, closing)

    sharpener = _flag("IxenmIsSharpenerEnabled", "IxenmEnableSharpener",
                      "Sharpen multi-shot images.")
    fading_correction = _flag("IxenmGetCurrentFadingCorrection", "IxenmSetFadingCorrection",
                              "Correct lamp changes between the shots of a multi-shot image.")
    multishot_filter = _number("IxenmGetCurrentMultiShotFilter", "IxenmSetMultiShotFilter",
                               "Multi-shot filter: 0 off, 1 plain, 2 weighted (any other "
                               "non-zero value acts as 1).")

    def set_fading_gain_limit(self, limit: float) -> None:
        """Largest gain of the fading correction (default 5.0; the library keeps it for the
        camera in slot 0 only)."""
        if self.index != 0:
            raise BadArgument(8, "IxenSetFadingCorrectionGainLimit", "only slot 0 has one")
        check(lib().IxenSetFadingCorrectionGainLimit(float(limit)),
              "IxenSetFadingCorrectionGainLimit")

    @property
    def has_calibration(self) -> bool:
        """Whether the current resolution uses the sensor-shift calibration."""
        value = c_uint32()
        self._call("IxenmHasCalibration", byref(value))
        return bool(value.value)

    @property
    def readout_time_us(self) -> int:
        """Time the camera needs beyond the exposure for a frame of the current settings."""
        value = c_uint32()
        self._call("IxenmGetCurrentReadouttime", byref(value))
        return value.value

    # -- colour ------------------------------------------------------------------------------

    @property
    def white_balance(self) -> tuple[float, float, float]:
        """White-balance factors (red, green, blue); a larger factor lowers its colour."""
        values = (c_double(), c_double(), c_double())
        self._call("IxenmGetCurrentWhiteBalance", *(byref(v) for v in values))
        return values[0].value, values[1].value, values[2].value

    @white_balance.setter
    def white_balance(self, factors: tuple[float, float, float]) -> None:
        self._call("IxenmSetWhiteBalance", *(float(f) for f in factors))

    def white_balance_from(self, levels: tuple[float, float, float]) -> None:
        """Balances on the mean (red, green, blue) levels of an area that should be grey."""
        self._call("IxenmSetImageWhiteBalance", *(float(v) for v in levels))

    @property
    def saturation(self) -> tuple[float, float, float]:
        """Colour saturation of red, green and blue (1: the camera's colour matrix)."""
        red, green, blue = self._settings().saturation
        return float(red), float(green), float(blue)

    @saturation.setter
    def saturation(self, values: tuple[float, float, float]) -> None:
        self._call("IxenmSetColorSaturation", *(float(v) for v in values))

    colour_processing = _flag("IxenmIsColorProcessingEnabled", "IxenmEnableColorProcessing",
                              "Apply the colour matrix to colour images.")

    def _get_interpolation(self) -> str:
        value = ctypes.c_int32()
        self._call("kqfwGetColourInterpolation", byref(value))
        return _api.INTERPOLATIONS[value.value]

    def _set_interpolation(self, name: str) -> None:
        if name not in _api.INTERPOLATIONS:
            raise BadArgument(8, "kqfwSetColourInterpolation",
                              f"no interpolation {name!r}")
        self._call("kqfwSetColourInterpolation", _api.INTERPOLATIONS.index(name))

    colour_interpolation = _Setting(
        _get_interpolation, _set_interpolation,
        "How full-size colour images (resolution 0, bits 42, binning 1) are interpolated, also "
        "in streams: 'camera' (the camera API's 2 x 2 blocks, the default) or 'lmmse' "
        "(directional LMMSE: sharper and truer at edges, pixel-centred, about 10 ms a frame).",
        _fixed("'camera', or 'lmmse' on a colour camera"))

    # -- single images -----------------------------------------------------------------------

    def _metadata(self, channel_order: str, frame_index: int | None = None) -> Metadata:
        return Metadata(model=self.model, serial=self.serial, resolution=self.resolution,
                        bits=self.bits, binning=self.binning, region=self.region,
                        exposure_us=self.exposure_us, gain=self.gain,
                        white_balance=self.white_balance,
                        channel_order=channel_order if self.bits == 42 else "grey",
                        frame_index=frame_index)

    def _buffer(self, out: Frame | None, shape: tuple[int, ...]) -> Frame:
        if out is None:
            return np.empty(shape, dtype=np.uint16)
        if (not isinstance(out, np.ndarray) or out.dtype != np.uint16 or out.shape != shape
                or not out.flags.c_contiguous or not out.flags.writeable):
            raise BadArgument(8, "snap", f"out must be a writeable C-contiguous uint16 array "
                                         f"of shape {shape}")
        return out

    def snap(self, out: Frame | None = None, progress: Any = None,
             channel_order: str = "rgb") -> Image:
        """Takes one image with the current settings and returns it as an Image (an ndarray
        H x W x 3 in `channel_order` "rgb" or "bgr" for 42 bits, H x W for 14 bits, uint16).
        `out` reuses an array of exactly that shape. `progress` is a callable(done, total)
        (milliseconds of exposure, or shots of a multi-shot image) or a tqdm-like object
        with `total` and `update(n)`. abort() from another thread, or Ctrl-C, stops it."""
        if channel_order not in ("rgb", "bgr"):
            raise ValueError("channel_order is 'rgb' or 'bgr'")
        shape = self.image_shape
        image = self._buffer(out, shape)
        self._abort.clear()
        raised: list[BaseException] = []
        multishot = self.resolution >= 3
        reported = [0]

        def report(elapsed_ms: int, total_ms: int, _state: int, _user: int) -> int:
            try:
                done, total = elapsed_ms, total_ms
                if multishot:
                    placed, shots = c_uint32(), c_uint32()
                    lib().kqfwGetShotProgress(self.index, byref(placed), byref(shots))
                    done, total = placed.value, shots.value
                if progress is not None:
                    if hasattr(progress, "update"):
                        if total and getattr(progress, "total", None) != total:
                            progress.total = total
                        progress.update(done - reported[0])
                    else:
                        progress(done, total)
                reported[0] = done
            except BaseException as error:  # noqa: B902 - re-raised after the call returns
                raised.append(error)
                return 1
            return 1 if self._abort.is_set() else 0

        callback = _api.ProgressCallbackEx(report)
        with _interrupt_aborts(self._abort) as interrupted:
            status = lib().IxenmAcquisitionEx(self.index, image.ctypes.data, image.nbytes,
                                              callback, 0)
        if interrupted:
            raise KeyboardInterrupt
        if raised:
            raise raised[0]
        check(status, "IxenmAcquisitionEx")
        if progress is not None:
            # The library reports while the camera works; the end is reported here, once.
            report(*self._progress_at_end(multishot), 0, 0)
            if raised:
                raise raised[0]
        if image.ndim == 3 and channel_order == "rgb":
            image[..., [0, 2]] = image[..., [2, 0]]
        return Image(image, self._metadata(channel_order))

    def _progress_at_end(self, multishot: bool) -> tuple[int, int]:
        if multishot:
            return 0, 0  # report() asks the library for the shots
        total = max(1, self.exposure_us // 1000)
        return total, total

    def abort(self) -> None:
        """Asks a snap() under way on another thread to stop (it raises Aborted)."""
        self._abort.set()

    def stream(self, mode: str = "every", queue_size: int = 8,
               channel_order: str = "rgb") -> "Stream":
        """A continuous run as an iterator of Images; see Stream."""
        from .stream import Stream
        return Stream(self, mode=mode, queue_size=queue_size, channel_order=channel_order)

    @property
    def statistics(self) -> RunStatistics:
        """Statistics of the current or latest continuous run."""
        s = _api.KqfwRunStatistics()
        self._call("kqfwGetRunStatistics", byref(s))
        return RunStatistics(bool(s.running), s.framesDelivered, s.framesSkipped, s.framesLost,
                             s.latestFrameIndex, s.framesPerSecond)

    # -- references --------------------------------------------------------------------------

    def _measure(self, name: str, progress: Callable[[int, int], object] | None) -> None:
        raised: list[BaseException] = []

        def report(done: int, total: int, _state: int, _user: int) -> int:
            try:
                if progress is not None:
                    progress(done, total)
            except BaseException as error:  # noqa: B902
                raised.append(error)
                return 1
            return 1 if self._abort.is_set() else 0

        self._abort.clear()
        with _interrupt_aborts(self._abort) as interrupted:
            status = getattr(lib(), name)(self.index, _api.ProgressCallbackEx(report), 0)
        if interrupted:
            raise KeyboardInterrupt
        if raised:
            raise raised[0]
        check(status, name)

    def measure_black_reference(self, progress: Callable[[int, int], object] | None = None
                                ) -> None:
        """Measures the black reference (cover the camera first; takes 3 to 7 s)."""
        self._measure("IxenmCalculateBlackRefEx", progress)

    def measure_white_reference(self, progress: Callable[[int, int], object] | None = None
                                ) -> None:
        """Measures the white reference on an empty, evenly lit field."""
        self._measure("IxenmCalculateWhiteRefEx", progress)

    use_black_reference = _flag("IxenmGetCurrentBlackRef", "IxenmSetBlackRef",
                                "Apply the black reference to images.")
    use_white_reference = _flag("IxenmGetCurrentWhiteRef", "IxenmSetWhiteRef",
                                "Apply the white reference to images.")

    def _sensor_bytes(self, extra_rows: int = 0) -> int:
        width, height = self.info.sensor_size
        return (height + extra_rows) * width * 2

    def black_reference(self) -> bytes:
        """The black reference as a block to keep (restore_black_reference() takes it back)."""
        block = ctypes.create_string_buffer(self._sensor_bytes(2))
        self._call("IxenmSaveBlackRef", block, len(block))
        return block.raw

    def restore_black_reference(self, block: bytes) -> None:
        data = ctypes.create_string_buffer(bytes(block), len(block))
        self._call("IxenmRestoreBlackRef", data, len(block))

    @property
    def white_table(self) -> Frame:
        """The white reference: one gain a sensor pixel, 4096 = 1.0 (H x W uint16)."""
        width, height = self.info.sensor_size
        table = np.empty((height, width), dtype=np.uint16)
        self._call("IxenmGetWhiteTable", table.ctypes.data)
        return table

    @white_table.setter
    def white_table(self, table: npt.ArrayLike) -> None:
        width, height = self.info.sensor_size
        array = np.ascontiguousarray(table, dtype=np.uint16)
        if array.shape != (height, width):
            raise BadArgument(8, "IxenmSetWhiteTable", f"a white table is {height} x {width}")
        self._call("IxenmSetWhiteTable", array.ctypes.data)

    # -- calibration and firmware --------------------------------------------------------------

    def calibrate(self, iterations: int = 3,
                  callback: Callable[[int, int, tuple[float, ...]], object] | None = None
                  ) -> None:
        """Calibrates the sensor shift of the current resolution. `callback(iteration,
        iterations, statistics)` gets each round's eight statistics (see the C header) and
        may return True to stop."""
        raised: list[BaseException] = []

        def report(iteration: int, total: int, statistics: Any, _user: int) -> int:
            try:
                if callback is not None and callback(iteration, total,
                                                     tuple(statistics[k] for k in range(8))):
                    return 1
            except BaseException as error:  # noqa: B902
                raised.append(error)
                return 1
            return 1 if self._abort.is_set() else 0

        self._abort.clear()
        with _interrupt_aborts(self._abort) as interrupted:
            status = lib().IxenmCalibrateEx(self.index, int(iterations),
                                            _api.CalibrationCallback(report), 0)
        if interrupted:
            raise KeyboardInterrupt
        if raised:
            raise raised[0]
        check(status, "IxenmCalibrateEx")

    def save_calibration(self, path: str | os.PathLike[str]) -> None:
        self._call("IxenmSaveCalibration", os.fsencode(path))

    def load_calibration(self, path: str | os.PathLike[str]) -> None:
        self._call("IxenmLoadCalibration", os.fsencode(path))

    def reset_calibration(self) -> None:
        """Back to the factory calibration."""
        self._call("IxenmResetCalibration")

    def write_firmware(self, text: bytes) -> None:
        """Writes a firmware file's bytes to the camera and starts it; reopen afterwards."""
        data = bytes(text)
        self._call("IxenmWriteFirmware", data, len(data))
