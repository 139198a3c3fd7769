"""The library's colour tables and its offline images of random and structured raw frames,
held bit for bit against colour_reference, an implementation that shares no code and no
compiler with the library. The SIMD level is fixed once per process, so the comparisons run
in a child process per level the processor has; they run in this process only when KQFW_SIMD
names a level."""

import collections
import ctypes
import json
import os
import pathlib
import subprocess
import sys
from ctypes import byref, c_double, c_uint32, c_void_p

import numpy as np
import pytest

import colour_reference as ref
import kqfw
import kqfw.sim as sim
from kqfw import _api
from kqfw._lib import lib

LEVELS = ("plain", "scalar", "avx2", "avx512")
PINNED = os.environ.get("KQFW_SIMD") in LEVELS
TALLY_FILE = os.environ.get("KQFW_REFERENCE_TALLY")

SENSOR_WIDTH = 1388
# Blemishes at both ends of rows, in neighbouring same-colour pairs (the second sees the first
# one's new value) and scattered; the chosen regions put some at their own edges.
BLEMISHES = sorted({y * SENSOR_WIDTH + x for y, x in
                    [(0, 0), (0, 1), (1, 1387), (2, 1386), (1039, 0), (1039, 1387),
                     (5, 100), (5, 102), (5, 104), (40, 96), (41, 97), (42, 98), (43, 99),
                     (44, 398), (45, 399), (46, 396), (300, 700), (301, 701)]}
                   | set(np.random.default_rng(38).integers(0, SENSOR_WIDTH * 1040, 150).tolist()))

TALLY = collections.Counter()


def levels_here() -> list:
    """plain and scalar always; the vector levels only where the processor has them, since
    the library quietly falls back from a level it lacks."""
    flags = set()
    try:
        for line in pathlib.Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("flags"):
                flags = set(line.split(":", 1)[1].split())
                break
    except OSError:
        pass
    levels = ["plain", "scalar"]
    if "avx2" in flags:
        levels.append("avx2")
    if {"avx512f", "avx512bw"} <= flags:
        levels.append("avx512")
    return levels


@pytest.mark.skipif(PINNED, reason="already inside a process of one level")
@pytest.mark.parametrize("level", levels_here())
def test_every_simd_level_agrees_with_the_independent_reference(level, tmp_path):
    tally = tmp_path / "tally.json"
    env = dict(os.environ, KQFW_SIMD=level, KQFW_REFERENCE_TALLY=str(tally))
    child = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider",
                            __file__], env=env, capture_output=True, text=True, timeout=300)
    assert child.returncode == 0, child.stdout[-6000:] + child.stderr[-2000:]
    counts = json.loads(tally.read_text())
    assert all(counts.get(f"{path} frames", 0) > 0 for path in ("2x2", "binned", "grey",
                                                                 "ratio grey", "regression",
                                                                 "mono"))
    print(level, counts)


pinned = pytest.mark.skipif(not PINNED, reason="runs in a child process per SIMD level")


@pytest.fixture(scope="module", autouse=True)
def tally_out():
    yield
    if TALLY_FILE and PINNED:
        pathlib.Path(TALLY_FILE).write_text(json.dumps(dict(TALLY), sort_keys=True))


@pytest.fixture(params=["KQC"])
def camera(request):
    sim.reset(default=False)
    sim.add_camera(request.param, blemishes=BLEMISHES)
    with kqfw.Camera(0) as cam:
        cam.packing = False  # 16-bit frames: the test writes the samples as they are
        yield cam


# -- the offline path --------------------------------------------------------------------------

