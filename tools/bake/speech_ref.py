"""Numpy reference of the speech encoder (speech.py) in float64, and the window normalisation and
short-window frame mapping its callers apply: used to check the graphs and to compute the features
of a waveform without ONNX Runtime."""

import numpy as np

import speech


def normalise(window):
    """Zero mean, unit variance over the whole window (zeros included): mean and variance in
    double, the standard deviation in f32, the samples scaled in double and stored as f32."""
    x = np.asarray(window, dtype=np.float64)
    mean = x.mean()
    std = np.sqrt(np.float32(((x - mean) ** 2).mean()) + np.float32(1e-7), dtype=np.float32)
    return ((x - mean) * (1.0 / float(std))).astype(np.float32).astype(np.float64)


def energies(w, samples, hop=speech.HOP):
    """Log band energies [640, steps] of a 1-D sample array (the trunk without its f16 cast)."""
    pad = (speech.TAPS - hop) // 2
    x = np.concatenate([np.zeros(pad), np.asarray(samples, np.float64), np.zeros(pad)])
    steps = (len(x) - speech.TAPS) // hop + 1
    idx = np.arange(steps)[:, None] * hop + np.arange(speech.TAPS)[None, :]
    bands = w["bank"][:, 0, :].astype(np.float64) @ x[idx].T
    power = bands * bands
    half = speech.POOL // 2
    padded = np.pad(power, ((0, 0), (half, half)))
    counts = np.convolve(np.ones(steps), np.ones(speech.POOL), mode="same")
    pooled = sum(padded[:, k:k + steps] for k in range(speech.POOL)) / counts
    return np.log(pooled + speech.EPS)


def project(w, rows):
    """Head: rows [n, 640] -> [n, 12, 768]."""
    x = (np.asarray(rows, np.float64) - speech.CENTRE) @ w["a"].astype(np.float64)
    x = x @ w["b"].astype(np.float64) + w["bias"]
    return x.reshape(len(rows), speech.LAYERS, speech.CHANNELS)


def encode_8s(w, samples):
    """The 8 s encoder: 128000 samples -> [12, 200, 768]."""
    e = energies(w, samples)
    i0, i1, t = speech.frame_positions()
    rows = (e[:, i0] * (1 - t) + e[:, i1] * t).T
    return project(w, rows).transpose(1, 0, 2)


def window_frames(w, audio, start_frame, count=speech.FRAMES_8S):
    """Features of frames [start_frame, start_frame + count) taken from one normalised 8 s window
    starting at that frame (zeros past the audio): [count, 12, 768]."""
    s0 = start_frame * 640
    window = np.zeros(speech.SAMPLES_8S)
    piece = np.asarray(audio, np.float64)[s0:s0 + speech.SAMPLES_8S]
    window[:len(piece)] = piece
    return encode_8s(w, normalise(window)).transpose(1, 0, 2)[:count]


def utterance_features(w, audio):
    """Offline features of a whole utterance: 8 s windows every 100 frames, each frame from the
    first window offering it at positions 0..199 (first window) or 50..199 (later ones), rounded
    to f16 precision: [F, 12, 768] with F = ceil(n / 640)."""
    F = -(-len(audio) // 640)
    out = np.zeros((F, speech.LAYERS, speech.CHANNELS))
    done = 0
    s = 0
    while s < F:
        frames = window_frames(w, audio, s)
        lo = done - s
        hi = min(speech.FRAMES_8S, F - s)
        out[done:s + hi] = frames[lo:hi]
        done = s + hi
        s += 100
    return out.astype(np.float16).astype(np.float64)


def trunk_position(block_start, k, window_end):
    """Trunk step of frame k for a short window ending at sample window_end: the frame's place in
    the 8 s window it would come from, shifted to the short window's start."""
    b = 0 if k < speech.FRAMES_8S else 100 * (k // 100 - 1)
    return (b * 640 - (window_end - speech.SAMPLES_WIN)) / speech.HOP + (k - b) * 1598.0 / 199.0


def short_window_features(w, audio, right=12, block=8):
    """Features of a whole utterance from 2 s trunk windows, one per block of 8 frames ending
    right frames after the block, rounded to f16 as the trunk's output and the features are:
    [F rounded up to the block, 12, 768]."""
    audio = np.asarray(audio, np.float64)
    F = -(-len(audio) // 640)
    blocks = -(-F // block)
    out = np.zeros((blocks * block, speech.LAYERS, speech.CHANNELS))
    for s in range(0, blocks * block, block):
        end = (s + block + right) * 640
        window = np.zeros(speech.SAMPLES_WIN)
        lo = end - speech.SAMPLES_WIN
        piece = audio[max(lo, 0):max(end, 0)]
        window[max(-lo, 0):max(-lo, 0) + len(piece)] = piece
        x = energies(w, normalise(window).astype(np.float32)).astype(np.float16).astype(np.float64)
        rows = []
        for k in range(s, s + block):
            p = trunk_position(s, k, end)
            i0 = int(np.floor(p))
            if i0 < 0 or i0 >= x.shape[1]:
                raise ValueError("w2v_win: trunk pos out of range")
            i1, t = min(i0 + 1, x.shape[1] - 1), p - i0
            rows.append(x[:, i0] * (1 - t) + x[:, i1] * t)
        rows = np.asarray(rows).astype(np.float16).astype(np.float64)
        out[s:s + block] = project(w, rows)
    return out.astype(np.float16).astype(np.float64)
