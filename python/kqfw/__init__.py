"""kqfw: the Vestrix KQ FireWire microscope cameras (colour KQC, monochrome KQM) from Python.

    import kqfw
    with kqfw.Camera(0) as cam:
        cam.exposure_us = 20000
        image = cam.snap()          # numpy uint16, H x W x 3 RGB (or H x W grey)

The package loads the kqfw shared library through ctypes: from the KQFW_LIBRARY environment
variable, else the package's own folder, else where `cmake --install` put it (a package it
installed records that), else the source tree's build/, else the system's library path. Without camera hardware the library runs the simulated bench (kqfw.sim).
"""

from ._lib import candidates as library_candidates
from ._lib import lib as library
from .camera import Camera, CameraInfo, RunStatistics, cameras
from .errors import (Aborted, BadArgument, Busy, BufferTooSmall, CalibrationFailed,
                     CameraIOError, KqfwError, LibraryNotFound, NoCamera, NotSupported,
                     OutOfMemory, ReferenceFailed)
from .image import Image, Metadata
from .stream import Stream

__version__ = "0.1.0"

__all__ = [
    "Aborted", "BadArgument", "Busy", "BufferTooSmall", "CalibrationFailed", "Camera",
    "CameraIOError", "CameraInfo", "Image", "KqfwError", "LibraryNotFound", "Metadata",
    "NoCamera", "NotSupported", "OutOfMemory", "ReferenceFailed", "RunStatistics", "Stream",
    "cameras", "library", "library_candidates", "library_version",
]


def library_version() -> str:
    """The loaded library's version."""
    return str(library().kqfwVersion().decode())