class Offline:
    """The processing record of the camera's current settings and the fields of it that say
    which path a frame takes."""

    def __init__(self, cam):
        self.context = c_void_p()
        size, frame = c_uint32(), c_uint32()
        callback = _api.ContinuousFrameCallback(lambda *args: 1)
        status = lib().IxenmGetIPInfo(cam.index, byref(self.context), byref(size), callback,
                                      byref(frame))
        assert status == 0
        cam._frame_callback = callback
        self.frame_bytes = frame.value
        u32 = lambda offset: self.read(offset, np.uint32, 1)[0]
        self.rect = tuple(int(v) for v in self.read(6797380, np.uint32, 4))
        self.resolution, self.bits, self.binning = u32(6797336), u32(6797340), u32(6797344)
        self.colour_processing = u32(6797436)
        assert u32(6797428) == u32(6797432) == u32(6797548) == 0  # no references
        assert u32(120100) == 1  # the blemish list is valid
        self.blemishes = self.read(100, np.uint32, self.read(92, np.int32, 1)[0])
        self.sensor_width = u32(132392)
        self.mono = bool(u32(1017672))

    def read(self, offset, dtype, count) -> np.ndarray:
        size = np.dtype(dtype).itemsize * int(count)
        block = (ctypes.c_uint8 * size).from_address(self.context.value + offset)
        return np.frombuffer(bytes(block), dtype=dtype)

    def tables(self):
        white = self.read(132408, np.uint16, 3 * 16384).reshape(3, 16384)
        if not self.colour_processing:
            return white, None, None
        return (white, self.read(525624, np.uint16, 9 * 16384).reshape(9, 16384),
                self.read(820536, np.uint16, 98304))

    @property
    def size(self):
        left, top, right, bottom = self.rect
        return right - left, bottom - top

    def raw_shape(self):
        width, height = self.size
        return height // self.binning, width // (self.binning if self.mono else 1)

    def process(self, raw: np.ndarray, samples: int) -> np.ndarray:
        """The library's image of raw, `samples` long; the buffer beyond it must stay as
        it was."""
        frame = np.zeros(self.frame_bytes, dtype=np.uint8)
        frame[:raw.nbytes] = np.ascontiguousarray(raw, dtype=np.uint16).view(np.uint8).ravel()
        guard = 4096
        image = np.full(samples + guard, 0xA5A5, dtype=np.uint16)
        status = lib().IxenmExecuteIPFunction(self.context, image.ctypes.data,
                                              frame.ctypes.data)
        assert status == 0
        assert (image[samples:] == 0xA5A5).all(), "written beyond the image"
        return image[:samples]


class Colour:
    """The colour state the test set, from which the reference builds its own tables."""

    def __init__(self, factors=(1.49, 1.98, 1.0), saturation=(1.0, 1.0, 1.0), on=False):
        self.factors, self.saturation, self.on = factors, saturation, on

    def apply(self, cam):
        cam.saturation = self.saturation
        cam.white_balance = self.factors
        cam.colour_processing = self.on

    def white(self):
        return ref.white_tables([ref.single(f) for f in self.factors])

    def matrix(self):
        return ref.matrix_tables(ref.colour_matrix(self.saturation))


def reference_image(offline: Offline, raw: np.ndarray, colour: Colour) -> np.ndarray:
    width, height = offline.size
    b = offline.binning
    if offline.mono:
        raw = ref.correct_mono_blemishes(raw, offline.blemishes, offline.rect, b,
                                         offline.sensor_width)
        return ref.assemble_mono(raw, width, height, b)
    raw = ref.correct_blemishes(raw, offline.blemishes, offline.rect, b, offline.sensor_width)
    if offline.resolution == 2 or (offline.bits == 14 and b != 1):
        return ref.assemble_grey(raw, width, height, b)
    white = colour.white()
    if offline.bits == 14:
        return ref.assemble_ratio_grey(raw, white)
    if b == 1 and offline.resolution == 1:
        image = ref.assemble_regression(raw, white)
    elif b == 1:
        image = ref.assemble_blocks(raw, white)
    else:
        image = ref.assemble_binned(raw, width, height, b, white)
    if colour.on:
        image = ref.apply_colour_matrix(image, colour.matrix(), ref.clamp_table())
    return image


