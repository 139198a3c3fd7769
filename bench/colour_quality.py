#!/usr/bin/python3
"""Quality and speed of every colour interpolation on real images.

Six photographs and micrographs that Debian's scikit-image ships are mosaicked as the colour
camera's sensor samples them (red at the top left, 14-bit samples) and interpolated by the
library's methods (through kqfw_demosaic_probe), OpenCV's and libdc1394's. Each result is
compared with the original at the alignment the method leaves it at: centred, or half a pixel
down and right (the 2 x 2 block method gives a pixel its block's centre) or up and left,
whichever of the three fits the method best, as the table says: PSNR, SSIM and the mean error of
each channel (the bias, in 14-bit DN), over the frame less 8 pixels at each edge. The speed of each is measured in the same run on a full 1388 x 1040 frame, one
thread. White balance is the identity and no colour matrix is applied: both follow every method
alike.

The sensor-shift part lays the same images under the simulated cameras as scenes, 3 scene pixels
to a sensor pixel (mirrored to fill the sensor), and compares with the 3x ground truth over the
image's own area: the colour and the mono camera's index-5 images (3x by sensor shift) and the
best single-shot pipelines, the index-0 frame demosaicked by libdc1394 HQLINEAR (from the raw
frame) or by the library's LMMSE method, then scaled 3x with Lanczos (the mono one scaled alone),
with the bench's noise off and on. Every result is fitted to the truth by one affine colour
transform (least squares), so what is compared is detail, not the colour processing.

    bench/colour_quality.py [--probe build/bench/kqfw_demosaic_probe] [--repeats 15]
                            [--part single|shift|all]
"""
import argparse
import ctypes
import ctypes.util
import os
import shutil
import subprocess
import sys
import tempfile
import time

PACKAGES = ["python3-numpy", "python3-skimage", "python3-opencv", "libdc1394-dev"]
IMAGES = ["astronaut", "coffee", "chelsea", "immunohistochemistry", "retina", "hubble_deep_field"]
FULL = 1388, 1040
BORDER = 8
PEAK = 16383.0


def install():
    missing = [p for p in PACKAGES
               if subprocess.run(["dpkg-query", "-W", "-f=${Status}", p], capture_output=True,
                                 text=True).stdout.find("install ok installed") < 0]
    if not missing:
        return
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(sudo + ["apt-get", "update", "-qq"], check=True, env=env)
    subprocess.run(sudo + ["apt-get", "install", "-y", "-qq", "--no-install-recommends"] + missing,
                   check=True, env=env)


install()
import cv2  # noqa: E402
import numpy as np  # noqa: E402
from skimage import data  # noqa: E402
from skimage.metrics import structural_similarity  # noqa: E402


def truth_of(name):
    """The image as 14-bit RGB floats, cut to even sizes."""
    image = getattr(data, name)()[..., :3].astype(np.float64)
    h, w = image.shape[0] & ~1, image.shape[1] & ~1
    return np.round(image[:h, :w] * (PEAK / 255.0))


def mosaic_of(rgb):
    h, w, _ = rgb.shape
    m = np.empty((h, w), np.uint16)
    m[0::2, 0::2] = rgb[0::2, 0::2, 0]
    m[0::2, 1::2] = rgb[0::2, 1::2, 1]
    m[1::2, 0::2] = rgb[1::2, 0::2, 1]
    m[1::2, 1::2] = rgb[1::2, 1::2, 2]
    return m


class Probe:
    """The library's methods, run by the probe program."""

    def __init__(self, path, method):
        self.path, self.method = path, method

    def __call__(self, mosaic, repeats=1):
        h, w = mosaic.shape
        with tempfile.TemporaryDirectory() as folder:
            src, dst = os.path.join(folder, "in.raw"), os.path.join(folder, "out.raw")
            mosaic.astype(np.uint16).tofile(src)
            out = subprocess.run([self.path, self.method, str(w), str(h), src, dst, str(repeats)],
                                 check=True, capture_output=True, text=True).stdout
            bgr = np.fromfile(dst, np.uint16).reshape(h, w, 3)
        return bgr[..., ::-1].astype(np.float64), float(out)


