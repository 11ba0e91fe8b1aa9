"""Numpy reference of the m4b director graph (director.py), node for node, in float64.

Used to check the baked graph's arithmetic and to reason about its output without ONNX Runtime.
"""

import numpy as np

import director


def _resize_linear(x, scale):
    """ONNX Resize, linear, half_pixel, on the last two axes (source coordinates clamped)."""
    for axis in (2, 3):
        n_in = x.shape[axis]
        n_out = int(n_in * scale)
        pos = np.clip((np.arange(n_out) + 0.5) / scale - 0.5, 0, n_in - 1)
        i0 = np.floor(pos).astype(int)
        i1 = np.minimum(i0 + 1, n_in - 1)
        t = pos - i0
        shape = [1] * x.ndim
        shape[axis] = n_out
        t = t.reshape(shape)
        x = np.take(x, i0, axis=axis) * (1 - t) + np.take(x, i1, axis=axis) * t
    return x


def _cubic_taps(t, a=-0.75):
    d = np.stack([t + 1, t, 1 - t, 2 - t], axis=-1)
    near = ((a + 2) * d - (a + 3)) * d * d + 1
    far = ((a * d - 5 * a) * d + 8 * a) * d - 4 * a
    return np.where(d <= 1, near, far)


def _resize_cubic2(x):
    """ONNX Resize, cubic (a = -0.75), half_pixel, scales 2 on the last two axes; taps outside the
    input repeat its edge."""
    for axis in (2, 3):
        n_in = x.shape[axis]
        pos = (np.arange(2 * n_in) + 0.5) / 2 - 0.5
        base = np.floor(pos).astype(int)
        taps = _cubic_taps(pos - base)
        out = 0
        for k in range(4):
            idx = np.clip(base - 1 + k, 0, n_in - 1)
            shape = [1] * x.ndim
            shape[axis] = 2 * n_in
            out = out + np.take(x, idx, axis=axis) * taps[:, k].reshape(shape)
        x = out
    return x


def _conv(x, w, b=None, pad=0):
    n, c, h, wd = x.shape
    if pad:
        x = np.pad(x, ((0, 0), (0, 0), (pad, pad), (pad, pad)))
    kh, kw = w.shape[2:]
    out = np.zeros((n, w.shape[0], h + 2 * pad - kh + 1, wd + 2 * pad - kw + 1))
    for i in range(kh):
        for j in range(kw):
            patch = x[:, :, i:i + out.shape[2], j:j + out.shape[3]]
            out += np.einsum("oc,nchw->nohw", w[:, :, i, j], patch)
    if b is not None:
        out += b.reshape(1, -1, 1, 1)
    return out


