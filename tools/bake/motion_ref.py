"""Numpy reference of the motion generator's pipeline, in float64: the log-mel frontend, the three
networks of a baked motion directory (evaluated from their own weights), the chunked motion
timeline with its cross-fade, smoothing and clamping, and the emitted frames.

    motion_ref.py --wav SPEECH.{wav,f32} --motion DIR --out OUTDIR

writes raw little-endian float32 files into OUTDIR (see write_reference)."""

import argparse
import json
import os
import sys

import numpy as np

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
