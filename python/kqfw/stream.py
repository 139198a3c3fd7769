"""Continuous acquisition as an iterator of images."""

from __future__ import annotations

import collections
import ctypes
import dataclasses
import queue
import threading
import weakref
from collections.abc import Iterator
from ctypes import byref, c_uint32, c_void_p
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing

from . import _api
from ._lib import check, lib
from .image import Image, Metadata

Frame = np.typing.NDArray[np.uint16]

if TYPE_CHECKING:
    from .camera import Camera, RunStatistics

_END: Frame = np.empty(0, dtype=np.uint16)  # the queue's end mark; never a frame buffer


def _forwarder(stream: "Stream") -> Any:
    """The frame callback for `stream`. It holds the stream weakly: the camera keeps the
    callback as long as the library may call it, and a strong reference from there would keep
    a dropped stream, and its run, alive until the camera closes."""
    target = weakref.ref(stream)

    def on_frame(frame: int | None, frame_bytes: int, frame_index: int, slot: int,
                 user: int) -> int:
        live = target()
        if live is None:
            return 0
        return live._on_frame(frame, frame_bytes, frame_index, slot, user)

    return _api.ContinuousFrameCallback(on_frame)


class Stream:
    """A continuous run of a Camera, used as

        with cam.stream() as frames:
            for image in frames:
                ...

    or as `for image in cam.stream(): ...`, where the run starts with the iteration and ends
    when the loop is left, when the iteration ends or when the stream is dropped.

    The library hands each raw frame to a callback on its own thread, which only copies it
    into a free buffer of a pool and queues it; iterating turns queued frames into Images
    (with the processing context of the settings at the start) on the iterating thread.

    mode "every": every frame is kept while the queue (`queue_size` frames) has room; when the
    consumer falls behind, new frames are dropped and counted. mode "latest": only the newest
    frame waits, older ones are dropped as newer arrive — a live view. The run ends when the
    `with` block is left, when the iteration stops, or when the camera ends it (unplugged);
    `statistics` has the library's run statistics and the frames the queue dropped."""

    def __init__(self, camera: "Camera", mode: str = "every", queue_size: int = 8,
                 channel_order: str = "rgb") -> None:
        if mode not in ("every", "latest"):
            raise ValueError("mode is 'every' or 'latest'")
        if queue_size < 1:
            raise ValueError("queue_size must be at least 1")
        if channel_order not in ("rgb", "bgr"):
            raise ValueError("channel_order is 'rgb' or 'bgr'")
        self.camera = camera
        self.mode = mode
        self.channel_order = channel_order
        self._capacity = 1 if mode == "latest" else queue_size
        self._queue: collections.deque[tuple[Frame, int]] = collections.deque()
        self._ready = threading.Condition()
        self._free: list[Frame] = []
        self._dropped = 0
        self._started = False
        self._running = False
        self._shape: tuple[int, ...] = ()
        self._meta: Metadata | None = None
        self._context = c_void_p()
        self._frame_bytes = 0

    # Runs on the library's dispatch thread: copy, queue, return — nothing more.
    def _on_frame(self, frame: int | None, frame_bytes: int, frame_index: int, _slot: int,
                  _user: int) -> int:
        with self._ready:
            if not frame:
                self._queue.append((_END, -1))
                self._ready.notify()
                return 0
            if not self._free and self.mode == "latest" and self._queue:
                self._free.append(self._queue.popleft()[0])
                self._dropped += 1
            if not self._free:
                self._dropped += 1
                return 1
            buffer = self._free.pop()
            ctypes.memmove(buffer.ctypes.data, frame, min(frame_bytes, buffer.nbytes))
            self._queue.append((buffer, frame_index))
            self._ready.notify()
        return 1

    def __enter__(self) -> "Stream":
        self._start()
        return self

    def _start(self) -> None:
        if self._started:
            return
        self._started = True
        cam = self.camera
        context_bytes, frame_bytes = c_uint32(), c_uint32()
        callback = _forwarder(self)
        # The library keeps calling the registered callback until the camera closes or another
        # is registered, so the camera holds on to it, not this stream.
        check(lib().IxenmGetIPInfo(cam.index, byref(self._context), byref(context_bytes),
                                   callback, byref(frame_bytes)), "IxenmGetIPInfo")
        cam._frame_callback = callback
        self._frame_bytes = frame_bytes.value
        self._shape = cam.image_shape
        self._meta = cam._metadata(self.channel_order)
        self._free = [np.empty(self._frame_bytes, dtype=np.uint8)
                      for _ in range(self._capacity)]
        check(lib().IxenmStartContinuousAcquisition(cam.index, 0, 0),
              "IxenmStartContinuousAcquisition")
        self._running = True

    def __exit__(self, *exc: object) -> None:
        self.stop()

    def __del__(self) -> None:
        # A stream dropped while running (a loop left by break, a generator thrown away) ends
        # its run here; the library lets even its own dispatch thread ask for that.
        if getattr(self, "_running", False):
            self.stop()

    def stop(self) -> None:
        """Ends the run and waits for the library's threads; harmless when it has ended."""
        self._started = True  # a stopped stream does not start again
        if self._running:
            self._running = False
            # A closed camera ended the run itself, and its slot may hold another camera now.
            if not self.camera.closed:
                lib().IxenmStopContinuousAcquisition(self.camera.index)
            with self._ready:
                self._queue.append((_END, -1))
                self._ready.notify()

    def __iter__(self) -> Iterator[Image]:
        return self

    def __next__(self) -> Image:
        self._start()
        with self._ready:
            while not self._queue:
                self._ready.wait()
            buffer, index = self._queue.popleft()
            if buffer is _END:
                self._queue.appendleft((_END, -1))
                ended = True
            else:
                ended = False
        if ended:
            self.stop()
            raise StopIteration
        try:
            image = np.empty(self._shape, dtype=np.uint16)
            # The camera's interpolation as it is now: the context has no room for it.
            method = _api.INTERPOLATIONS.index(self.camera.colour_interpolation)
            check(lib().kqfwExecuteIPFunctionEx(self._context, image.ctypes.data,
                                                buffer.ctypes.data, method),
                  "kqfwExecuteIPFunctionEx")
        finally:
            with self._ready:
                self._free.append(buffer)
        if image.ndim == 3 and self.channel_order == "rgb":
            image[..., [0, 2]] = image[..., [2, 0]]
        assert self._meta is not None
        return Image(image, dataclasses.replace(self._meta, frame_index=index))

    @property
    def statistics(self) -> "RunStatistics":
        """The run's statistics (Camera.statistics) with the frames this queue dropped."""
        return dataclasses.replace(self.camera.statistics, frames_dropped_by_queue=self._dropped)
