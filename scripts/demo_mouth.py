#!/usr/bin/python3
"""The demo's talking mouth: keypoints that open and close the person's mouth, and a contact sheet
of the rendered video.

  demo_mouth.py kp BUNDLE OUT.bin FRAMES
      FRAMES frames of 126 little-endian floats (source keypoints of driver frame k modulo NT, then
      the same keypoints with the mouth opened as the baker's keypoints.open_mouth does), the mouth
      opening and closing once every PERIOD frames.
  demo_mouth.py sheet BUNDLE VIDEO.mp4 OUT.png
      The frames with the mouth closed, half open and open, each as the whole frame and a close-up
      of the mouth.
  demo_mouth.py speech-sheet BUNDLE TEETH.mp4 TEETH.txt PLAIN.mp4 PLAIN.txt OUT.png
      The same speech frames of two le-speak videos of one utterance, with the teeth borrow
      (TEETH.mp4) and without it (PLAIN.mp4): SPOKEN speech frames spread evenly across the
      utterance, matched by their speech frame number (the .txt files are the videos' --frames-out
      logs: frame kind idx frameNo per line). A row per speech frame: the whole frame with the
      borrow, the close-ups of its mouth with and without the borrow, the whole frame without it."""

import json
import os
import subprocess
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools", "bake"))

import keypoints  # noqa: E402
from contact_sheet import write_png  # noqa: E402

PERIOD = 24
OPEN = 0.08
# Frames of the first cycle with the mouth closed, half open and open.
SHOWN = (0, PERIOD // 4, PERIOD // 2)
TILE_HEIGHT = 360
SPOKEN = 6
SPOKEN_TILE_HEIGHT = 240


def amount(k):
    return OPEN * 0.5 * (1.0 - np.cos(2.0 * np.pi * k / PERIOD))


def manifest(root):
    with open(os.path.join(root, "manifest.json")) as f:
        m = json.load(f)
    return m, m.get("NT", m.get("frame_count")), m.get("crop", m.get("crop_size"))


def write_kp(root, out, frames):
    _m, NT, _crop = manifest(root)
    xs = np.fromfile(os.path.join(root, "xs_target.bin"), dtype="<f4").reshape(NT, keypoints.ROWS, 3)
    rows = []
    for k in range(frames):
        ks = xs[k % NT].astype(np.float64)
        rows += [ks, keypoints.open_mouth(ks, amount(k))]
    np.asarray(rows, dtype="<f4").tofile(out)


def video_frames(path, W, H, indices):
    select = "+".join("eq(n\\,%d)" % i for i in indices)
    raw = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-vf", "select=" + select,
                          "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                         check=True, capture_output=True).stdout
    return np.frombuffer(raw, dtype=np.uint8).reshape(-1, H, W, 3)


def resample(img, height):
    """Nearest-neighbour scaling to the given height."""
    h, w, _ = img.shape
    width = max(1, round(w * height / h))
    ys = (np.arange(height) + 0.5) * h / height
    xs = (np.arange(width) + 0.5) * w / width
    return img[ys.astype(int)][:, xs.astype(int)]


def mouth_box(M, crop):
    """Frame pixels of the crop region around the mouth (crop coordinates x -0.55..0.55,
    y 0.0..0.75), through M."""
    corners = [((u + 1) * crop / 2 - 0.5, (v + 1) * crop / 2 - 0.5) for u in (-0.55, 0.55) for v in (0.0, 0.75)]
    X = [M[0, 0] * x + M[0, 1] * y + M[0, 2] for x, y in corners]
    Y = [M[1, 0] * x + M[1, 1] * y + M[1, 2] for x, y in corners]
    return int(min(X)), int(max(X)) + 1, int(min(Y)), int(max(Y)) + 1


def paste_transforms(root):
    m, NT, crop = manifest(root)
    W, H = m["W"], m["H"]
    sw, sh = m.get("M_src_w", W), m.get("M_src_h", H)
    M = np.fromfile(os.path.join(root, "M.f32"), dtype="<f4").reshape(NT, 2, 3).astype(np.float64)
    M[:, 0] *= W / sw
    M[:, 1] *= H / sh
    return M, W, H, crop


def sheet_rows(video, M, W, H, crop, frames, driver_indices, height):
    """A row per frame: the whole frame and the close-up of its mouth."""
    rows = []
    for t, frame in zip(driver_indices, video_frames(video, W, H, frames)):
        x0, x1, y0, y1 = mouth_box(M[t], crop)
        close = frame[max(0, y0):min(H, y1), max(0, x0):min(W, x1)]
        rows.append(np.concatenate([resample(frame, height), resample(close, height)], axis=1))
    return rows


def write_rows(rows, out):
    width = max(r.shape[1] for r in rows)
    rows = [np.pad(r, ((0, 4), (0, width - r.shape[1]), (0, 0))) for r in rows]
    write_png(out, np.concatenate(rows, axis=0))


def write_sheet(root, video, out):
    M, W, H, crop = paste_transforms(root)
    write_rows(sheet_rows(video, M, W, H, crop, SHOWN, [k % len(M) for k in SHOWN], TILE_HEIGHT), out)


def speech_frames(frames_log):
    """{speech frame number: (video frame, driver frame)} of a le-speak --frames-out log."""
    log = np.loadtxt(frames_log, dtype=int, ndmin=2)
    return {int(n): (int(k), int(t)) for k, kind, t, n in log if kind == 1}


def wholes_and_mouths(video, M, W, H, crop, picked, height):
    """The whole frame and the mouth close-up of each (video frame, driver frame) in picked."""
    tiles = []
    for (_k, t), frame in zip(picked, video_frames(video, W, H, [k for k, _t in picked])):
        x0, x1, y0, y1 = mouth_box(M[t], crop)
        close = frame[max(0, y0):min(H, y1), max(0, x0):min(W, x1)]
        tiles.append((resample(frame, height), resample(close, height)))
    return tiles


def write_speech_sheet(root, teeth_video, teeth_log, plain_video, plain_log, out):
    M, W, H, crop = paste_transforms(root)
    teeth, plain = speech_frames(teeth_log), speech_frames(plain_log)
    common = sorted(set(teeth) & set(plain))
    if not common:
        raise SystemExit("demo_mouth.py: the two videos share no speech frame")
    picks = [common[i] for i in np.linspace(0, len(common) - 1, SPOKEN).round().astype(int)]
    with_teeth = wholes_and_mouths(teeth_video, M, W, H, crop, [teeth[n] for n in picks], SPOKEN_TILE_HEIGHT)
    without = wholes_and_mouths(plain_video, M, W, H, crop, [plain[n] for n in picks], SPOKEN_TILE_HEIGHT)
    gap = np.zeros((SPOKEN_TILE_HEIGHT, 8, 3), dtype=np.uint8)
    rows = [np.concatenate([tw, tm, gap, pm, pw], axis=1) for (tw, tm), (pw, pm) in zip(with_teeth, without)]
    write_rows(rows, out)


def main(argv):
    if len(argv) == 4 and argv[0] == "kp":
        write_kp(argv[1], argv[2], int(argv[3]))
    elif len(argv) == 4 and argv[0] == "sheet":
        write_sheet(argv[1], argv[2], argv[3])
    elif len(argv) == 7 and argv[0] == "speech-sheet":
        write_speech_sheet(*argv[1:])
    else:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
