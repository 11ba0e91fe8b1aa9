"""Identity arrays: paste transforms M, source crops P, pooled features, fs_red and the paste mask."""

import numpy as np

import person

POOLED_SHAPE = (64, 32, 32)
FS_RED_SHAPE = (64, 64, 64)


def crop_to_uv(crop):
    """Affine from crop pixel (x, y) to crop coordinates (u, v) in -1..1 (pixel centres)."""
    return np.array([[2.0 / crop, 0.0, 1.0 / crop - 1.0], [0.0, 2.0 / crop, 1.0 / crop - 1.0]])


def paste_transforms(cfg, poses):
    """M per frame (NT x 2 x 3): crop pixel -> frame pixel, scale cfg.scale, swaying and rolling."""
    c = (cfg.crop - 1) / 2.0
    out = np.empty((cfg.NT, 2, 3))
    for t in range(cfg.NT):
        s, th = cfg.scale, poses["roll"][t]
        X0 = cfg.centre[0] + poses["sway_x"][t] * 0.025 * cfg.W
        Y0 = cfg.centre[1] + poses["sway_y"][t] * 0.015 * cfg.H
        a, b = s * np.cos(th), s * np.sin(th)
        out[t] = [[a, -b, X0 - (a * c - b * c)], [b, a, Y0 - (b * c + a * c)]]
    return out


def render_crop(cfg, kp, breath, M, pal):
    """One source crop (crop x crop x 3, float in 0..1, quantised to 8-bit levels)."""
    grid = person.Grid(cfg.crop, cfg.crop, crop_to_uv(cfg.crop), M)
    X, Y = grid.frame_coords()
    rgb = person.background(X, Y, cfg.W, cfg.H, pal)
    person.draw_person(rgb, grid, kp, breath, pal, edge=2.4 / cfg.crop)
    return np.round(np.clip(rgb, 0.0, 1.0) * 255.0) / 255.0


def source_crops(cfg, kps, poses, M, pal):
    """P for every frame: NT x 3 x crop x crop float32 (planar R, G, B)."""
    P = np.empty((cfg.NT, 3, cfg.crop, cfg.crop), dtype=np.float32)
    for t in range(cfg.NT):
        P[t] = render_crop(cfg, kps[t], poses["breath"][t], M[t], pal).transpose(2, 0, 1)
    return P


def _pool(P, side):
    n, ch, h, w = P.shape
    return P.reshape(n, ch, side, h // side, side, w // side).mean(axis=(3, 5))


def _features(P, side, channels, rng):
    """Pooled colour (first three channels, linear) and seeded tanh projections of colour and
    gradients (the remaining channels)."""
    pooled = _pool(P.astype(np.float64), side)
    luma = pooled.mean(axis=1)
    gx = np.gradient(luma, axis=2) * side / 4.0
    gy = np.gradient(luma, axis=1) * side / 4.0
    basis = np.concatenate([pooled - 0.5, gx[:, None], gy[:, None], np.ones_like(gx)[:, None]], axis=1)
    proj = rng.normal(0.0, 1.0, size=(channels - 3, basis.shape[1]))
    mixed = np.tanh(np.einsum("kc,nchw->nkhw", proj, basis))
    return np.concatenate([pooled, mixed], axis=1).astype(np.float16)


def pooled_features(P, rng):
    """pooled64: NT x 64 x 32 x 32 half."""
    return _features(P, POOLED_SHAPE[1], POOLED_SHAPE[0], rng)


def fs_red_features(P, rng):
    """fs_red: NT x 64 x 64 x 64 half (colour pooled to 64 x 64 in the first three channels)."""
    return _features(P, FS_RED_SHAPE[1], FS_RED_SHAPE[0], rng)


def paste_mask(crop):
    """Feathered paste mask (crop x crop bytes): 255 over the face, 0 at the crop's border."""
    u = (np.arange(crop) + 0.5) * 2.0 / crop - 1.0
    r = np.sqrt(u[None, :] ** 2 / 0.85 ** 2 + (u[:, None] - 0.05) ** 2 / 0.92 ** 2)
    return np.round(np.clip((1.0 - r) / 0.18, 0.0, 1.0) * 255.0).astype(np.uint8)
