"""Reference of the lip contour in numpy, as the library draws it from a lip template and a frame's
63 keypoint floats: the polygon, its box, the scanline fill (whole-pixel vertices, crossings in
16.16 fixed point, even-odd pairs), the two-pass chamfer distance (float32, steps 0.955 and 1.3693),
the smoothstep feather, the pi mask limited by it, and the shifted form. Values the library keeps
as float32 are float32 here; everything else is float64 or exact integers, so results agree bit
for bit.

Usage: lip_ref.py OUT [--preset test]  writes one folder per case of CASES under OUT (see write).
"""

import argparse
import json
import math
import os
import sys

import numpy as np

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))

import keypoints     # noqa: E402
import lip_template  # noqa: E402
import pi_ref        # noqa: E402

F32 = np.float32
FIXED_ONE = 1 << 16
COORD_LIMIT = 1 << 20
AXIAL, DIAGONAL, FAR = F32(0.955), F32(1.3693), F32(1e10)
MIN_SPREAD = 1e-6
BOX_MARGIN = 2.0
DEFAULT_MAP_ROWS = (17, 18, 19, 20)
# The bundles' pi geometry (corpus v1) and canonical centre at crop 64, scaled with the crop.
PI_GEOM = (0.05, 0.08, 0.015)
C_CANON_64 = (31.5, 41.25)


class Template:
    """What the library keeps of a template document."""

    def __init__(self, doc):
        self.feather = float(F32(doc["feather_px"]))
        self.u = [(float(x), float(y)) for x, y in doc["u_canon"]]
        self.rows = [int(r) for r in doc["lip_idx"]]
        self.W = self.b = None
        lip_map = doc.get("lip_map")
        if lip_map is not None:
            self.rows = [int(r) for r in lip_map.get("lip_idx", DEFAULT_MAP_ROWS)]
            self.W = [[float(w) for w in row] for row in lip_map["W"]]
            self.b = [float(v) for v in lip_map["b"]]


def _mean_in_order(values):
    total = 0.0
    for v in values:
        total += v
    return total / len(values)


def polygon(t, kp, canvas):
    """Vertices as a flat list x0, y0, x1, y1, ... (canvas pixels)."""
    half = float(canvas) * 0.5
    px = [(float(kp[r * 3]) + 1.0) * half for r in t.rows]
    py = [(float(kp[r * 3 + 1]) + 1.0) * half for r in t.rows]
    mx, my = _mean_in_order(px), _mean_in_order(py)
    if t.W is not None:
        verts = []
        for i, (w, b) in enumerate(zip(t.W, t.b)):
            v = b
            for j in range(len(t.rows)):
                v += w[2 * j] * (px[j] - mx)
                v += w[2 * j + 1] * (py[j] - my)
            verts.append(v + (mx if i % 2 == 0 else my))
        return verts
    sx = max(max(max(abs(x - mx) for x in px), 0.0), MIN_SPREAD)
    sy = max(max(max(abs(y - my) for y in py), 0.0), MIN_SPREAD)
    verts = []
    for ux, uy in t.u:
        verts += [sx * ux + mx, sy * uy + my]
    return verts


def box(t, verts, canvas):
    xs, ys = verts[0::2], verts[1::2]
    reach = t.feather + BOX_MARGIN
    x0 = max(math.floor(min(xs) - reach), 0)
    y0 = max(math.floor(min(ys) - reach), 0)
    x1 = min(math.ceil(max(xs) + reach) + 1, canvas)
    y1 = min(math.ceil(max(ys) + reach) + 1, canvas)
    return x0, y0, max(x1, x0), max(y1, y0)


def _whole(v):
    return max(-COORD_LIMIT, min(COORD_LIMIT, round(v)))


def _trunc_div(n, d):
    q = abs(n) // abs(d)
    return q if (n < 0) == (d < 0) else -q


def fill(verts, b):
    """Even-odd scanline fill inside box b: h x w uint8 of 0 and 1."""
    x0, y0, x1, y1 = b
    w, h = x1 - x0, y1 - y0
    n = len(verts) // 2
    edges = []
    for i in range(n):
        j = (i + 1) % n
        xa, ya = _whole(verts[2 * i] - x0), _whole(verts[2 * i + 1] - y0)
        xb, yb = _whole(verts[2 * j] - x0), _whole(verts[2 * j + 1] - y0)
        if ya == yb:
            continue
        if ya > yb:
            xa, ya, xb, yb = xb, yb, xa, ya
        edges.append((ya, yb, xa * FIXED_ONE, _trunc_div((xb - xa) * FIXED_ONE, yb - ya)))
    inside = np.zeros((h, w), dtype=np.uint8)
    for y in range(h):
        crossings = sorted(x + (y - top) * step for top, bottom, x, step in edges if top <= y < bottom)
        for first, second in zip(crossings[0::2], crossings[1::2]):
            start = max((first + FIXED_ONE - 1) >> 16, 0)
            stop = min(second >> 16, w - 1)
            if start <= stop:
                inside[y, start:stop + 1] = 1
    return inside


