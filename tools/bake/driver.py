"""Driver video: full frames of the idling person, as JPEG files and as an H.264 movie, and the
warp prior as an HEVC movie. Every encoder runs on one thread so that a bake is reproducible."""

import os
import subprocess

import numpy as np

import identity
import person

FFMPEG = ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"]


def _frame_grid(cfg, M, width):
    Minv = np.linalg.inv(np.vstack([M, [0, 0, 1]]))
    to_uv = identity.crop_to_uv(cfg.crop) @ Minv
    return person.Grid(cfg.H, width, to_uv, np.array([[1.0, 0, 0], [0, 1.0, 0]]))


def render_frames(cfg, kps, poses, M, pal, count, width=None):
    """count driver frames (count x H x W x 3 uint8): the room with the person placed through M.
    A narrower width crops the canvas on the right (the wrong-size driver)."""
    width = width or cfg.W
    X, Y = _frame_grid(cfg, M[0], width).frame_coords()
    room = person.background(X, Y, cfg.W, cfg.H, pal)
    out = np.empty((count, cfg.H, width, 3), dtype=np.uint8)
    for t in range(count):
        rgb = room.copy()
        person.draw_person(rgb, _frame_grid(cfg, M[t], width), kps[t], poses["breath"][t], pal,
                           edge=2.4 / cfg.crop)
        out[t] = np.round(np.clip(rgb, 0.0, 1.0) * 255.0)
    return out


def _encode(frames, pix_fmt_in, args, out_path, fps):
    n, h, w = frames.shape[:3]
    cmd = FFMPEG + ["-f", "rawvideo", "-pix_fmt", pix_fmt_in, "-s", "%dx%d" % (w, h),
                    "-r", str(fps), "-i", "-", "-threads", "1"] + args + [out_path]
    subprocess.run(cmd, input=np.ascontiguousarray(frames).tobytes(), check=True)


def write_jpegs(frames, directory):
    """frame_%06d.jpg from 0, decoded by the library with libjpeg-turbo."""
    os.makedirs(directory, exist_ok=True)
    _encode(frames, "rgb24", ["-f", "image2", "-start_number", "0", "-c:v", "mjpeg",
                              "-pix_fmt", "yuvj444p", "-q:v", "2", "-fflags", "+bitexact",
                              "-flags:v", "+bitexact"],
            os.path.join(directory, "frame_%06d.jpg"), 25)


def write_h264(frames, path, fps):
    _encode(frames, "rgb24", ["-c:v", "libx264", "-preset", "veryfast", "-crf", "16",
                              "-pix_fmt", "yuv420p", "-x264-params", "threads=1:sliced-threads=0",
                              "-map_metadata", "-1", "-fflags", "+bitexact", "-flags:v", "+bitexact",
                              "-movflags", "+faststart"], path, fps)


def write_hevc_prior(P, path, fps, pix_fmt="yuv444p"):
    """The warp prior as a movie: P (NT x 3 x crop x crop, 8-bit levels / 255) as HEVC."""
    frames = np.round(np.asarray(P, dtype=np.float32).transpose(0, 2, 3, 1) * 255.0).astype(np.uint8)
    _encode(frames, "rgb24", ["-c:v", "libx265", "-preset", "fast", "-crf", "8", "-pix_fmt", pix_fmt,
                              "-x265-params", "pools=1:frame-threads=1:log-level=error",
                              "-tag:v", "hvc1", "-map_metadata", "-1", "-fflags", "+bitexact",
                              "-flags:v", "+bitexact", "-f", "mov"], path, fps)
