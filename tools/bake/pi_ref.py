"""Reference of the mouth-interior (pi) mask in numpy: the union of a soft ellipse around the lip
landmarks and a teeth gate that opens with the mouth, as the library draws it from a frame's 21
keypoints and the manifest's `unified.pi` geometry. Values the library keeps as float32 (grid,
landmark statistics, ellipse parameters) are rounded to float32 here too; everything else is
float64, so the bytes agree exactly.

Usage: pi_ref.py OUT_DIR --canvas N  writes OUT_DIR/manifest.json (a `unified` block for our
person), kp.f32 (frames x 63: neutral, opened, sideways and corner-recovery poses) and pi.u8 (the
masks, frames x N x N) and pi_corner.u8 (with corner_recovery on and the tight pads of CORNER_GEOM).
"""
import argparse
import json
import os

import numpy as np

import keypoints

F32 = np.float32
CORNER_GEOM = (0.02, 0.02, 0.074)


def unified_block(canvas, corner_recovery=False, geom=(0.10, 0.08, 0.074)):
    return {"pi": {"mode": "prop", "corner_recovery": corner_recovery, "prop_gate_scale": 1.0,
                   "lip_idx": list(keypoints.LIP_ROWS), "lip_geom_params": list(geom)},
            "crop": {"canvas": canvas}}


def _f(x):
    return np.float64(F32(x))


def _smoothstep(t):
    return t * t * (3.0 - 2.0 * t)


def _stats(kp, lip_idx):
    xs = kp[list(lip_idx), 0].astype(np.float64)
    ys = kp[list(lip_idx), 1].astype(np.float64)
    mx, my = np.sum(xs) / len(lip_idx), np.sum(ys) / len(lip_idx)
    return mx, my, np.max(np.abs(xs - mx)), np.max(np.abs(ys - my))


def _sum_in_order(values):
    total = 0.0
    for v in values:
        total += float(v)
    return total


def lip_stats(kp, lip_idx):
    xs = [np.float64(kp[i, 0]) for i in lip_idx]
    ys = [np.float64(kp[i, 1]) for i in lip_idx]
    mx, my = _sum_in_order(xs) / len(xs), _sum_in_order(ys) / len(ys)
    dx = max(abs(x - mx) for x in xs)
    dy = max(abs(y - my) for y in ys)
    return _f(mx), _f(my), _f(dx), _f(dy)


def lip_params(kp, u):
    mx, my, dx, dy = lip_stats(kp, u["lip_idx"])
    pad_x, pad_y, down = (_f(v) for v in u["lip_geom_params"])
    cx, cy = mx, my + down
    ax, ay = max(0.1, dx + pad_x), max(0.1, dy + pad_y)
    if u["corner_recovery"]:
        rho = max(np.sqrt(((np.float64(kp[i, 0]) - cx) / ax) ** 2 + ((np.float64(kp[i, 1]) - cy) / ay) ** 2)
                  for i in u["lip_idx"])
        r = np.sqrt(ax * ay) * 256.0
        grow = max(1.0, 5.0 / r + rho)
        ax, ay = ax * grow, ay * grow
    return _f(cx), _f(cy), _f(ax), _f(ay), _f(np.sqrt(ax * ay) * 256.0)


def gate_params(kp, u):
    mx, my, dx, dy = lip_stats(kp, u["lip_idx"])
    ax, ay = max(dx, 0.004), max(dy, 0.004)
    t = (dy - 0.02) / 0.01
    g = 0.0 if t < 0 else _f(_smoothstep(min(max(t, 0.0), 1.0)))
    return (mx, my, _f(ax), _f(ay), _f(np.sqrt(ax * ay) * 256.0)), g


def soft_ellipse(e, canvas):
    cx, cy, ax, ay, r = e
    grid = np.array([F32(i * 2.0 / (canvas - 1) - 1.0) if canvas > 1 else F32(-1.0)
                     for i in range(canvas)]).astype(np.float64)
    u = (grid[None, :] - cx) / ax
    v = (grid[:, None] - cy) / ay
    edge = r * (1.0 - np.sqrt(u * u + v * v)) / 10.0
    value = _smoothstep(np.minimum(edge, 1.0))
    return np.where(edge < 0, 0.0, value.astype(F32).astype(np.float64))


def pi_u8(kp, canvas, u):
    lip = soft_ellipse(lip_params(kp, u), canvas)
    gate_e, g = gate_params(kp, u)
    m = np.maximum(lip, soft_ellipse(gate_e, canvas) * g)
    m = np.minimum(m, 1.0)
    return np.where(m > 0, np.rint(m * 255.0), 0).astype(np.uint8)


def poses():
    base = keypoints.neutral()
    side = base.copy()
    side[:, 0] += 0.07
    side[:, 1] -= 0.03
    wide = keypoints.open_mouth(base, 0.12)
    wide[17, 0] -= 0.05
    wide[18, 0] += 0.05
    return np.stack([base, keypoints.open_mouth(base, 0.04), keypoints.open_mouth(base, 0.15),
                     keypoints.open_mouth(side, 0.09), wide]).astype(F32)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--canvas", type=int, default=64)
    args = ap.parse_args()
    kps = poses()
    u = unified_block(args.canvas)["pi"]
    with open(os.path.join(args.out, "manifest.json"), "w") as f:
        json.dump({"crop": args.canvas, "unified": unified_block(args.canvas)}, f)
    kps.tofile(os.path.join(args.out, "kp.f32"))
    np.stack([pi_u8(k, args.canvas, u) for k in kps]).tofile(os.path.join(args.out, "pi.u8"))
    # Tight pads put lip landmarks near the ellipse's edge, where corner recovery grows it.
    corner = dict(u, corner_recovery=True, lip_geom_params=list(CORNER_GEOM))
    np.stack([pi_u8(k, args.canvas, corner) for k in kps]).tofile(os.path.join(args.out, "pi_corner.u8"))


if __name__ == "__main__":
    main()
