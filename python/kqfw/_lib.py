"""Finding and loading the shared library, and calling it."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import pathlib
import sys
import threading

from . import _api
from .errors import LibraryNotFound, error_for

ENVIRONMENT_VARIABLE = "KQFW_LIBRARY"

if sys.platform == "win32":
    _NAMES = ["kqfw64.dll" if sys.maxsize > 2**32 else "kqfw.dll"]
elif sys.platform == "darwin":
    _NAMES = ["libkqfw.dylib"]
else:
    _NAMES = ["libkqfw.so.0", "libkqfw.so"]

_PACKAGE = pathlib.Path(__file__).resolve().parent
# python/kqfw -> the source tree, whose build/ holds a library built by scripts/setup.
_BUILD_TREES = [_PACKAGE.parent.parent / "build" / "src", _PACKAGE.parent.parent / "build"]


def candidates() -> list[str]:
    """Where the library is looked for, in order."""
    found = []
    named = os.environ.get(ENVIRONMENT_VARIABLE)
    if named:
        found.append(named)
    found += [str(_PACKAGE / name) for name in _NAMES]
    try:  # a copy installed by cmake --install knows where the library went
        from ._installed import LIBRARY
        found.append(str(LIBRARY))
    except ImportError:
        pass
    found += [str(tree / name) for tree in _BUILD_TREES for name in _NAMES]
    system = ctypes.util.find_library("kqfw")
    found.append(system if system else _NAMES[0])
    return found


def _load() -> ctypes.CDLL:
    tried = []
    for path in candidates():
        if os.sep in path and not os.path.exists(path):
            tried.append(f"{path} (no such file)")
            continue
        try:
            library = ctypes.CDLL(path)
        except OSError as error:
            tried.append(f"{path} ({error})")
            continue
        _declare(library)
        return library
    raise LibraryNotFound(
        "the kqfw library was not found; set KQFW_LIBRARY to its path, or build it with "
        "scripts/setup. Tried:\n  " + "\n  ".join(tried))


def _declare(library: ctypes.CDLL) -> None:
    missing = []
    for name, (result, arguments) in _api.FUNCTIONS.items():
        try:
            function = getattr(library, name)
        except AttributeError:
            missing.append(name)
            continue
        function.restype = result
        function.argtypes = arguments
    if missing:
        raise LibraryNotFound(f"{library._name} lacks {len(missing)} exports, such as "
                              f"{missing[0]}: it is not a kqfw library of this version")


_library: ctypes.CDLL | None = None
_lock = threading.Lock()


def lib() -> ctypes.CDLL:
    """The loaded library, loaded on first use."""
    global _library
    if _library is None:
        with _lock:
            if _library is None:
                _library = _load()
                _install_sink(_library)
    return _library


# The library's newest report per thread, so an exception can carry the text that explains it.
_reports = threading.local()


def _sink(text: bytes, _user: int) -> None:
    _reports.last = text.decode("cp1252", "replace")


_SINK = _api.KqfwMessageSink(_sink)


def _install_sink(library: ctypes.CDLL) -> None:
    library.kqfwSetMessageSink(_SINK, None)


def take_report() -> str | None:
    """The library's newest report on this thread since the last call, if any."""
    text = getattr(_reports, "last", None)
    _reports.last = None
    return text


def check(status: int, call: str) -> None:
    """Raises the matching error when `status` is not 0."""
    if status != 0:
        raise error_for(status, call, status_text(status), take_report())


def status_text(status: int) -> str:
    return str(lib().kqfwStatusText(ctypes.c_uint32(status & 0xFFFFFFFF).value).decode())