def displacement_grid(crop, kd, ks):
    """Planar sampling grid [N, 2, crop, crop] in normalised coordinates (x first)."""
    G = director.coarse_side(crop)
    kd2, ks2 = kd[..., :2], ks[..., :2]
    pts = director._coarse_points(G)                       # [1, G*G, 1, 2]
    d2 = ((pts - kd2[:, None, :, :]) ** 2).sum(-1)         # [N, G*G, R]
    w = np.exp(d2 * director.pull_coefficients(kd.shape[1]))
    disp = (w @ (kd2 - ks2)) / (w.sum(-1, keepdims=True) + director.FLOOR)
    disp = disp.reshape(-1, G, G, 2).transpose(0, 3, 1, 2)
    if crop != G:
        disp = _resize_linear(disp, crop // G)
    p = director._pixel_coords(crop)
    base = np.stack([np.broadcast_to(p[None, :], (crop, crop)), np.broadcast_to(p[:, None], (crop, crop))])
    return base[None] - disp


def curvature_planes(P):
    """v, vxx, vyy, vxxyy of each channel, edge-clamped: [N, 4, 3, H, W]."""
    q = np.pad(P, ((0, 0), (0, 0), (1, 1), (1, 1)), mode="edge")
    h, w = P.shape[2:]

    def n(dx, dy):
        return q[:, :, 1 + dy:1 + dy + h, 1 + dx:1 + dx + w]
    vxx = n(-1, 0) - 2 * n(0, 0) + n(1, 0)
    col = [n(dx, -1) - 2 * n(dx, 0) + n(dx, 1) for dx in (-1, 0, 1)]
    vyy = col[1]
    vxxyy = col[0] - 2 * col[1] + col[2]
    return np.stack([P, vxx, vyy, vxxyy], axis=1)


def warp(P, grid):
    """The source cone, the bilinear/border sample and the recombination."""
    n, ch, h, w = P.shape
    planes = curvature_planes(P)
    x = ((1 + grid[:, 0]) * w - 1) * 0.5
    y = ((1 + grid[:, 1]) * h - 1) * 0.5
    tx, ty = x - np.floor(x), y - np.floor(y)
    a, b = (1 - tx) * tx * 0.5, (1 - ty) * ty * 0.5
    xc, yc = np.clip(x, 0, w - 1), np.clip(y, 0, h - 1)
    x0, y0 = np.floor(xc).astype(int), np.floor(yc).astype(int)
    fx, fy = xc - x0, yc - y0
    x1, y1 = np.minimum(x0 + 1, w - 1), np.minimum(y0 + 1, h - 1)
    out = np.empty_like(P, dtype=np.float64)
    for i in range(n):
        def at(yy, xx):
            return planes[i][:, :, yy[i], xx[i]]           # [4, 3, H, W]
        s = ((1 - fx[i]) * (1 - fy[i]) * at(y0, x0) + fx[i] * (1 - fy[i]) * at(y0, x1)
             + (1 - fx[i]) * fy[i] * at(y1, x0) + fx[i] * fy[i] * at(y1, x1))
        out[i] = (s[0] - a[i] * s[1] - b[i] * s[2]) + (a[i] * b[i]) * s[3]
    return out


def head(background, pooled, w):
    crop = background.shape[2]
    e = crop // 8
    n = background.shape[0]
    xq = background.reshape(n, 3, e, 8, e, 8).mean(axis=(3, 5))
    pf = _conv(pooled, w["wp"].astype(np.float64), w["bp"])
    if e != 32:
        pf = _resize_linear(pf, e / 32)
    h = np.maximum(_conv(np.concatenate([xq, pf], axis=1), w["w1"].astype(np.float64), w["b1"], pad=1), 0)
    r = _conv(h, w["w2"].astype(np.float64), w["b2"])
    return background + _resize_linear(_resize_cubic2(r), 4)


def alpha(crop, kd):
    lip = kd[:, list(director.ALPHA_ROWS)]
    p = director._pixel_coords(crop)
    sx, mx, sy, my = director.ALPHA_PAD
    xs, ys = lip[:, 0:2, 0], lip[:, 2:4, 1]
    cx, rx = xs.mean(1), (xs.max(1) - xs.min(1)) * 0.5 * sx + mx
    cy, ry = ys.mean(1), (ys.max(1) - ys.min(1)) * 0.5 * sy + my
    ex = ((p[None, :] - cx[:, None]) / rx[:, None]) ** 2
    ey = ((p[None, :] - cy[:, None]) / ry[:, None]) ** 2
    g = director.ALPHA_GAIN
    pre = (g - g * ex)[:, None, :] - (g * ey)[:, :, None]
    return np.clip(pre, 0, 1)[:, None]


def render(weights, pooled64, P_rgb, kp_driving, kp_source):
    """rgb [N, 3, crop, crop] of the m4b graph for float inputs of the graph's shapes."""
    P, kd, ks, pooled = (np.asarray(v, dtype=np.float64)
                         for v in (P_rgb, kp_driving, kp_source, pooled64))
    crop = P.shape[2]
    background = np.clip(warp(P, displacement_grid(crop, kd, ks)), 0, 1)
    generated = head(background, pooled, weights)
    a = alpha(crop, kd)
    return generated * a + (1 - a) * background