def timed(function, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        result = function()
        times.append(time.perf_counter() - start)
    return result, 1000 * sorted(times)[len(times) // 2]


def opencv(code):
    def run(mosaic, repeats=1):
        cv2.setNumThreads(1)
        bgr, ms = timed(lambda: cv2.demosaicing(mosaic, code), repeats)
        return bgr[..., ::-1].astype(np.float64), ms
    return run


def dc1394(method):
    name = ctypes.util.find_library("dc1394")
    library = ctypes.CDLL(name) if name else None
    rggb = 512  # DC1394_COLOR_FILTER_RGGB

    def run(mosaic, repeats=1):
        h, w = mosaic.shape
        source = np.ascontiguousarray(mosaic, dtype=np.uint16)
        rgb = np.zeros((h, w, 3), np.uint16)
        call = lambda: library.dc1394_bayer_decoding_16bit(  # noqa: E731
            source.ctypes.data_as(ctypes.c_void_p), rgb.ctypes.data_as(ctypes.c_void_p),
            ctypes.c_uint32(w), ctypes.c_uint32(h), ctypes.c_int(rggb), ctypes.c_int(method),
            ctypes.c_uint32(14))
        _, ms = timed(call, repeats)
        return rgb.astype(np.float64), ms
    return run if library else None


# Where a method may put a pixel, in pixels down and right of the pixel's own centre.
OFFSETS = {0.0: "centred", 0.5: "+1/2 px", -0.5: "-1/2 px"}


def shifted(truth, offset):
    """The original seen at pixel centres moved by `offset` (0 or a half) down and right."""
    if offset == 0.0:
        return truth
    s = -1 if offset > 0 else 1
    t = truth
    return (t + np.roll(t, s, 0) + np.roll(t, s, 1) + np.roll(np.roll(t, s, 0), s, 1)) / 4


def measure(result, truth, offset):
    reference = shifted(truth, offset)
    b = BORDER
    r, t = result[b:-b, b:-b], reference[b:-b, b:-b]
    mse = np.mean((r - t) ** 2)
    psnr = 10 * np.log10(PEAK * PEAK / mse)
    ssim = structural_similarity(r, t, channel_axis=2, data_range=PEAK)
    bias = [float(np.mean(r[..., c] - t[..., c])) for c in range(3)]
    return psnr, ssim, bias


SHIFT_SCALE = 3


def scene_of(truth):
    """The image at 3 scene pixels a sensor pixel, mirrored to cover the sensor, as 0..1."""
    h, w = FULL[1] * SHIFT_SCALE, FULL[0] * SHIFT_SCALE
    image = truth / PEAK
    while image.shape[0] < h or image.shape[1] < w:
        image = np.concatenate([image, image[::-1]], 0) if image.shape[0] < h else image
        image = np.concatenate([image, image[:, ::-1]], 1) if image.shape[1] < w else image
    return np.ascontiguousarray(image[:h, :w])


def fitted(result, truth):
    """`result` under the affine map (per output channel, from all its channels) that brings
    it nearest to `truth`."""
    r = result.reshape(-1, result.shape[-1] if result.ndim == 3 else 1)
    t = truth.reshape(-1, truth.shape[-1] if truth.ndim == 3 else 1)
    a = np.hstack([r, np.ones((r.shape[0], 1))])
    m, *_ = np.linalg.lstsq(a, t, rcond=None)
    return (a @ m).reshape(truth.shape)


# Where a pipeline may put its pixels, in pixels of the 3x grid (down, right): the shots of a
# sensor-shift image start where its first shot's pixels do.
SHIFTS = [(dy, dx) for dy in (-1, 0, 1) for dx in (-1, 0, 1)]


def psnr_of(result, truth, shift):
    b = BORDER * SHIFT_SCALE
    (dy, dx), (h, w) = shift, truth.shape[:2]
    r = result[b + dy:h - b + dy, b + dx:w - b + dx]
    t = truth[b:-b, b:-b]
    return 10 * np.log10(PEAK * PEAK / np.mean((fitted(r, t) - t) ** 2))


def lanczos3(image):
    h, w = image.shape[:2]
    return cv2.resize(image.astype(np.float32), (w * SHIFT_SCALE, h * SHIFT_SCALE),
                      interpolation=cv2.INTER_LANCZOS4).astype(np.float64)


def sensor_shift():
    """Mean PSNR of each pipeline over the six images, noise off and on."""
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
    import kqfw  # noqa: E402
    import kqfw.sim as sim  # noqa: E402
    hq = dc1394(3)
    pipelines = ["colour index 5 (3x shift)", "colour HQLINEAR + Lanczos 3x",
                 "colour LMMSE + Lanczos 3x", "mono index 5 (3x shift)",
                 "mono index 0 + Lanczos 3x"]
    print(f"\nsensor shift at {SHIFT_SCALE} scene px a sensor px, PSNR dB against the 3x truth "
          f"(mean over the six images; per image: {', '.join(IMAGES)})")
    for noise in (False, True):
        sim.reset(default=False)
        sim.add_camera("KQC", blemishes=[])
        sim.add_camera("KQM", blemishes=[])
        sim.set_time_scale(0)
        scores = {p: [] for p in pipelines}
        for name in IMAGES:
            truth_image = truth_of(name)
            sim.set_scene(scene_of(truth_image))
            h, w = (s // SHIFT_SCALE for s in truth_image.shape[:2])
            region = (0, 0, w * SHIFT_SCALE, h * SHIFT_SCALE)
            for camera in (0, 1):
                sim.set_noise(camera, noise)
            colour_truth = sim.ground_truth(0, region, SHIFT_SCALE).astype(np.float64)
            mono_truth = sim.ground_truth(1, region, SHIFT_SCALE, colour=False).astype(np.float64)
            with kqfw.Camera(0) as cam:
                cam.exposure_us = 100000
                cam.resolution = 0
                cam.colour_interpolation = "lmmse"
                lmmse = np.asarray(cam.snap(), np.float64)[:h, :w]
                raw = sim.last_frame(0).reshape(FULL[1], FULL[0])
                cam.resolution = 5
                shifted_image = np.asarray(cam.snap(), np.float64)
            hqlinear = hq(raw)[0][:h, :w]
            results = {
                pipelines[0]: shifted_image[:h * SHIFT_SCALE, :w * SHIFT_SCALE],
                pipelines[1]: lanczos3(hqlinear),
                pipelines[2]: lanczos3(lmmse),
            }
            for p in pipelines[:3]:
                scores[p].append([psnr_of(results[p], colour_truth, s) for s in SHIFTS])
            with kqfw.Camera(1) as cam:
                cam.exposure_us = 100000
                cam.resolution = 0
                single = np.asarray(cam.snap(), np.float64)[:h, :w]
                cam.resolution = 5
                shifted_mono = np.asarray(cam.snap(), np.float64)
            scores[pipelines[3]].append(
                [psnr_of(shifted_mono[:h * SHIFT_SCALE, :w * SHIFT_SCALE], mono_truth, s)
                 for s in SHIFTS])
            scores[pipelines[4]].append([psnr_of(lanczos3(single), mono_truth, s)
                                         for s in SHIFTS])
        print(f"noise {'on' if noise else 'off'}:")
        for p in pipelines:
            # The pipeline's placement: the one that fits it best over all images.
            best = max(range(len(SHIFTS)), key=lambda k: sum(v[k] for v in scores[p]))
            each = [v[best] for v in scores[p]]
            print(f"  {p:32} {np.mean(each):6.2f}   {' '.join(f'{v:.1f}' for v in each)}"
                  f"   placed {SHIFTS[best]}", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--probe", default=os.path.join(here, "..", "build", "bench",
                                                        "kqfw_demosaic_probe"))
    parser.add_argument("--repeats", type=int, default=15)
    parser.add_argument("--part", choices=["single", "shift", "all"], default="all")
    args = parser.parse_args()
    if args.part != "single":
        sensor_shift()
        if args.part == "shift":
            return
    if not shutil.which(args.probe) and not os.path.exists(args.probe):
        sys.exit(f"colour_quality: no probe at {args.probe} (build kqfw_demosaic_probe)")
    methods = [
        ("kqfw 2x2 blocks (camera API)", Probe(args.probe, "block")),
        ("kqfw regression (index 1)", Probe(args.probe, "regression")),
        ("kqfw colour ratios", Probe(args.probe, "ratio")),
        ("kqfw directional LMMSE", Probe(args.probe, "lmmse")),
        ("OpenCV bilinear", opencv(cv2.COLOR_BayerBG2BGR)),
        ("OpenCV edge-aware", opencv(cv2.COLOR_BayerBG2BGR_EA)),
    ]
    for label, number in (("libdc1394 HQLINEAR", 3), ("libdc1394 VNG", 6),
                          ("libdc1394 AHD", 7)):
        run = dc1394(number)
        if run:
            methods.append((label, run))
    truths = {name: truth_of(name) for name in IMAGES}
    mosaics = {name: mosaic_of(truth) for name, truth in truths.items()}
    # The speed frame: the largest image's middle, cut to the sensor's size.
    big = truths["retina"]
    y0, x0 = (big.shape[0] - FULL[1]) // 2, (big.shape[1] - FULL[0]) // 2
    full = mosaic_of(big[y0:y0 + FULL[1], x0:x0 + FULL[0]])

    print(f"{'method':30} {'PSNR dB':>8} {'SSIM':>6} {'bias R':>7} {'bias G':>7} {'bias B':>7}"
          f" {'ms/frame':>9} {'aligned':>8}  per image PSNR ({', '.join(IMAGES)})")
    for label, run in methods:
        results = [run(mosaics[name])[0] for name in IMAGES]
        # The method's offset: the one that fits it best over all images.
        offset = max(OFFSETS, key=lambda o: sum(
            measure(r, truths[name], o)[0] for r, name in zip(results, IMAGES)))
        scores = [measure(r, truths[name], offset) for r, name in zip(results, IMAGES)]
        _, ms = run(full, args.repeats)
        psnr = np.mean([s[0] for s in scores])
        ssim = np.mean([s[1] for s in scores])
        bias = np.mean([s[2] for s in scores], axis=0)
        each = " ".join(f"{s[0]:.1f}" for s in scores)
        print(f"{label:30} {psnr:8.2f} {ssim:6.3f} {bias[0]:7.1f} {bias[1]:7.1f} {bias[2]:7.1f}"
              f" {ms:9.2f} {OFFSETS[offset]:>8}  {each}", flush=True)
    print(f"(mean over the six images; bias: mean of result minus original; ms: median of "
          f"{args.repeats} runs on a {FULL[0]} x {FULL[1]} frame, one thread)")


if __name__ == "__main__":
    main()
