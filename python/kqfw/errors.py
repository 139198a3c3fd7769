"""The exceptions of the package: one hierarchy under KqfwError, carrying the library's status."""

from __future__ import annotations


class KqfwError(Exception):
    """A library call failed. `status` is its status code, `text` the code's meaning and
    `report` the library's own message about it, when it gave one."""

    def __init__(self, status: int, call: str, text: str, report: str | None = None):
        self.status = status
        self.call = call
        self.text = text
        self.report = report
        message = f"{call}: status {status}: {text}"
        if report:
            message += f"; the library said: {report}"
        if status in _HINTS:
            message += f" ({_HINTS[status]})"
        super().__init__(message)


# What to do about a status whose text names only the symptom.
_HINTS = {
    22: "another camera on this bus is receiving: each takes the bus's full packet size, so "
        "take the images in turn (catch CameraIOError with status 22 and try again when the "
        "other is done), or put the cameras on separate FireWire cards",
}


class LibraryNotFound(ImportError):
    """The shared library could not be found or is not a kqfw library."""


class NoCamera(KqfwError):
    """No such camera: bad index, camera not open, none free, or the device cannot be opened."""


class Busy(KqfwError):
    """The camera is busy: an acquisition, run, reference measurement or calibration is under
    way, or a prepared stream fixes the setting."""


class BadArgument(KqfwError, ValueError):
    """A value out of range or a setting this camera does not support."""


class Aborted(KqfwError):
    """The acquisition was aborted."""


class BufferTooSmall(KqfwError, ValueError):
    """The image buffer is smaller than the image."""


class ReferenceFailed(KqfwError):
    """A black or white reference could not be measured (too bright or too dark)."""


class CalibrationFailed(KqfwError):
    """The calibration measurement gave no usable result."""


class CameraIOError(KqfwError, OSError):
    """The camera or the bus failed: a register, the stream, a receive or the flash."""


class OutOfMemory(KqfwError, MemoryError):
    """The library or the driver ran out of memory."""


class NotSupported(KqfwError):
    """A feature of other camera families, or firmware too old for it."""


_CLASSES = {
    3: NoCamera, 16: NoCamera, 10: Busy, 8: BadArgument, 5: BadArgument, 19: BadArgument,
    4: Aborted, 6: BufferTooSmall, 12: ReferenceFailed, 13: ReferenceFailed,
    14: ReferenceFailed, 9: CalibrationFailed, 15: NotSupported, 18: NotSupported,
    7: OutOfMemory,
}


def error_for(status: int, call: str, text: str, report: str | None) -> KqfwError:
    """The exception for a status code (CameraIOError for the bus and device codes)."""
    cls = _CLASSES.get(status, CameraIOError if status >= 20 else KqfwError)
    return cls(status, call, text, report)
