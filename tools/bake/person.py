"""Procedural drawing of the person: head and shoulders in front of a background.

The person lives in crop coordinates (u, v in -1..1 across the square face crop, see keypoints.py);
the background lives in frame coordinates. A `Grid` maps the pixels of whatever is drawn (a face
crop or a full driver frame) to both, so the crop is exactly the frame seen through M.
"""

import numpy as np


class Grid:
    """Pixel centres of an h x w image and their crop coordinates, through an affine pixel -> (u, v)."""

    def __init__(self, h, w, pix_to_uv, pix_to_frame):
        self.h, self.w = h, w
        self.A = np.asarray(pix_to_uv, dtype=np.float64)      # 2 x 3: pixel (x, y, 1) -> (u, v)
        self.F = np.asarray(pix_to_frame, dtype=np.float64)   # 2 x 3: pixel -> frame pixel
        inv = np.linalg.inv(np.vstack([self.A, [0, 0, 1]]))
        self.Ainv = inv[:2]

    def region(self, u0, u1, v0, v1):
        """Pixel rows/columns whose crop coordinates may fall inside the box, and their u, v."""
        corners = np.array([[u0, v0, 1], [u1, v0, 1], [u0, v1, 1], [u1, v1, 1]]) @ self.Ainv.T
        x0 = max(0, int(np.floor(corners[:, 0].min())) - 1)
        x1 = min(self.w, int(np.ceil(corners[:, 0].max())) + 2)
        y0 = max(0, int(np.floor(corners[:, 1].min())) - 1)
        y1 = min(self.h, int(np.ceil(corners[:, 1].max())) + 2)
        if x1 <= x0 or y1 <= y0:
            return None
        ys, xs = np.mgrid[y0:y1, x0:x1].astype(np.float64)
        u = self.A[0, 0] * xs + self.A[0, 1] * ys + self.A[0, 2]
        v = self.A[1, 0] * xs + self.A[1, 1] * ys + self.A[1, 2]
        return (slice(y0, y1), slice(x0, x1)), u, v

    def frame_coords(self):
        ys, xs = np.mgrid[0:self.h, 0:self.w].astype(np.float64)
        return (self.F[0, 0] * xs + self.F[0, 1] * ys + self.F[0, 2],
                self.F[1, 0] * xs + self.F[1, 1] * ys + self.F[1, 2])


def palette(rng):
    """Colours of one person and room, drawn from the seed."""
    def jitter(rgb, amount):
        return np.clip(np.array(rgb) + rng.uniform(-amount, amount, 3), 0.0, 1.0)
    return dict(
        skin=jitter([0.86, 0.66, 0.54], 0.06),
        hair=jitter([0.22, 0.14, 0.09], 0.05),
        shirt=jitter([0.20, 0.36, 0.58], 0.10),
        iris=jitter([0.25, 0.40, 0.30], 0.08),
        lips=jitter([0.72, 0.33, 0.35], 0.05),
        wall_top=jitter([0.62, 0.66, 0.70], 0.05),
        wall_bottom=jitter([0.40, 0.43, 0.48], 0.05),
        lamp=jitter([0.95, 0.88, 0.70], 0.03),
        desk=jitter([0.45, 0.32, 0.22], 0.05),
    )


def background(X, Y, W, H, pal):
    """The room behind the person, in frame pixels (independent of the canvas resolution)."""
    x = (X + 0.5) / W
    y = (Y + 0.5) / H
    t = y[..., None]
    rgb = pal["wall_top"] * (1 - t) + pal["wall_bottom"] * t
    rgb = rgb + 0.015 * (np.sin(x * 61.0) * np.sin(y * 37.0))[..., None]
    lamp = np.exp(-(((x - 0.82) / 0.09) ** 2 + ((y - 0.22) / 0.16) ** 2))[..., None]
    rgb = rgb * (1 - 0.8 * lamp) + pal["lamp"] * 0.8 * lamp
    desk = np.clip((y - 0.90) * H / 1.5, 0.0, 1.0)[..., None]
    return rgb * (1 - desk) + pal["desk"] * desk


def _cover(d, edge):
    """Coverage of a shape from its signed distance (negative inside), anti-aliased over `edge`."""
    return np.clip(0.5 - d / edge, 0.0, 1.0)


def _ellipse(u, v, cx, cy, rx, ry):
    return (np.sqrt(((u - cx) / rx) ** 2 + ((v - cy) / ry) ** 2) - 1.0) * min(rx, ry)


class _Painter:
    def __init__(self, rgb, grid, edge):
        self.rgb, self.grid, self.edge = rgb, grid, edge

    def paint(self, box, shape):
        """shape(u, v) -> (signed distance, colour (... x 3) or (3,)) inside the uv box."""
        reg = self.grid.region(*box)
        if reg is None:
            return
        sl, u, v = reg
        d, colour = shape(u, v)
        cov = _cover(d, self.edge)[..., None]
        target = self.rgb[sl]
        target *= 1 - cov
        target += cov * colour


