"""python -m kqfw: list the cameras, or take an image into a file.

    python -m kqfw list
    python -m kqfw snap out.tiff [--camera 0] [--exposure-us 20000] [--resolution 0] [--bits 42]

The file's extension chooses the format: .tif/.tiff (all 14 bits; needs tifffile, Debian:
python3-tifffile), .png (an 8-bit preview; needs Pillow, Debian: python3-pil) or .npy.
"""

from __future__ import annotations

import argparse
import os
import sys
from typing import Any

import numpy as np

from . import Camera, KqfwError, cameras
from .image import Image


FORMATS = {".tif": "tiff", ".tiff": "tiff", ".png": "png", ".npy": "npy"}


def _format(path: str) -> str:
    """The file format the name asks for; a name that asks for none is refused, not written as
    something else under that name."""
    extension = os.path.splitext(path)[1].lower()
    if extension not in FORMATS:
        raise SystemExit(f"kqfw: cannot tell the format of {path!r}: name it .tiff (all 14 bits), "
                         f".png (an 8-bit preview) or .npy (the array)")
    return FORMATS[extension]


def _save(path: str, image: Image) -> None:
    kind = _format(path)
    if kind == "npy":
        np.save(path, np.asarray(image))
        return
    if kind == "png":
        try:
            from PIL import Image as PngWriter
        except ImportError:
            raise SystemExit("kqfw: writing PNG needs Pillow (apt install python3-pil); "
                             "or give a .tiff or .npy file") from None
        # A preview: the top 8 of the 14 bits, as viewers show PNG files.
        PngWriter.fromarray((np.asarray(image) >> 6).astype(np.uint8)).save(path, format="PNG")
        return
    try:
        import tifffile
    except ImportError:
        raise SystemExit("writing TIFF needs tifffile (apt install python3-tifffile); "
                         "or give a .npy file") from None
    meta = image.meta
    tifffile.imwrite(path, np.asarray(image), photometric="rgb" if image.ndim == 3 else
                     "minisblack", description=f"model={meta.model} serial={meta.serial} "
                     f"exposure_us={meta.exposure_us} resolution={meta.resolution}")


def _camera_choice(text: str) -> dict[str, Any]:
    """A --camera value as Camera's keywords: the same forms kqcam takes."""
    if text.isdigit():
        return {"place": int(text)}
    if text.upper() in ("KQC", "KQM"):
        return {"model": text.upper()}
    if text[:2].lower() == "0x":
        try:
            return {"serial": int(text, 16)}
        except ValueError:
            pass
    raise argparse.ArgumentTypeError(
        f"a place in the list (0 to 9), a model (KQC or KQM) or a unique id (0x014a), not {text!r}")


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m kqfw", description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    commands.add_parser("list", help="list the cameras on the bus")
    snap = commands.add_parser("snap", help="take an image into a .tiff, .png or .npy file")
    snap.add_argument("output")
    snap.add_argument("--camera", type=_camera_choice, default={"place": 0},
                      help="the camera: its place in the list (default 0), its model (KQC or "
                           "KQM) or its unique id (0x014a), as kqcam's --camera")
    snap.add_argument("--exposure-us", type=int, help="exposure in microseconds")
    snap.add_argument("--resolution", type=int, help="resolution index 0 to 6")
    snap.add_argument("--bits", type=int, choices=(14, 42), help="bits per pixel")
    arguments = parser.parse_args(argv)
    try:
        if arguments.command == "list":
            for info in cameras():
                kind = "simulated" if info.simulated else "hardware"
                print(f"{info.position}: {info.model} serial 0x{info.serial:04x} firmware "
                      f"0x{info.firmware:04X} {info.sensor_size[0]} x {info.sensor_size[1]} "
                      f"{kind}  {info.path}")
            return 0
        _format(arguments.output)  # refused before the camera is opened
        with Camera(**arguments.camera) as cam:
            if arguments.bits is not None:
                cam.bits = arguments.bits
            if arguments.resolution is not None:
                cam.resolution = arguments.resolution
            if arguments.exposure_us is not None:
                cam.exposure_us = arguments.exposure_us
            image = cam.snap()
        _save(arguments.output, image)
        print(f"{arguments.output}: {image.shape[1]} x {image.shape[0]}, "
              f"{'RGB' if image.ndim == 3 else 'grey'}, mean {float(np.mean(image)):.0f}")
        return 0
    except KqfwError as error:
        print(f"kqfw: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