def frames(rng, shape):
    """Random and structured 14-bit mosaics: full range, around the pedestal, ramps with
    saturated and black areas and sharp edges, a coloured scene, strong colour over greens
    at and just above black (ratios at their limit), a field one step from flat (gradient
    measures of a few sixteenths), pairs of equal and opposite colour outliers, all-full and
    all-black."""
    h, w = shape
    y, x = np.mgrid[0:h, 0:w]
    yield "random", rng.integers(0, 16384, shape)
    yield "pedestal", rng.integers(0, 400, shape)
    ramp = (x * 16383 // max(1, w - 1) + y * 37) % 16384
    ramp[h // 4:h // 2, w // 4:w // 2] = 16383
    ramp[h // 2:3 * h // 4, w // 2:3 * w // 4] = 0
    ramp[:, w // 8::w // 3 or 1] = 16383 - ramp[:, w // 8::w // 3 or 1]
    spikes = rng.integers(0, h * w, max(1, h * w // 500))
    ramp.ravel()[spikes] = rng.choice([0, 16383], spikes.size)
    yield "structured", ramp
    scene = np.where((y & 1) == 0, np.where((x & 1) == 0, 9000, 4000),
                     np.where((x & 1) == 0, 4000, 1500)) + rng.integers(-60, 60, shape)
    yield "coloured", np.clip(scene, 0, 16383)
    green_site = ((y + x) & 1) == 1
    yield "faint green", np.where(green_site, rng.integers(0, 140, shape),
                                  rng.integers(8000, 16384, shape))
    yield "nearly flat", 3000 + rng.integers(0, 2, shape)
    # A grey field whose colour sites go up and down by equal steps in neighbouring pairs:
    # with equal white-balance factors a fit through both sees them as equal worst points.
    ties = np.full(shape, 6000)
    for oy, ox in ((0, 0), (1, 1)):
        sites = ties[oy::2, ox::2]
        cells = rng.integers(0, sites.size, max(1, sites.size // 40))
        i, j = np.unravel_index(cells, sites.shape)
        step = rng.integers(100, 3000, cells.size)
        down = rng.integers(0, 2, cells.size).astype(bool)
        i2, j2 = np.where(down, np.minimum(i + 1, sites.shape[0] - 1), i), \
            np.where(down, j, np.minimum(j + 1, sites.shape[1] - 1))
        sign = rng.choice([-1, 1], cells.size)
        sites[i, j] += sign * step
        sites[i2, j2] -= sign * step
    yield "equal outliers", ties
    yield "full", np.full(shape, 16383)
    yield "black", np.zeros(shape, dtype=np.int64)


def compare(cam, colour: Colour, path: str, rng, expected_channels: int):
    offline = Offline(cam)
    for kind, raw in frames(rng, offline.raw_shape()):
        raw = raw.astype(np.uint16)
        expected = reference_image(offline, raw, colour)
        assert expected.ndim == (3 if expected_channels == 3 else 2)
        got = offline.process(raw, expected.size).reshape(expected.shape)
        if not np.array_equal(got, expected):
            where = tuple(int(v) for v in np.argwhere(got != expected)[0])
            pytest.fail(f"{path} {kind} frame, rect {offline.rect}, binning "
                        f"{offline.binning}, wb {colour.factors}, saturation "
                        f"{colour.saturation}, matrix {colour.on}: first difference at "
                        f"{where}: library {got[where]}, reference {expected[where]}; "
                        f"{int((got != expected).sum())} samples differ")
        TALLY[f"{path} frames"] += 1
        TALLY[f"{path} samples"] += int(expected.size)


def settings(rng):
    """The defaults, the factors whose single-precision rounding once went missing, equal
    factors, the identity and a strong matrix, and random ones."""
    yield Colour()
    yield Colour((0.9, 1.21, 1.77), (1.0, 1.0, 1.0), True)
    yield Colour((1.0, 1.0, 1.0), (0.0, 0.0, 0.0), True)
    yield Colour((2.5, 0.7, 1.3), (2.0, 1.7, 2.0), True)
    for _ in range(2):
        yield Colour(tuple(rng.uniform(0.3, 3.0, 3)), tuple(rng.uniform(0.0, 1.6, 3)), True)


def regions(rng, cam):
    """The whole sensor, a corner with blemishes at its edges, and random regions (in image
    pixels; the library aligns them)."""
    height, width = cam.image_shape[:2]
    yield None
    yield (96, 32, min(400, width), min(200, height))
    for _ in range(2):
        left, top = int(rng.integers(0, width // 2)), int(rng.integers(0, height // 2))
        yield (left, top, left + int(rng.integers(width // 10, width // 2)),
               top + int(rng.integers(height // 10, height // 2)))


# -- tables ------------------------------------------------------------------------------------

def current_factors(cam):
    values = (c_double(), c_double(), c_double())
    assert lib().IxenmGetCurrentWhiteBalance(cam.index, *(byref(v) for v in values)) == 0
    return tuple(v.value for v in values)


@pinned
def test_white_balance_matrix_and_clamp_tables_are_the_documented_ones(camera):
    rng = np.random.default_rng(1)
    for colour in settings(rng):
        colour.on = True
        colour.apply(camera)
        white, matrix, clamp = Offline(camera).tables()
        assert np.array_equal(white, colour.white()), colour.factors
        assert np.array_equal(matrix, colour.matrix()), colour.saturation
        assert np.array_equal(clamp, ref.clamp_table())
        TALLY["tables compared"] += 13


@pinned
def test_white_balance_from_levels_scales_the_single_precision_factors(camera):
    rng = np.random.default_rng(2)
    for on in (False, True):
        for _ in range(4):
            Colour(tuple(rng.uniform(0.5, 2.0, 3)), tuple(rng.uniform(0.0, 1.5, 3)), on)\
                .apply(camera)
            before = current_factors(camera)
            levels = tuple(rng.uniform(0.2, 3.0, 3))
            camera.white_balance_from(levels)
            x = np.array([ref.single(v) for v in levels])
            if on:
                m = ref.colour_matrix(camera.saturation)
                det = np.linalg.det(m)
                x = np.array([np.linalg.det(np.column_stack([x if k == c else m[:, k]
                                                             for k in range(3)])) / det
                              for c in range(3)])
            expected = [x[c] * ref.single(before[c]) for c in range(3)]
            factors = current_factors(camera)
            if on:  # Cramer's rule leaves the order of its products open
                assert np.allclose(factors, expected, rtol=1e-12, atol=0)
            else:
                assert list(factors) == expected
            # The tables are those of the stored factors, without a further rounding.
            white = Offline(camera).tables()[0]
            assert np.array_equal(white, ref.white_tables(factors))
            TALLY["tables compared"] += 3


# -- images ------------------------------------------------------------------------------------

@pinned
@pytest.mark.parametrize("path, resolution, bits, binning, seed", [
    ("2x2", 0, 42, 1, 3), ("binned", 0, 42, 3, 7), ("binned", 0, 42, 5, 9),
    ("ratio grey", 0, 14, 1, 11), ("grey", 0, 14, 2, 12), ("grey", 0, 14, 4, 14),
    ("grey", 2, 14, 1, 11), ("regression", 1, 42, 1, 20)])
def test_colour_camera_images_match(camera, path, resolution, bits, binning, seed):
    """Each path at the whole sensor, the corner with blemishes at its edges and two random
    regions, each with its own colour settings (the 2x2 blocks with the matrix off and on)."""
    rng = np.random.default_rng(seed)
    camera.resolution = resolution
    camera.bits = bits
    camera.binning = binning
    for colour, region in zip(settings(rng), regions(rng, camera)):
        for on in (False, True) if path == "2x2" else (colour.on,):
            colour.on = on
            colour.apply(camera)
            camera.region = region
            compare(camera, colour, path, rng, 1 if bits == 14 else 3)


@pinned
@pytest.mark.parametrize("camera", ["KQM"], indirect=True)
@pytest.mark.parametrize("resolution, binning", [(0, 1), (0, 2), (0, 3), (0, 4), (0, 5),
                                                 (1, 2), (2, 1)])
def test_monochrome_images_match(camera, resolution, binning):
    """The frame is the image, its blemishes corrected along the binned row."""
    rng = np.random.default_rng(30 + binning)
    camera.resolution = resolution
    camera.binning = binning
    colour = Colour()
    for region in regions(rng, camera):
        camera.region = region
        compare(camera, colour, "mono", rng, 1)