class _Head:
    """Where the face sits: the centre between keypoints 0 and 1 and its half extents."""

    def __init__(self, kp):
        self.k = np.asarray(kp, dtype=np.float64)
        k = self.k
        self.cx = 0.5 * (k[0, 0] + k[1, 0])
        self.cy = 0.5 * (k[0, 1] + k[1, 1])
        self.ry = 0.5 * (k[1, 1] - k[0, 1])
        self.rx = 0.45 * self.ry / 0.62


def draw_person(rgb, grid, kp, breath, pal, edge):
    """Paints the person over rgb (h x w x 3 float, already holding the background)."""
    p = _Painter(rgb, grid, edge)
    head = _Head(kp)
    _paint_body(p, head, breath, pal)
    _paint_ears(p, head, pal)
    _paint_face(p, head, pal)
    _paint_hair(p, head, pal)
    _paint_brows(p, head, pal)
    _paint_eyes(p, head, pal)
    _paint_nose(p, head, pal)
    _paint_mouth(p, head, pal)


def _paint_body(p, head, breath, pal):
    """Neck, shaded at the top under the chin, then the shoulders and shirt over its base, breathing."""
    cx, cy, skin = head.cx, head.cy, pal["skin"]
    p.paint((cx - 0.3, cx + 0.3, cy + 0.2, cy + 1.1),
            lambda u, v: (np.maximum(np.abs(u - cx) - 0.15, np.maximum(cy + 0.3 - v, v - (cy + 1.0))),
                          skin * (0.78 + 0.15 * np.clip((v - cy - 0.62) / 0.3, 0, 1))[..., None]))
    sy = cy + 1.72 + 0.015 * breath
    p.paint((cx - 2.3, cx + 2.3, cy + 0.7, cy + 3.0),
            lambda u, v: (np.maximum(_ellipse(u, v, cx, sy, 1.35, 0.90),
                                     -_ellipse(u, v, cx, cy + 0.80, 0.16, 0.12)),
                          pal["shirt"] * (1 - 0.25 * np.clip(np.abs(u - cx) - 0.6, 0, 1))[..., None]))


def _paint_ears(p, head, pal):
    cx, cy, rx = head.cx, head.cy, head.rx
    for side in (-1, 1):
        ex = cx + side * (rx + 0.01)
        p.paint((ex - 0.1, ex + 0.1, cy - 0.2, cy + 0.25),
                lambda u, v, ex=ex: (_ellipse(u, v, ex, cy + 0.02, 0.065, 0.13), pal["skin"] * 0.9))


def _paint_face(p, head, pal):
    """An ellipse that narrows toward the jaw, shaded toward its rim, blushed at the cheeks."""
    k, cx, cy, rx, ry, skin = head.k, head.cx, head.cy, head.rx, head.ry, pal["skin"]

    def face(u, v):
        yl = (v - cy) / ry
        rxe = rx * (1 - 0.30 * np.clip(yl, 0, 1) ** 2)
        d = (np.sqrt(((u - cx) / rxe) ** 2 + yl ** 2) - 1.0) * rx
        shade = 1 - 0.16 * np.clip(((u - cx) / rx) ** 2 + yl ** 2, 0, 1)
        blush = 0.0
        for row in (10, 11):
            blush = blush + np.exp(-(((u - k[row, 0]) / 0.09) ** 2 + ((v - k[row, 1]) / 0.06) ** 2))
        colour = skin * shade[..., None] + np.array([0.06, -0.03, -0.02]) * blush[..., None]
        return d, colour
    p.paint((cx - rx - 0.02, cx + rx + 0.02, cy - ry - 0.02, cy + ry + 0.02), face)


def _paint_hair(p, head, pal):
    """A cap over the top of the head down to a curved hairline, longer at the sides."""
    cx, cy, rx, ry = head.cx, head.cy, head.rx, head.ry

    def hair(u, v):
        xl = (u - cx) / rx
        hairline = cy - 0.40 * ry / 0.62 + 0.55 * ry * np.clip(np.abs(xl) - 0.45, 0, 1) ** 1.5
        d = np.maximum(_ellipse(u, v, cx, cy - 0.05, rx + 0.05, ry + 0.07), v - hairline)
        return d, pal["hair"] * (1 + 0.15 * np.sin((u - cx) * 40.0))[..., None]
    p.paint((cx - rx - 0.1, cx + rx + 0.1, cy - ry - 0.2, cy + 0.2), hair)


def _paint_brows(p, head, pal):
    for row in (8, 9):
        bx, by = head.k[row, 0], head.k[row, 1]
        p.paint((bx - 0.14, bx + 0.14, by - 0.05, by + 0.05),
                lambda u, v, bx=bx, by=by: (
                    _ellipse(u, v + 0.6 * ((u - bx) / 0.11) ** 2 * 0.03, bx, by, 0.11, 0.022),
                    pal["hair"] * 0.9))


