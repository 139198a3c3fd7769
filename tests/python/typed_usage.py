"""What an application writes with the package, as the README shows it: type-checked strictly
in CI, so the annotations an editor offers are the ones the package keeps (not run)."""

import numpy as np
import numpy.typing as npt

import kqfw


def snapshot() -> tuple[int, float]:
    with kqfw.Camera(0) as cam:
        cam.exposure_us = 20000
        image = cam.snap()
    exposure: int = image.meta.exposure_us
    return exposure, float(image.mean())


def live(frames: int) -> list[int]:
    indexes: list[int] = []
    with kqfw.Camera(model="KQM") as cam:
        gain: int = cam.gain
        cam.gain = gain
        wide: bool = cam.packing
        cam.packing = wide
        with cam.stream(mode="latest") as stream:
            for image in stream:
                index = image.meta.frame_index
                indexes.append(-1 if index is None else index)
                if len(indexes) == frames:
                    break
    return indexes


def chosen() -> list[str]:
    names = [f"{info.model} 0x{info.serial:04x}" for info in kqfw.cameras() if info.simulated]
    with kqfw.Camera(serial=kqfw.cameras()[0].serial) as cam:
        table: npt.NDArray[np.uint16] = cam.white_table
        names.append(str(table.shape))
    return names