def _scan(row, step):
    """row[x] = min(row[x], row[x - 1] + step) from left to right, in float32."""
    for x in range(1, len(row)):
        row[x] = min(row[x], row[x - 1] + step)


def chamfer(inside):
    """Two-pass chamfer distance (float32) from the inside pixels."""
    h, w = inside.shape
    d = np.where(inside != 0, F32(0.0), FAR).astype(F32)
    for y in range(h):
        if y > 0:
            d[y] = np.minimum(d[y], _from_neighbour_row(d[y - 1]))
        _scan(d[y], AXIAL)
    for y in range(h - 1, -1, -1):
        if y + 1 < h:
            d[y] = np.minimum(d[y], _from_neighbour_row(d[y + 1]))
        reversed_row = d[y][::-1]
        _scan(reversed_row, AXIAL)
    return d


def _from_neighbour_row(r):
    """Each pixel's best distance through the row above (or below): straight or diagonal."""
    best = r + AXIAL
    best[1:] = np.minimum(best[1:], r[:-1] + DIAGONAL)
    best[:-1] = np.minimum(best[:-1], r[1:] + DIAGONAL)
    return best


def feather_alpha(d, feather):
    t = 1.0 - d.astype(np.float64) / feather
    s = np.minimum(t, 1.0)
    return np.where(t > 0, s * s * (3.0 - 2.0 * s), 0.0).astype(F32)


def alpha_in_box(t, verts, b):
    return feather_alpha(chamfer(fill(verts, b)), t.feather)


def contour_canvas(t, kp, canvas):
    verts = polygon(t, kp, canvas)
    x0, y0, x1, y1 = box(t, verts, canvas)
    out = np.zeros((canvas, canvas), dtype=F32)
    if x1 > x0 and y1 > y0:
        out[y0:y1, x0:x1] = alpha_in_box(t, verts, (x0, y0, x1, y1))
    return out


def _mask_bytes(m):
    return np.where(m > 0, np.rint(np.minimum(m, 1.0) * 255.0), 0).astype(np.uint8)


def _pi_parts(kp, canvas, u):
    """The lip ellipse, and the gate ellipse times its value, over the canvas (float64)."""
    k = kp.reshape(21, 3)
    gate, g = pi_ref.gate_params(k, u)
    return pi_ref.soft_ellipse(pi_ref.lip_params(k, u), canvas), pi_ref.soft_ellipse(gate, canvas) * g


def delivered(t, kp, canvas, u):
    """The pi mask limited by the contour: per pixel min(alpha, pi) inside the box, as bytes."""
    verts = polygon(t, kp, canvas)
    x0, y0, x1, y1 = box(t, verts, canvas)
    out = np.zeros((canvas, canvas), dtype=np.uint8)
    if x1 <= x0 or y1 <= y0:
        return out
    limit = alpha_in_box(t, verts, (x0, y0, x1, y1)).astype(np.float64)
    lip, gated = _pi_parts(kp, canvas, u)
    pi = np.minimum(np.maximum(lip, gated), 1.0)[y0:y1, x0:x1]
    out[y0:y1, x0:x1] = np.where(limit > 0, _mask_bytes(np.minimum(limit, pi)), 0)
    return out


def ell_box(e, canvas):
    if canvas < 2:
        return 0, 0, canvas, canvas
    cx, cy, ax, ay, _r = e
    h = (canvas - 1) * 0.5
    x0 = max(math.floor((cx - ax + 1.0) * h) - 1, 0)
    y0 = max(math.floor((cy - ay + 1.0) * h) - 1, 0)
    x1 = min(math.ceil((cx + ax + 1.0) * h) + 2, canvas)
    y1 = min(math.ceil((cy + ay + 1.0) * h) + 2, canvas)
    return x0, y0, max(x1, x0), max(y1, y0)


def _boxes(kp, canvas, u):
    k = kp.reshape(21, 3)
    return ell_box(pi_ref.lip_params(k, u), canvas), ell_box(pi_ref.gate_params(k, u)[0], canvas)


def support_box(kp, canvas, u):
    a, b = _boxes(kp, canvas, u)
    return min(a[0], b[0]), min(a[1], b[1]), max(a[2], b[2]), max(a[3], b[3])


def pi_boxed(kp, canvas, u):
    whole = pi_ref.pi_u8(kp.reshape(21, 3), canvas, u)
    out = np.zeros_like(whole)
    for x0, y0, x1, y1 in _boxes(kp, canvas, u):
        out[y0:y1, x0:x1] = whole[y0:y1, x0:x1]
    return out


def shift_of(mask, b, c_canon, canvas):
    """(found, row shift, column shift) of the mask's bytes >= 128 inside box b."""
    x0, y0 = max(b[0], 0), max(b[1], 0)
    ys, xs = np.nonzero(mask[y0:min(b[3], canvas), x0:min(b[2], canvas)] >= 128)
    if len(xs) == 0:
        return False, 0, 0
    cx = F32(float(np.sum(xs + x0, dtype=np.float64)) / len(xs))
    cy = F32(float(np.sum(ys + y0, dtype=np.float64)) / len(ys))
    return True, round(float(cy) - float(c_canon[1])), round(float(cx) - float(c_canon[0]))


