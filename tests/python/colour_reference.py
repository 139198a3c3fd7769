"""A second implementation of the colour tables and of the standard-resolution image paths in
numpy, written from the documented behaviour alone, so that a fault the library's own tests
share with the library (the same reading, the same compiler) still shows as a difference.

Images are in the library's memory order: RGB16 pixels hold blue, green, red (channel 0 blue),
and colour c of the tables (0 red, 1 green, 2 blue) is channel 2 - c. All arithmetic is done
in int64 or float64 with one rounding per documented operation: numpy never fuses a multiply
with the add that follows it."""

from __future__ import annotations

import numpy as np

FULL = 16383
PEDESTAL = 128
BASE_MATRIX = np.array([[1.465, -0.283, -0.182],
                        [-0.165, 1.334, -0.169],
                        [0.083, -0.524, 1.441]])


def single(value: float) -> float:
    """A double rounded to single precision and back, as the white-balance setters store it."""
    return float(np.float32(value))


# -- tables ------------------------------------------------------------------------------------

def white_tables(factors) -> np.ndarray:
    """The three white-balance tables (red, green, blue) for factors wb; the gain of a colour is
    1 / wb, scaled so that the smallest gain is 1, applied about the pedestal."""
    gains = [1.0 / float(f) for f in factors]
    smallest = min(gains)
    gains = [g / smallest for g in gains]
    x = np.arange(FULL + 1, dtype=np.float64) - PEDESTAL
    tables = np.empty((3, FULL + 1), dtype=np.uint16)
    for c, g in enumerate(gains):
        v = x * g
        v = v + 0.5
        v = v + PEDESTAL
        tables[c] = np.trunc(np.clip(v, 0.0, float(FULL))).astype(np.uint16)
    return tables


def colour_matrix(saturation) -> np.ndarray:
    """Each row blends the identity with the base matrix by that row's saturation."""
    identity = np.eye(3)
    m = np.empty((3, 3))
    for r in range(3):
        s = float(saturation[r])
        for c in range(3):
            m[r, c] = (1.0 - s) * identity[r, c] + s * BASE_MATRIX[r, c]
    return m


def matrix_tables(matrix) -> np.ndarray:
    """Nine tables, t = 3r + c, each entry i * k + 16384 held within what a full-scale input
    gives; three of them summed carry a bias of 49152."""
    i = np.arange(FULL + 1, dtype=np.float64)
    tables = np.empty((9, FULL + 1), dtype=np.uint16)
    for r in range(3):
        for c in range(3):
            k = float(matrix[r, c])
            limit = max(0, int(np.trunc((k + 1.0) * 16384.0)))
            product = i * k
            v = np.trunc(product + 16384.0).astype(np.int64)
            entries = np.minimum(limit, v) if k >= 0 else np.maximum(limit + 1, v)
            tables[3 * r + c] = (entries & 0xFFFF).astype(np.uint16)
    return tables


def clamp_table() -> np.ndarray:
    entry = np.arange(98304, dtype=np.int64)
    return np.clip(entry - 49152, 0, FULL).astype(np.uint16)


# -- raw corrections ---------------------------------------------------------------------------

