#!/usr/bin/python3
"""Numpy reference of the motion generator's pipeline, in float64: the log-mel frontend, the three
networks of a baked motion directory (evaluated from their own weights), the chunked motion
timeline with its cross-fade, smoothing and clamping, and the emitted frames.

    motion_ref.py --wav SPEECH.{wav,f32} --motion DIR --out OUTDIR [--start ROW] [--backward]
                  [--ping-pong]

writes raw little-endian float32 files into OUTDIR (see write_reference)."""

import argparse
import json
import os
import sys

import numpy as np

import speech_audio

HOP = 640            # samples per 40 ms frame
WINDOW_FRAMES = 5    # frames per frontend window
SPAN = 6480          # audio samples a window reads
LEAD = 2000          # ... starting this many samples before the window's first frame
READY_AHEAD = 4480   # samples past w * HOP a window needs before finish
PAD = 256
NFFT = 512
STEP = 320
MEL_FRAMES = 21
BINS = 257
MELS = 80
FEAT = 1024
FEAT_ROWS = 20
COND = 1103
MOTION = 265
POSE_END = 202       # dimensions [0, 202) are smoothed: scale, pose logits, translation
CHUNK = 80
STRIDE = 70
FADE = 10
LIP_COORDS = tuple(3 * k + a for k in (6, 12, 14, 17, 19, 20) for a in range(3))


# ---- frontend ---------------------------------------------------------------------------------

def audio_span(audio, w):
    """SPAN samples from w * HOP - LEAD, zeros outside the audio."""
    out = np.zeros(SPAN)
    start = w * HOP - LEAD
    lo, hi = max(0, start), min(len(audio), start + SPAN)
    if hi > lo:
        out[lo - start:hi - start] = audio[lo:hi]
    return out


def padded_frames(span, window):
    """The 21 windowed 512-sample frames of the reflect-padded span (21 x 512)."""
    padded = np.pad(span, PAD, mode="reflect")
    return np.stack([padded[STEP * i:STEP * i + NFFT] * window for i in range(MEL_FRAMES)])


def log_mel(span, window, binmat):
    """Band-major log-mel block [80][21] of one window's span."""
    mag = np.abs(np.fft.rfft(padded_frames(span, window), axis=1))
    return np.log(mag @ binmat + 1e-8).T


def magnitudes(span, window):
    """|rfft| of the 21 windowed frames (21 x 257)."""
    return np.abs(np.fft.rfft(padded_frames(span, window), axis=1))


# ---- the motion directory and its networks ----------------------------------------------------

def _read_f32(root, name, count):
    data = np.fromfile(os.path.join(root, name), dtype="<f4")
    if data.size != count:
        raise ValueError("%s: %d floats, expected %d" % (name, data.size, count))
    return data.astype(np.float64)


def _initializers(path):
    import onnx
    from onnx import numpy_helper
    model = onnx.load(path)
    return {t.name: numpy_helper.to_array(t).astype(np.float64) for t in model.graph.initializer}


class MotionDir:
    """Every table and the three networks' weights of a baked motion directory."""

    def __init__(self, root):
        with open(os.path.join(root, "meta.json")) as f:
            meta = json.load(f)
        self.nt, self.n_emo = int(meta["nt"]), int(meta["n_emo"])
        self.s_bridge, self.delta_pitch = float(meta["s_bridge"]), float(meta.get("delta_pitch", 0))
        self.window = _read_f32(root, "hubert_stft_window.bin", NFFT)
        self.binmat = _read_f32(root, "hubert_stft_binmat.bin", BINS * MELS).reshape(BINS, MELS)
        self.fmean = _read_f32(root, "hubert_fmean.bin", FEAT)
        self.fstd = _read_f32(root, "hubert_fstd.bin", FEAT)
        self.emo = _read_f32(root, "emo.bin", self.n_emo * 8).reshape(self.n_emo, 8)
        self.template = _read_f32(root, "ch_xs_info.bin", 328)
        self.sc = _read_f32(root, "ch_sc.bin", 63)
        self.eye_open = _read_f32(root, "ch_eye_open.bin", 2)
        self.eye_ball = _read_f32(root, "ch_eye_ball.bin", 6)
        self.v_min, self.v_max = _read_f32(root, "v_min_max.bin", 2 * MOTION).reshape(2, MOTION)
        self.src = _read_f32(root, "src_xs_info.bin", self.nt * 328).reshape(self.nt, 328)
        self.xs_target = _read_f32(root, "xs_target.bin", self.nt * 63).reshape(self.nt, 63)
        self.student_w = _initializers(os.path.join(root, "hubert_student.onnx"))
        self.lmdm_w = _initializers(os.path.join(root, "lmdm.onnx"))
        self.stitch_w = _initializers(os.path.join(root, "stitch.onnx"))

    def initial_motion(self):
        """The initial motion vector, from the template record."""
        t = self.template
        return np.concatenate([[t[258] - 1.0], t[126:192], t[262:328], t[192:258], t[259:262],
                               t[0:63]])


