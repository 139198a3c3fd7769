"""A first session with the simulated bench: put an image under the cameras, take it with the
colour and the monochrome camera, stream a few frames, and compare against the scene.

    python3 python/examples/snapshot_demo.py
"""

import numpy as np

import kqfw
import kqfw.sim as sim

# A scene of our own: red growing to the right, green downwards, blue to the left, and a disc.
yy, xx = np.mgrid[0:480, 0:640] / np.array([480.0, 640.0])[:, None, None]
scene = np.stack([xx, yy, 1.0 - xx], axis=-1) * 0.6
scene[(yy - 0.5) ** 2 + (xx - 0.5) ** 2 < 0.02] = 0.9
sim.set_time_scale(0)        # as fast as the bench renders
sim.set_scene(scene)

print("cameras:", [f"{info.model} {info.serial}" for info in kqfw.cameras()])
with kqfw.Camera(0) as colour, kqfw.Camera(1) as mono:
    for cam in (colour, mono):
        cam.exposure_us = 50000
        image = cam.snap()
        print(f"{cam.model}: {image.shape}, mean {image.mean():.0f}, "
              f"exposure {image.meta.exposure_us} us")
    # Red grows to the right and blue to the left, as in the scene: the channels are R, G, B.
    image = colour.snap()
    half = image.shape[1] // 2
    left, right = image[:, :half].mean(axis=(0, 1)), image[:, half:].mean(axis=(0, 1))
    print(f"red left {left[0]:.0f} right {right[0]:.0f}; blue left {left[2]:.0f} "
          f"right {right[2]:.0f}")
    assert right[0] > left[0] and left[2] > right[2], "colour channels in the wrong order"

    with mono.stream(mode="every") as frames:
        indexes = [image.meta.frame_index for _, image in zip(range(5), frames)]
        print("streamed frames", indexes, "lost", frames.statistics.frames_lost)
    assert indexes == sorted(indexes), "frames came out of order"
print("done")
