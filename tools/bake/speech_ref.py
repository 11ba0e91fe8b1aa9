"""Numpy reference of the speech encoder (speech.py) in float64, and the window normalisation and
short-window frame mapping its callers apply: used to check the graphs and to compute the features
of a waveform without ONNX Runtime."""

import numpy as np

import speech


def normalise(window):
    """Zero mean, unit variance over the whole window (zeros included)."""
    x = np.asarray(window, dtype=np.float64)
    mean = x.mean()
    std = np.sqrt(np.float32(((x - mean) ** 2).mean()) + 1e-7)
    return (x - mean) / std


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