def shrink(t, kp, canvas, b, mask):
    """Inside box b: bytes outside the contour's box become 0, the others min(byte, alpha byte).
    Returns whether a byte in b stays non-zero."""
    verts = polygon(t, kp, canvas)
    cx0, cy0, cx1, cy1 = box(t, verts, canvas)
    alpha = np.zeros((canvas, canvas), dtype=np.float64)
    if cx1 > cx0 and cy1 > cy0:
        alpha[cy0:cy1, cx0:cx1] = alpha_in_box(t, verts, (cx0, cy0, cx1, cy1))
    x0, y0, x1, y1 = max(b[0], 0), max(b[1], 0), min(b[2], canvas), min(b[3], canvas)
    region = mask[y0:y1, x0:x1]
    region[...] = np.minimum(region, _mask_bytes(alpha[y0:y1, x0:x1]))
    return bool(np.any(region))


def delivered_and_shift(t, kp, canvas, u, c_canon):
    """(mask, found, row shift, column shift): the shift from the ellipse, then the shrinking."""
    mask = pi_boxed(kp, canvas, u)
    found, rows, cols = shift_of(mask, support_box(kp, canvas, u), c_canon, canvas)
    shrink(t, kp, canvas, support_box(kp, canvas, u), mask)
    return mask, found, rows, cols


def frames(idle):
    """Keypoint frames (F x 63 float32) of the person: idle frames with the mouth opened from closed
    to wide, the pi reference's poses, the mouth across the canvas's lower right corner, the
    mouth beyond the canvas (an empty box), and the lip anchors collapsed onto one point."""
    out = [keypoints.open_mouth(idle[i % len(idle)], a) for i, a in enumerate((0.0, 0.03, 0.08, 0.15))]
    out += list(pi_ref.poses())
    corner = keypoints.open_mouth(idle[1], 0.05)
    corner[:, 0] += 0.55
    corner[:, 1] += 0.62
    beyond = np.array(idle[2], copy=True)
    beyond[:, 0] += 3.0
    collapsed = np.array(idle[3], copy=True)
    collapsed[list(DEFAULT_MAP_ROWS)] = collapsed[14]
    out += [corner, beyond, collapsed]
    return np.stack(out).astype(F32).reshape(len(out), 63)


# Case name -> (canvas, with the map).
CASES = {"nomap-64": (64, False), "map-64": (64, True), "nomap-128": (128, False), "map-128": (128, True)}


def write_case(out, canvas, with_map, kps):
    """template.json, manifest.json (a `unified` block), kp.f32 (F x 63), c_canon.f32, and the
    reference outputs per frame: verts.f64 (F x 2 nv), box.i32 (F x 4), alpha.f32 (F x canvas^2,
    the contour over the canvas), delivered.u8 (F x canvas^2), shifted.u8 (F x canvas^2, the
    shifted form's mask) and shift.i32 (F x 3: found, row shift, column shift; 0 when not found)."""
    os.makedirs(out, exist_ok=True)
    text = lip_template.dumps(lip_template.template(canvas, with_map))
    t = Template(json.loads(text))
    unified = pi_ref.unified_block(canvas, geom=PI_GEOM)
    c_canon = np.array(C_CANON_64, dtype=F32) * F32(canvas / 64.0)
    files = {"verts.f64": [], "box.i32": [], "alpha.f32": [], "delivered.u8": [], "shifted.u8": [],
             "shift.i32": []}
    for kp in kps:
        verts = polygon(t, kp, canvas)
        files["verts.f64"].append(np.array(verts, dtype=np.float64))
        files["box.i32"].append(np.array(box(t, verts, canvas), dtype=np.int32))
        files["alpha.f32"].append(contour_canvas(t, kp, canvas))
        files["delivered.u8"].append(delivered(t, kp, canvas, unified["pi"]))
        mask, found, rows, cols = delivered_and_shift(t, kp, canvas, unified["pi"], c_canon)
        files["shifted.u8"].append(mask)
        files["shift.i32"].append(np.array([int(found), rows, cols], dtype=np.int32))
    with open(os.path.join(out, "template.json"), "w") as f:
        f.write(text)
    with open(os.path.join(out, "manifest.json"), "w") as f:
        json.dump({"crop": canvas, "unified": unified}, f)
    kps.astype("<f4").tofile(os.path.join(out, "kp.f32"))
    c_canon.astype("<f4").tofile(os.path.join(out, "c_canon.f32"))
    for name, arrays in files.items():
        np.stack(arrays).tofile(os.path.join(out, name))


def write(out, idle):
    """Every case of CASES under out, from the person's idle keypoints (NT x 21 x 3)."""
    kps = frames(idle)
    for name, (canvas, with_map) in CASES.items():
        write_case(os.path.join(out, name), canvas, with_map, kps)


def main(argv):
    import bundle
    import presets
    ap = argparse.ArgumentParser(prog="lip_ref")
    ap.add_argument("out")
    ap.add_argument("--preset", default="test", choices=sorted(presets.PRESETS))
    args = ap.parse_args(argv)
    write(args.out, bundle.Person(presets.make_config(args.preset)).kps)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
