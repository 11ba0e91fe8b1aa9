#!/usr/bin/python3
"""Contact sheet of a bundle's driver video: every tenth frame, scaled down, with the crop square
drawn where M places it (what pasting a crop back would cover).

  contact_sheet.py BUNDLE OUT.png"""

import json
import os
import struct
import subprocess
import sys
import zlib

import numpy as np

STEP = 10
COLUMNS = 5
TILE_WIDTH = 320
BOX = np.array([255, 40, 40], dtype=np.uint8)


def write_png(path, rgb):
    """8-bit RGB PNG, one zlib stream, no filtering."""
    h, w, _ = rgb.shape
    raw = b"".join(b"\x00" + rgb[y].tobytes() for y in range(h))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def driver_frames(root, W, H):
    jpgs = os.path.join(root, "target_frames", "frame_%06d.jpg")
    src = ["-start_number", "0", "-i", jpgs] if os.path.exists(jpgs % 0) else \
        ["-i", os.path.join(root, "target_frames.mp4")]
    raw = subprocess.run(["ffmpeg", "-nostdin", "-v", "error"] + src +
                         ["-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                         check=True, capture_output=True).stdout
    return np.frombuffer(raw, dtype=np.uint8).reshape(-1, H, W, 3)


def draw_box(frame, M, crop, thickness):
    """The crop square's outline mapped through M (crop pixel -> frame pixel)."""
    h, w, _ = frame.shape
    e = crop - 0.5
    corners = [(-0.5, -0.5), (e, -0.5), (e, e), (-0.5, e)]
    for (x0, y0), (x1, y1) in zip(corners, corners[1:] + corners[:1]):
        s = np.linspace(0.0, 1.0, 4 * crop)
        x, y = x0 + (x1 - x0) * s, y0 + (y1 - y0) * s
        X = M[0, 0] * x + M[0, 1] * y + M[0, 2]
        Y = M[1, 0] * x + M[1, 1] * y + M[1, 2]
        for dy in range(-(thickness // 2), thickness - thickness // 2):
            for dx in range(-(thickness // 2), thickness - thickness // 2):
                xi, yi = np.rint(X).astype(int) + dx, np.rint(Y).astype(int) + dy
                ok = (xi >= 0) & (xi < w) & (yi >= 0) & (yi < h)
                frame[yi[ok], xi[ok]] = BOX


def sheet(root):
    with open(os.path.join(root, "manifest.json")) as f:
        m = json.load(f)
    W, H, NT = m["W"], m["H"], m.get("NT", m.get("frame_count"))
    crop = m.get("crop", m.get("crop_size"))
    sw, sh = m.get("M_src_w", W), m.get("M_src_h", H)
    M = np.fromfile(os.path.join(root, "M.f32"), dtype="<f4").reshape(NT, 2, 3).astype(np.float64)
    M[:, 0] *= W / sw
    M[:, 1] *= H / sh
    frames = driver_frames(root, W, H)
    factor = max(1, W // TILE_WIDTH)
    tiles = []
    for t in range(0, len(frames), STEP):
        frame = frames[t].copy()
        draw_box(frame, M[t], crop, 2 * factor)
        th, tw = H // factor, W // factor
        tiles.append(frame[:th * factor, :tw * factor].reshape(th, factor, tw, factor, 3)
                     .mean(axis=(1, 3)).astype(np.uint8))
    while len(tiles) % COLUMNS and len(tiles) > COLUMNS:
        tiles.append(np.zeros_like(tiles[0]))
    rows = [np.concatenate(tiles[i:i + COLUMNS], axis=1) for i in range(0, len(tiles), COLUMNS)]
    return np.concatenate(rows, axis=0)


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    write_png(argv[1], sheet(argv[0]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