def _paint_eyes(p, head, pal):
    """White, iris, pupil, then the upper lid (skin) down to the lid keypoint, with a lash line."""
    k, skin = head.k, pal["skin"]
    for eye, lid in ((2, 4), (3, 5)):
        ex, ey = k[eye, 0], k[eye, 1]
        lid_edge = k[lid, 1] + 0.025
        box = (ex - 0.11, ex + 0.11, ey - 0.07, ey + 0.07)
        p.paint(box, lambda u, v, ex=ex, ey=ey: (_ellipse(u, v, ex, ey, 0.085, 0.045),
                                                 np.array([0.95, 0.94, 0.92])))
        p.paint(box, lambda u, v, ex=ex, ey=ey: (
            np.maximum(_ellipse(u, v, ex, ey, 0.036, 0.036), _ellipse(u, v, ex, ey, 0.085, 0.045)),
            pal["iris"]))
        p.paint(box, lambda u, v, ex=ex, ey=ey: (_ellipse(u, v, ex, ey, 0.015, 0.015),
                                                 np.array([0.03, 0.03, 0.03])))
        p.paint(box, lambda u, v, ex=ex, ey=ey, lid_edge=lid_edge: (
            np.maximum(_ellipse(u, v, ex, ey, 0.092, 0.052), v - lid_edge), skin * 0.93))
        p.paint(box, lambda u, v, ex=ex, ey=ey, lid_edge=lid_edge: (
            np.maximum(_ellipse(u, v, ex, ey, 0.092, 0.052), np.abs(v - lid_edge) - 0.006),
            np.array([0.12, 0.08, 0.07])))


def _paint_nose(p, head, pal):
    """A shaded ridge and two nostrils."""
    nx, ny, skin = head.k[7, 0], head.k[7, 1], pal["skin"]
    p.paint((nx - 0.1, nx + 0.1, ny - 0.2, ny + 0.06),
            lambda u, v: (_ellipse(u, v, nx + 0.02, ny - 0.07, 0.035, 0.11), skin * 0.88))
    for side in (-1, 1):
        p.paint((nx - 0.08, nx + 0.08, ny - 0.03, ny + 0.05),
                lambda u, v, side=side: (_ellipse(u, v, nx + side * 0.035, ny + 0.012, 0.018, 0.011),
                                         skin * 0.45))


class _MouthCurves:
    """The lip curves of the mouth: each passes through both mouth corners (keypoints 17, 18) and
    bulges to its keypoint's height at the middle."""

    def __init__(self, k):
        self.k = k
        xl, xr = k[17, 0], k[18, 0]
        self.mx, self.hw = 0.5 * (xl + xr), 0.5 * (xr - xl)
        self.yc = 0.5 * (k[17, 1] + k[18, 1])

    def curve(self, u, row):
        f = np.clip(1 - ((u - self.mx) / self.hw) ** 2, 0, 1)
        return self.yc + (self.k[row, 1] - self.yc) * f, f

    def band(self, u, v, top_row, bottom_row):
        top, f = self.curve(u, top_row)
        bottom, _ = self.curve(u, bottom_row)
        return np.maximum(np.maximum(top - v, v - bottom), (np.abs(u - self.mx) - self.hw) * 0.5), f

    def teeth(self, u, v, upper):
        inner_d, f = self.band(u, v, 6, 12)
        top, _ = self.curve(u, 6)
        bottom, _ = self.curve(u, 12)
        height = (0.020 if upper else 0.014) * np.sqrt(f)
        edge_d = (v - (top + height)) if upper else ((bottom - height) - v)
        d = np.maximum(np.maximum(inner_d, edge_d), np.abs(u - self.mx) - 0.7 * self.hw)
        gaps = 0.9 + 0.1 * np.cos((u - self.mx) / self.hw * np.pi * 4.0) ** 2
        return d, np.array([0.93, 0.92, 0.86]) * gaps[..., None]


def _paint_mouth(p, head, pal):
    """Lips between the outer lip curves, a dark interior between the inner curves, and the upper
    and lower teeth along the inner edges."""
    k = head.k
    m = _MouthCurves(k)
    top_y = min(k[19, 1], k[6, 1]) - 0.04
    bot_y = max(k[20, 1], k[12, 1]) + 0.04
    box = (m.mx - m.hw - 0.04, m.mx + m.hw + 0.04, top_y, bot_y)
    p.paint(box, lambda u, v: (m.band(u, v, 19, 20)[0],
                               pal["lips"] * np.where(v < m.curve(u, 14)[0], 0.92, 1.05)[..., None]))
    p.paint(box, lambda u, v: (m.band(u, v, 6, 12)[0], np.array([0.16, 0.05, 0.06])))
    p.paint(box, lambda u, v: m.teeth(u, v, True))
    p.paint(box, lambda u, v: m.teeth(u, v, False))