def correct_blemishes(raw: np.ndarray, positions, rect, binning: int,
                      sensor_width: int) -> np.ndarray:
    """Colour model: each listed sensor pixel inside the rectangle takes the mean of its
    same-colour neighbours two columns away in its frame row (one of them at the row's ends),
    in list order, so a later pixel may see an earlier one's new value."""
    raw = raw.copy()
    left, top, right, bottom = rect
    width = right - left
    for index in positions:
        row, column = divmod(int(index), sensor_width)
        if not (top <= row < bottom and left <= column < right):
            continue
        dx = column - left
        line = raw[(row - top) // binning]
        if dx < 2:
            line[dx] = line[dx + 2]
        elif dx >= width - 2:
            line[dx] = line[dx - 2]
        else:
            line[dx] = (int(line[dx - 2]) + int(line[dx + 2]) + 1) >> 1
    return raw


def correct_mono_blemishes(raw: np.ndarray, positions, rect, binning: int,
                           sensor_width: int) -> np.ndarray:
    """Monochrome model: the frame bins columns too, so a listed pixel is its frame pixel,
    which takes the mean of its row neighbours (the one there is at the row's ends)."""
    raw = raw.copy()
    left, top, right, bottom = rect
    for index in positions:
        row, column = divmod(int(index), sensor_width)
        if not (top <= row < bottom and left <= column < right):
            continue
        x = (column - left) // binning
        line = raw[(row - top) // binning]
        if x < 1:
            line[x] = line[x + 1]
        elif x == line.size - 1:
            line[x] = line[x - 1]
        else:
            line[x] = (int(line[x - 1]) + int(line[x + 1]) + 1) >> 1
    return raw


# -- colour interpolation, 2x2 blocks ----------------------------------------------------------

def assemble_blocks(raw: np.ndarray, tables: np.ndarray) -> np.ndarray:
    """Each output pixel takes its colours from the 2x2 block of samples whose top-left it is
    (red at even row and column, blue at odd ones); at the last row and column the block is
    cut to the frame and red, which the cut block lacks, comes from the neighbouring pixel."""
    h, w = raw.shape
    s = raw.astype(np.int64)
    red_t, green_t, blue_t = tables
    out = np.zeros((h, w, 3), dtype=np.uint16)
    y = np.arange(h - 1)[:, None]
    x = np.arange(w - 1)[None, :]
    odd_y, odd_x = y & 1, x & 1
    red = s[y + odd_y, x + odd_x]
    blue = s[y + 1 - odd_y, x + 1 - odd_x]
    on_diagonal = ((y + x) & 1) == 0  # the block's greens are then off its top-left
    g1 = np.where(on_diagonal, s[y, x + 1], s[y, x])
    g2 = np.where(on_diagonal, s[y + 1, x], s[y + 1, x + 1])
    out[:h - 1, :w - 1, 2] = red_t[red]
    out[:h - 1, :w - 1, 1] = green_t[(g1 + g2) >> 1]
    out[:h - 1, :w - 1, 0] = blue_t[blue]
    # Last column: a cut block of one green and one blue.
    rows = np.arange(h - 1)
    last = w - 1
    out[:h - 1, last, 1] = green_t[s[rows + (rows & 1), last]]
    out[:h - 1, last, 0] = blue_t[s[rows + 1 - (rows & 1), last]]
    out[:h - 1, last, 2] = out[:h - 1, last - 1, 2]
    # Last row (odd): greens at even columns, blues at odd ones.
    columns = np.arange(w - 1)
    bottom = h - 1
    out[bottom, :w - 1, 1] = green_t[s[bottom, columns + (columns & 1)]]
    out[bottom, :w - 1, 0] = blue_t[s[bottom, columns + 1 - (columns & 1)]]
    out[bottom, :w - 1, 2] = out[bottom - 1, :w - 1, 2]
    # Bottom-right corner.
    out[bottom, last, 0] = blue_t[s[bottom, last]]
    out[bottom, last, 2] = out[bottom, last - 1, 2]
    out[bottom, last, 1] = green_t[(s[bottom - 1, last] + s[bottom, last - 1]) >> 1]
    return out


# -- colour ratios, and grey from them ---------------------------------------------------------

def _neighbours(g: np.ndarray, rows: np.ndarray, columns: np.ndarray) -> np.ndarray:
    """The four greens (up, down, left, right) of the sites rows x columns, mirrored across
    the frame's edges, sorted along the last axis."""
    h, w = g.shape
    up, down = np.abs(rows - 1), rows + 1
    down = np.where(down >= h, h - 2, down)
    left, right = np.abs(columns - 1), columns + 1
    right = np.where(right >= w, w - 2, right)
    return np.sort(np.stack([g[up, columns], g[down, columns], g[rows, left],
                             g[rows, right]], axis=-1), axis=-1)


def _median3(a, b, c):
    return np.maximum(np.minimum(a, b), np.minimum(np.maximum(a, b), c))


def _median_filter(ratios: np.ndarray) -> np.ndarray:
    """Separable 3x3 median over a lattice of same-colour sites; a neighbour beyond the
    lattice is the centre itself."""
    def along(r, axis):
        before = np.concatenate([np.take(r, [0], axis), np.take(r, range(r.shape[axis] - 1),
                                                               axis)], axis)
        after = np.concatenate([np.take(r, range(1, r.shape[axis]), axis),
                                np.take(r, [r.shape[axis] - 1], axis)], axis)
        return _median3(before, r, after)
    return along(along(ratios, 1), 0)


def assemble_ratio_grey(raw: np.ndarray, tables: np.ndarray) -> np.ndarray:
    """Grey at binning 1 through the colour-ratio method: greens at colour sites from the
    middle pair of their green neighbours, colour as ratio to green (1024 = 1) smoothed by
    medians and pulled toward neutral at strong green contrast, green resampled half a pixel,
    then grey = (((blue + red) >> 1) + green) >> 1."""
    h, w = raw.shape
    s = raw.astype(np.int64)
    t = tables.astype(np.int64)
    colour = np.ones((h, w), dtype=np.int64)  # green
    colour[0::2, 0::2], colour[1::2, 1::2] = 0, 2
    g = np.choose(colour, [t[0][s], t[1][s], t[2][s]])
    mosaic = g.copy()
    ratios = {}
    sites = {"red": (0, 0), "blue": (1, 1)}
    for name, (oy, ox) in sites.items():
        rows = np.arange(oy, h, 2)[:, None]
        columns = np.arange(ox, w, 2)[None, :]
        own = mosaic[rows, columns]
        n = _neighbours(mosaic, rows, columns)
        lo, hi = n[..., 1], n[..., 2]
        safe_lo, safe_hi = np.maximum(lo, 1), np.maximum(hi, 1)
        green = np.where(lo == 0, 0, np.where(own > hi, hi, np.where(own <= lo, lo, own)))
        ratio = np.where(lo == 0, 1024,
                         np.where(own > hi, np.minimum(own * 1024 // safe_hi, 65535),
                                  np.where(own <= lo, own * 1024 // safe_lo, 1024)))
        ratio = _median_filter(ratio)
        green = np.minimum(own * 1024 // (ratio + 1), FULL)
        # Refinement against the neighbours' spread (strength 512).
        low, high = n[..., 0], n[..., 3]
        a = 1024 - ((high - low) * 512) // np.maximum(high, 1)
        green = np.where(lo == 0, 0, np.clip(green, lo, hi))
        refined = _tdiv((own - green) * a, np.maximum(green, 1)) + 1024
        ratio = np.where((lo == 0) | (a <= 0), 1024, np.minimum(refined, 65535))
        g[rows, columns] = green
        ratios[name] = ratio
    inner = g.copy()
    y0, y1, x0, x1 = 1, h - 2, 1, w - 2
    block = (g[y0:y1, x0:x1] + g[y0:y1, x0 + 1:x1 + 1] + g[y0 + 1:y1 + 1, x0:x1]
             + g[y0 + 1:y1 + 1, x0 + 1:x1 + 1])
    ring = (g[y0 - 1:y1 - 1, x0:x1] + g[y0 - 1:y1 - 1, x0 + 1:x1 + 1]
            + g[y0:y1, x0 - 1:x1 - 1] + g[y0 + 1:y1 + 1, x0 - 1:x1 - 1]
            + g[y0:y1, x0 + 2:x1 + 2] + g[y0 + 1:y1 + 1, x0 + 2:x1 + 2]
            + g[y0 + 2:y1 + 2, x0:x1] + g[y0 + 2:y1 + 2, x0 + 1:x1 + 1])
    inner[y0:y1, x0:x1] = np.clip((6 * block - ring) >> 4, 0, FULL)
    g = inner
    red_ratio = np.repeat(np.repeat(_median_filter(ratios["red"]), 2, 0), 2, 1)
    blue_ratio = np.repeat(np.repeat(_median_filter(ratios["blue"]), 2, 0), 2, 1)
    red = np.minimum((g * red_ratio + 512) >> 10, FULL)
    blue = np.minimum((g * blue_ratio + 512) >> 10, FULL)
    return ((((blue + red) >> 1) + g) >> 1).astype(np.uint16)


# -- colour interpolation by local regression --------------------------------------------------

def _directional_green(m: np.ndarray, oy: int, ox: int):
    """Green at the sites (oy + 2i, ox + 2j) of mosaic m, weighting the horizontal and the
    vertical mean by the square of the other direction's activity, and the site's pair
    (green, own) scaled by min(H, V) / max(H, V). Neighbours beyond the frame are mirrored
    across its edge; the first and last column pair leave the diagonal differences out."""
    h, w = m.shape
    rows = np.arange(oy, h, 2)[:, None]
    columns = np.arange(ox, w, 2)[None, :]
    up, down = np.abs(rows - 1), np.where(rows + 1 >= h, h - 2, rows + 1)
    left, right = np.abs(columns - 1), np.where(columns + 1 >= w, w - 2, columns + 1)
    own = m[rows, columns]
    n_up, n_down = m[up, columns], m[down, columns]
    n_left, n_right = m[rows, left], m[rows, right]
    ul, ur, dl, dr = m[up, left], m[up, right], m[down, left], m[down, right]
    H, V, D = n_left + n_right, n_up + n_down, ul + ur + dl + dr
    dh, dv = (n_left - n_right).astype(np.float64), (n_up - n_down).astype(np.float64)
    Dh = ((ul + dl) - (ur + dr)).astype(np.float64)
    Dv = ((ul + ur) - (dl + dr)).astype(np.float64)
    inner = (columns >= 2) & (columns < w - 2)
    cross_v = (3 * H - D - V).astype(np.float64)
    cross_h = (3 * V - D - H).astype(np.float64)
    Mv = cross_v * cross_v / 16.0 + dv * dv + np.where(inner, Dv * Dv / 4.0, 0.0)
    Mh = cross_h * cross_h / 16.0 + dh * dh + np.where(inner, Dh * Dh / 4.0, 0.0)
    Wh, Wv = Mv * Mv, Mh * Mh
    total = Wh + Wv
    flat = total < 1.0
    blended = (H.astype(np.float64) * Wh + V.astype(np.float64) * Wv) \
        / np.where(flat, 1.0, total * 2.0)
    green = np.where(flat, (H + V) >> 2, np.trunc(blended).astype(np.int64))
    big, small = np.maximum(H, V), np.minimum(H, V)
    safe = np.maximum(big, 1)
    x = np.where(H == V, green, green * small // safe)
    y = np.where(H == V, own, own * small // safe)
    return green, x, y


def _lattices(values: np.ndarray) -> np.ndarray:
    """For every inner cell (i, j), 1 <= i < rows - 1, 1 <= j < columns - 1, the nine
    values of sites (i - 1 .. i + 1, j - 1 .. j + 1), row by row."""
    r, c = values.shape
    return np.stack([values[a:r - 2 + a, b:c - 2 + b] for a in range(3) for b in range(3)],
                    axis=-1)


def fit_colour_lines(x: np.ndarray, y: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """Least-squares lines through the nine pairs along the last axis and the anchors
    (16383, 16383), (0, 0), sums in 32-bit unsigned integers, refitted without the point of
    the largest squared residual (the first of equals)."""
    shape = x.shape[:-1]
    anchors = np.broadcast_to(np.array([FULL, 0], dtype=np.uint64), shape + (2,))
    x = np.concatenate([x.astype(np.uint64), anchors], axis=-1)
    y = np.concatenate([y.astype(np.uint64), anchors], axis=-1)
    wrap = np.uint64(0xFFFFFFFF)
    sx, sy = x.sum(axis=-1) & wrap, y.sum(axis=-1) & wrap
    sxx, sxy = (1 + (x * x).sum(axis=-1)) & wrap, (1 + (x * y).sum(axis=-1)) & wrap

    def line(n, sx, sy, sxx, sxy):
        sx, sy, sxx, sxy = (v.astype(np.float64) for v in (sx, sy, sxx, sxy))
        delta = n * sxx - sx * sx
        return (n * sxy - sy * sx) / delta, (sy * sxx - sxy * sx) / delta

    slope, intercept = line(11.0, sx, sy, sxx, sxy)
    xf, yf = x.astype(np.float64), y.astype(np.float64)
    residual = xf * slope[..., None] + intercept[..., None] - yf
    worst = np.argmax(residual * residual, axis=-1)[..., None]
    xk = np.take_along_axis(x, worst, -1)[..., 0]
    yk = np.take_along_axis(y, worst, -1)[..., 0]
    return line(10.0, (sx - xk) & wrap, (sy - yk) & wrap, (sxx - xk * xk) & wrap,
                (sxy - xk * yk) & wrap)


def _resample_half_pixel(c: np.ndarray) -> np.ndarray:
    """(6 * the 2x2 block up-left of each pixel - the block's eight edge neighbours) >> 4; a
    row beyond the frame is the pixel's own row, a column beyond it the edge column."""
    h, w = c.shape
    y = np.arange(h)[:, None]
    x = np.arange(w)[None, :]

    def row(dy):
        r = y + dy
        return np.where((r < 0) | (r >= h), y, r)

    def column(dx):
        return np.clip(x + dx, 0, w - 1)

    inside = c[row(-1), column(-1)] + c[row(-1), column(0)] + c[row(0), column(-1)] + c
    outside = (c[row(-2), column(-1)] + c[row(-2), column(0)] + c[row(-1), column(-2)]
               + c[row(0), column(-2)] + c[row(-1), column(1)] + c[row(0), column(1)]
               + c[row(1), column(-1)] + c[row(1), column(0)])
    return np.clip((6 * inside - outside) >> 4, 0, FULL)


def assemble_regression(raw: np.ndarray, tables: np.ndarray) -> np.ndarray:
    """Colour at binning 1 through local regression: directional green at the colour sites,
    per cell a line of red (blue) on green fitted to the scaled pairs of its 3x3 red (blue)
    sites and applied to the cell's four greens, a two-pixel frame from colour differences
    to the nearest inner row and column, then every channel resampled half a pixel."""
    h, w = raw.shape
    s = raw.astype(np.int64)
    t = tables.astype(np.int64)
    colour = np.ones((h, w), dtype=np.int64)
    colour[0::2, 0::2], colour[1::2, 1::2] = 0, 2
    m = np.choose(colour, [t[0][s], t[1][s], t[2][s]])
    green = m.copy()
    pairs = {}
    for name, (oy, ox) in (("red", (0, 0)), ("blue", (1, 1))):
        green[oy::2, ox::2], *pairs[name] = _directional_green(m, oy, ox)
    channels = {}
    for name, (x, y) in pairs.items():
        slope, intercept = fit_colour_lines(_lattices(x), _lattices(y))
        # Cell (i, j) of the fits covers pixels 2i .. 2i + 1, 2j .. 2j + 1.
        slope = np.repeat(np.repeat(slope, 2, 0), 2, 1)
        intercept = np.repeat(np.repeat(intercept, 2, 0), 2, 1)
        channels[name] = np.zeros((h, w), dtype=np.int64)
        channels[name][2:h - 2, 2:w - 2] = np.trunc(np.clip(
            green[2:h - 2, 2:w - 2].astype(np.float64) * slope + intercept, 0.0, float(FULL)))
    for c in channels.values():
        for rows, source in ((slice(0, 2), 2), (slice(h - 2, h), h - 3)):
            c[rows, 2:w - 2] = np.clip(green[rows, 2:w - 2]
                                       + (c[source, 2:w - 2] - green[source, 2:w - 2]), 0, FULL)
        for columns, source in ((slice(0, 2), 2), (slice(w - 2, w), w - 3)):
            c[:, columns] = np.clip(green[:, columns]
                                    + (c[:, source:source + 1] - green[:, source:source + 1]),
                                    0, FULL)
    out = np.empty((h, w, 3), dtype=np.uint16)
    out[..., 2] = _resample_half_pixel(channels["red"])
    out[..., 1] = _resample_half_pixel(green)
    out[..., 0] = _resample_half_pixel(channels["blue"])
    return out


# -- grey and binned output --------------------------------------------------------------------

def output_size(width: int, height: int, binning: int) -> tuple[int, int]:
    """(width, height) of grey and binned images: both divided by the binning, rounded down
    to even."""
    return (width // binning) // 2 * 2, (height // binning) // 2 * 2


def assemble_grey(raw: np.ndarray, width: int, height: int, binning: int) -> np.ndarray:
    """Output row j from raw row j; each sample the integer mean of `binning` neighbours."""
    w, h = output_size(width, height, binning)
    s = raw[:h].astype(np.int64)
    groups = s[:, :w * binning].reshape(h, w, binning)
    return (groups.sum(axis=2) // binning).astype(np.uint16)


def _tdiv(n: np.ndarray, d: np.ndarray) -> np.ndarray:
    """Integer division truncating toward zero, as the binned formulas divide."""
    q = np.abs(n) // np.abs(d)
    return np.where((n < 0) != (d < 0), -q, q)


def _parity_means(line: np.ndarray, w: int, binning: int) -> tuple[np.ndarray, np.ndarray]:
    """Per output pixel k of a raw row, the means of the group's samples in even and in odd
    raw columns: pairs as (p + q) >> 1, triples as (p + 2q + r) >> 2, singles as they are."""
    groups = line[:w * binning].reshape(w, binning)
    starts_even = (np.arange(w) * binning) % 2 == 0
    if binning == 3:
        pair, single_ = (groups[:, 0] + groups[:, 2]) >> 1, groups[:, 1]
        return np.where(starts_even, pair, single_), np.where(starts_even, single_, pair)
    triple = (groups[:, 0] + 2 * groups[:, 2] + groups[:, 4]) >> 2
    pair = (groups[:, 1] + groups[:, 3]) >> 1
    return np.where(starts_even, triple, pair), np.where(starts_even, pair, triple)


def assemble_binned(raw: np.ndarray, width: int, height: int, binning: int,
                    tables: np.ndarray) -> np.ndarray:
    """Binning 3 or 5 mixes two and three (or three and two) sensor rows of each mosaic row
    type in one raw row; the mixtures are solved for red, green and blue per output pixel."""
    w, h = output_size(width, height, binning)
    s = raw.astype(np.int64)
    out = np.empty((h, w, 3), dtype=np.uint16)
    for j in range(h // 2):
        a, b = _parity_means(s[2 * j], w, binning)
        c, d = _parity_means(s[2 * j + 1], w, binning)
        if binning == 3:
            n = 4 * c * b - d * a
            den = d + 2 * c
            g0 = np.where(den > 0, _tdiv(n, np.maximum(den, 1)), 2 * b - a)
            r0, b0 = (3 * a - g0) >> 1, 3 * b - 2 * g0
            den = a + 2 * b
            g1 = np.where(den > 0, _tdiv(n, np.maximum(den, 1)), 2 * c - d)
            r1, b1 = 3 * c - 2 * g1, (3 * d - g1) >> 1
        else:
            n = 9 * c * b - 4 * d * a
            den = 2 * d + 3 * c
            g0 = np.where(den > 0, _tdiv(n, np.maximum(den, 1)), 3 * b - 2 * a)
            r0, b0 = _tdiv(5 * a - 2 * g0, 3), (5 * b - 3 * g0) >> 1
            den = 3 * b + 2 * a
            g1 = np.where(den > 0, _tdiv(n, np.maximum(den, 1)), 3 * c - 2 * d)
            r1, b1 = (5 * c - 3 * g1) >> 1, _tdiv(5 * d - 2 * g1, 3)
        for row, (r, g, bl) in ((2 * j, (r0, g0, b0)), (2 * j + 1, (r1, g1, b1))):
            out[row, :, 2] = tables[0][np.clip(r, 0, FULL)]
            out[row, :, 1] = tables[1][np.clip(g, 0, FULL)]
            out[row, :, 0] = tables[2][np.clip(bl, 0, FULL)]
    return out


def assemble_mono(raw: np.ndarray, width: int, height: int, binning: int) -> np.ndarray:
    """Monochrome model: the image is the first (h / b / 2) x (w / b / 2) x 4 samples of the
    frame as they lie, in rows of the output width."""
    w, h = output_size(width, height, binning)
    return raw.ravel()[:w * h].reshape(h, w).copy()


# -- colour matrix -----------------------------------------------------------------------------

def apply_colour_matrix(image: np.ndarray, tables: np.ndarray, clamp: np.ndarray) -> np.ndarray:
    """Output colour r sums T(3r + c) of input colour c (c 0 red = channel 2) and clamps."""
    s = image.astype(np.int64)
    tables = tables.astype(np.int64)
    colours = [s[..., 2], s[..., 1], s[..., 0]]
    out = np.empty_like(image)
    for r in range(3):
        total = tables[3 * r][colours[0]] + tables[3 * r + 1][colours[1]] \
            + tables[3 * r + 2][colours[2]]
        out[..., 2 - r] = clamp[total]
    return out
