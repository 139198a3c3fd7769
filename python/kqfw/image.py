"""Images: numpy arrays that carry the settings they were taken with."""

from __future__ import annotations

import dataclasses

import numpy as np


@dataclasses.dataclass(frozen=True)
class Metadata:
    """How an image was taken. Times are microseconds; `region` is left, top, right, bottom in
    image pixels; `channel_order` is "rgb" or "bgr" for colour images and "grey" otherwise."""

    model: str
    serial: int
    resolution: int
    bits: int
    binning: int
    region: tuple
    exposure_us: int
    gain: int
    white_balance: tuple
    channel_order: str
    frame_index: int | None = None


class Image(np.ndarray):
    """An H x W (grey) or H x W x 3 (colour) uint16 array of 14-bit samples, 0 to 16383, with
    its Metadata on `meta`. Slices and copies keep the metadata; arithmetic results are plain
    arrays."""

    meta: Metadata | None

    def __new__(cls, array: np.ndarray, meta: Metadata | None = None) -> "Image":
        image = np.asarray(array).view(cls)
        image.meta = meta
        return image

    def __array_finalize__(self, source) -> None:
        self.meta = getattr(source, "meta", None)

    def __array_wrap__(self, result, context=None, return_scalar=False):
        # A computed array is not the image the camera took: hand back a plain one.
        return np.asarray(result) if result.shape else result[()]