def student(w, mel):
    """hubert_student.onnx on a [80][21] mel block: [20][1024] standardised features."""
    rows = (0.5 * (mel[:, :FEAT_ROWS] + mel[:, 1:])).T
    energy = rows.mean(axis=1, keepdims=True) * w["/energy/gain"] + w["/energy/bias"]
    return np.concatenate([energy, np.tanh(rows @ w["/proj/w"] + w["/proj/b"])], axis=1)


def lmdm(w, state, cond):
    """lmdm.onnx on the motion state (265) and 80 conditioning rows: 80 motion vectors."""
    z = (cond[:, :1] - w["/open/e0"]) * w["/open/inv_k"]
    opening = 1.0 / (1.0 + np.exp(-z))
    return (cond @ w["/cond/proj"] + w["/cond/base"] + opening * w["/open/mouth"]
            + (state - w["/carry/initial"])[None, :] * w["/carry/fade"])


def stitch(w, xs, xd):
    """stitch.onnx: the stitched driving keypoints (63)."""
    return xd + w["/gain"] * np.tanh((xd - xs) @ w["/w"])


# ---- frontend over an utterance ---------------------------------------------------------------

def total_frames(n_samples):
    return -(-n_samples // HOP)


def window_ready(n_samples, w):
    """Before finish, window w (a multiple of 5) runs once w * 640 + 4480 samples are in."""
    return n_samples >= w * HOP + READY_AHEAD


def conditioning(d, feats, w):
    """The 5 conditioning rows of frames w .. w + 4 from the window's de-standardised features."""
    rows = np.empty((WINDOW_FRAMES, COND))
    for m in range(WINDOW_FRAMES):
        rows[m, :FEAT] = 0.5 * (feats[6 + 2 * m] + feats[7 + 2 * m])
        rows[m, 1024:1032] = d.emo[(w + m) % d.n_emo]
        rows[m, 1032:1034] = d.eye_open
        rows[m, 1034:1040] = d.eye_ball
        rows[m, 1040:1103] = d.sc
    return rows


def run_window(d, audio, w):
    """Window w: its FFT magnitudes, mel block, de-standardised features and conditioning rows."""
    mag = magnitudes(audio_span(audio, w), d.window)
    mel = np.log(mag @ d.binmat + 1e-8).T
    feats = student(d.student_w, mel) * d.fstd + d.fmean
    return mag, mel, feats, conditioning(d, feats, w)


def frontend(d, audio, total):
    """Every window of a finished utterance: magnitudes, mel blocks, features, conditioning rows."""
    windows = [run_window(d, audio, w) for w in range(0, total, WINDOW_FRAMES)]
    mag, mel, feat, cond = zip(*windows)
    return dict(mag=np.array(mag), mel=np.array(mel), feat=np.array(feat),
                cond=np.concatenate(cond))


# ---- the chunked motion timeline --------------------------------------------------------------

def smooth(timeline, lo, hi):
    """Frames lo .. hi (inclusive) of dimensions [0, 202) become the mean of their neighbours
    i - 1 .. i + 1 (clamped to the timeline), computed from the values before this step."""
    before = timeline.copy()
    n = len(timeline)
    for i in range(max(0, lo), min(n - 1, hi) + 1):
        timeline[i, :POSE_END] = before[max(0, i - 1):min(n, i + 2), :POSE_END].mean(axis=0)


def chunk_rows(cond, k):
    """Conditioning rows 70k .. 70k + 79; rows past the available ones repeat the last row."""
    idx = np.minimum(np.arange(STRIDE * k, STRIDE * k + CHUNK), len(cond) - 1)
    return cond[idx]


def add_chunk(timeline, pred):
    """The timeline after one chunk's 80 motion vectors (a new array)."""
    if timeline is None:
        timeline = pred.copy()
        smooth(timeline, 0, CHUNK - 1)
        return timeline
    L = len(timeline)
    timeline = np.concatenate([timeline, pred[FADE:]])
    for k in range(FADE):
        timeline[L - FADE + k] = (1 - k / FADE) * timeline[L - FADE + k] + (k / FADE) * pred[k]
    smooth(timeline, L - FADE, L)
    return timeline


def chunks(d, cond, total):
    """Every chunk after finish (70k below total): the timeline, and the first chunk's inputs and
    output."""
    timeline, state, first = None, d.initial_motion(), None
    k = 0
    while STRIDE * k < total:
        rows = chunk_rows(cond, k)
        pred = lmdm(d.lmdm_w, state, rows)
        if first is None:
            first = dict(lmdm0_kp=state, lmdm0_aud=rows, lmdm0_pred=pred)
        timeline = add_chunk(timeline, pred)
        state = timeline[len(timeline) - 11]
        k += 1
    return timeline, first


def final_timeline(d, timeline, total):
    """The timeline cut to total frames, smoothed over dimensions [0, 202) once more, clamped."""
    cut = timeline[:total].copy()
    smooth(cut, 0, total - 1)
    return np.clip(cut, d.v_min, d.v_max)


# ---- emitted frames ---------------------------------------------------------------------------

def bin66(logits):
    p = np.exp(logits - logits.max())
    return 3.0 * float(np.sum(p / p.sum() * np.arange(66))) - 97.5


def rotation(pitch, yaw, roll):
    p, y, r = (a * 3.1415927 / 180.0 for a in (pitch, yaw, roll))
    cp, sp, cy, sy, cr, sr = np.cos(p), np.sin(p), np.cos(y), np.sin(y), np.cos(r), np.sin(r)
    return np.array([
        [cy * cr, cy * sr, -sy],
        [sp * sy * cr - cp * sr, cp * cr + sp * sy * sr, sp * cy],
        [sp * sr + cp * sy * cr, cp * sy * sr - sp * cr, cp * cy]])


def target_row(t, nt, start=0, direction=1, loop=True):
    g = direction * t + start
    if nt <= 1:
        return 0
    if loop:
        return g % nt
    m = g % (2 * (nt - 1))
    return m if m <= nt - 1 else 2 * (nt - 1) - m


def emit(d, motion, reference, s):
    """xs, xd, target and keypoints (63 each) of a frame with motion vector `motion`, the first
    emitted frame's expression `reference` and source row s."""
    rec = d.src[s]
    lips = list(LIP_COORDS)
    r = d.template[258] / d.src[0, 258]
    expr = rec[0:63].copy()
    expr[lips] = (motion[202:][lips] - reference[lips]) * r + rec[0:63][lips]
    pitch, roll, yaw = bin66(rec[126:192]), bin66(rec[192:258]), bin66(rec[262:328])
    R_s, R_d = rotation(pitch, yaw, roll), rotation(pitch + d.delta_pitch, yaw, roll)
    c = rec[63:126].reshape(21, 3)
    shift = np.array([rec[259], rec[260], 0.0])
    xs = (rec[258] * (c @ R_s + rec[0:63].reshape(21, 3)) + shift).reshape(63)
    xd = (rec[258] * (c @ R_d + expr.reshape(21, 3)) + shift).reshape(63)
    target = d.xs_target[s]
    keypoints = target + d.s_bridge * (stitch(d.stitch_w, xs, xd) - xs)
    return xs, xd, target, keypoints


def frames(d, final, start=0, direction=1, loop=True):
    """Every frame of the final timeline, walked from `start`: rows and 63-float arrays."""
    out = dict(rows=[], xs=[], xd=[], target=[], keypoints=[])
    reference = final[0, 202:]
    for t in range(len(final)):
        s = target_row(t, d.nt, start, direction, loop)
        xs, xd, target, kp = emit(d, final[t], reference, s)
        for key, value in (("rows", s), ("xs", xs), ("xd", xd), ("target", target),
                           ("keypoints", kp)):
            out[key].append(value)
    return {k: np.array(v) for k, v in out.items()}


# ---- readiness while streaming ---------------------------------------------------------------

def committed_ready(n_samples):
    """Frames ready before finish with eager off (none pulled) once n_samples are in:
    min(timeline length - 11, conditioning rows - 1), at least 0."""
    windows = 0
    while window_ready(n_samples, WINDOW_FRAMES * windows):
        windows += 1
    rows = WINDOW_FRAMES * windows
    chunks_run = 0
    while STRIDE * chunks_run + CHUNK <= rows:
        chunks_run += 1
    length = 0 if chunks_run == 0 else CHUNK + STRIDE * (chunks_run - 1)
    return max(0, min(length - 11, rows - 1))


def read_out(d, timeline, t):
    """A frame pulled before finish: timeline frame t with dimensions [0, 202) the mean of frames
    t - 1 .. t + 1, clamped."""
    motion = timeline[t].copy()
    motion[:POSE_END] = timeline[max(0, t - 1):t + 2, :POSE_END].mean(axis=0)
    return np.clip(motion, d.v_min, d.v_max)


def committed_frames(d, audio, n_samples):
    """The motion vectors of the frames ready before finish (eager off) once n_samples are in."""
    audio = np.asarray(audio[:n_samples], dtype=np.float32).astype(np.float64)
    cond, w = [np.zeros((0, COND))], 0
    while window_ready(n_samples, w):
        cond.append(run_window(d, audio, w)[3])
        w += WINDOW_FRAMES
    cond = np.concatenate(cond)
    timeline, state, k = None, d.initial_motion(), 0
    while STRIDE * k + CHUNK <= len(cond):
        timeline = add_chunk(timeline, lmdm(d.lmdm_w, state, chunk_rows(cond, k)))
        state = timeline[len(timeline) - 11]
        k += 1
    ready = committed_ready(n_samples)
    return np.array([read_out(d, timeline, t) for t in range(ready)]).reshape(ready, MOTION)


# ---- the whole utterance ----------------------------------------------------------------------

def reference(d, audio, start=0, direction=1, loop=True):
    """Every intermediate of a finished utterance, by name (frames walked from row start)."""
    audio = np.asarray(audio, dtype=np.float32).astype(np.float64)
    total = total_frames(len(audio))
    out = frontend(d, audio, total)
    timeline, first = chunks(d, out["cond"], total)
    out.update(first)
    out["res_post"] = timeline[:total]
    out["final"] = final_timeline(d, timeline, total)
    out.update(frames(d, out["final"], start, direction, loop))
    out["ready"] = np.array([committed_ready(n) for n in range(HOP, len(audio) + HOP, HOP)])
    out["total"] = total
    return out


# File name -> content; every array is written flat, row-major (float32, rows.i32 int32).
OUTPUTS = {
    "mag.f32": "window x 21 x 257 FFT magnitudes",
    "mel.f32": "window x 80 x 21 log-mel blocks (band-major)",
    "feat.f32": "window x 20 x 1024 de-standardised features",
    "cond.f32": "rows x 1103 conditioning rows",
    "lmdm0_kp.f32": "265: the first chunk's motion state",
    "lmdm0_aud.f32": "80 x 1103: the first chunk's conditioning rows",
    "lmdm0_pred.f32": "80 x 265: the first chunk's output",
    "res_post.f32": "total x 265: the timeline cut to total, before the final smoothing",
    "final.f32": "total x 265: the final timeline",
    "rows.i32": "total: target rows of the walk (default: start 0, forward, looping)",
    "xs.f32": "total x 63 source keypoints of each frame",
    "xd.f32": "total x 63 driving keypoints before stitching",
    "target.f32": "total x 63 target keypoints",
    "keypoints.f32": "total x 63 output keypoints",
    "ready.i32": "total: frames ready before finish (eager off, none pulled) after 640 (j + 1) samples",
}


def write_reference(ref, out):
    os.makedirs(out, exist_ok=True)
    for name in OUTPUTS:
        stem, ext = os.path.splitext(name)
        dtype = "<i4" if ext == ".i32" else "<f4"
        np.ascontiguousarray(ref[stem], dtype=dtype).tofile(os.path.join(out, name))
    info = dict(total=int(ref["total"]), windows=len(ref["mel"]), rows=len(ref["cond"]),
                files=OUTPUTS)
    with open(os.path.join(out, "info.json"), "w") as f:
        json.dump(info, f, indent=2)
        f.write("\n")


def main(argv):
    ap = argparse.ArgumentParser(prog="motion_ref.py", description=__doc__.splitlines()[0])
    ap.add_argument("--wav", required=True, help="speech: 16-bit mono 16 kHz WAV, or raw float32")
    ap.add_argument("--motion", required=True, help="motion directory")
    ap.add_argument("--out", required=True, help="directory for the reference files")
    ap.add_argument("--start", type=int, default=0, help="first target row of the walk")
    ap.add_argument("--backward", action="store_true", help="walk the rows backwards")
    ap.add_argument("--ping-pong", action="store_true", help="reverse at the ends instead of looping")
    args = ap.parse_args(argv)
    try:
        d = MotionDir(args.motion)
        ref = reference(d, speech_audio.load(args.wav), min(max(args.start, 0), d.nt - 1),
                        -1 if args.backward else 1, not args.ping_pong)
        write_reference(ref, args.out)
    except (ValueError, OSError, KeyError) as e:
        print("motion_ref.py: %s" % e, file=sys.stderr)
        return 1
    print("motion_ref.py: %d frames -> %s" % (ref["total"], args.out))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
