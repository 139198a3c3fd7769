"""Images: numpy arrays that carry the settings they were taken with."""

from __future__ import annotations

import dataclasses

import numpy as np
import numpy.typing as npt
from typing import Any


@dataclasses.dataclass(frozen=True)
class Metadata:
    """How an image was taken. Times are microseconds; `region` is left, top, right, bottom in
    image pixels; `channel_order` is "rgb" or "bgr" for colour images and "grey" otherwise."""

    model: str
    serial: int
    resolution: int
    bits: int
    binning: int
    region: tuple[int, int, int, int]
    exposure_us: int
    gain: int
    white_balance: tuple[float, float, float]
    channel_order: str
    frame_index: int | None = None


class Image(np.ndarray):  # type: ignore[type-arg]
    """An H x W (grey) or H x W x 3 (colour) uint16 array of 14-bit samples, 0 to 16383, with
    its Metadata on `meta`. Slices and copies keep the metadata; arithmetic results are plain
    arrays."""

    _meta: Metadata | None

    def __new__(cls, array: npt.ArrayLike, meta: Metadata | None = None) -> "Image":
        image = np.asarray(array).view(cls)
        image._meta = meta
        return image

    @property
    def meta(self) -> Metadata:
        """How the image was taken. Every image the package hands out has it; an Image made
        from a plain array without one raises AttributeError."""
        if self._meta is None:
            raise AttributeError("this image carries no metadata (it was not taken by a camera)")
        return self._meta

    def __array_finalize__(self, source: object) -> None:
        self._meta = getattr(source, "_meta", None)

    def __array_wrap__(self, result: Any, context: Any = None,
                       return_scalar: bool = False) -> Any:
        # A computed array is not the image the camera took: hand back a plain one.
        return np.asarray(result) if result.shape else result[()]
