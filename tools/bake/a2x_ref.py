"""Numpy reference of the audio-to-expression networks (a2x.py) in float64, and the offline walk
that drives them (positional rows, banded mask, encoder chunks, decoder steps): used to check the
graphs and to compute an utterance's deltas without ONNX Runtime."""

import numpy as np

import a2x

CHUNK = 24


def _layer_norm(x, eps=1e-5):
    mu = x.mean(axis=-1, keepdims=True)
    var = ((x - mu) ** 2).mean(axis=-1, keepdims=True)
    return (x - mu) / np.sqrt(var + eps)


def _softmax(x):
    finite = np.where(np.isfinite(x), x, -np.inf)
    e = np.exp(finite - finite.max(axis=-1, keepdims=True))
    return e / e.sum(axis=-1, keepdims=True)


def encode(sizes, w, feat, pos_window, attn):
    """feat [L, 12, 768], pos_window [L, h], attn [L, L] -> (output [L, h], wn [L]; zeros when
    the encoder has no wn output)."""
    h, heads = sizes["h"], sizes["heads"]
    dh = h // heads
    x = feat.mean(axis=1) @ w["w_in"] + w["b_in"] + pos_window
    for i in range(sizes["layers"]):
        y = _layer_norm(x)
        q, k, v = ((y @ w["l%d_w%s" % (i, n)]).reshape(len(x), heads, dh).transpose(1, 0, 2)
                   for n in ("q", "k", "v"))
        a = _softmax(q @ k.transpose(0, 2, 1) / np.sqrt(dh) + attn)
        x = x + (a @ v).transpose(1, 0, 2).reshape(len(x), h) @ w["l%d_wo" % i]
        y = _layer_norm(x)
        x = x + np.maximum(y @ w["l%d_w1" % i] + w["l%d_b1" % i], 0.0) @ w["l%d_w2" % i]
    if w.get("w_wn") is None:
        return x, np.zeros(len(x))
    return x, 1.0 / (1.0 + np.exp(-(x @ w["w_wn"])))


def decode(w, ctx, prev, hidden):
    """One decoder step: ctx [h], prev [63], hidden [h] -> (m [63], new hidden [h])."""
    mean, std = a2x.norm_stats()
    d = a2x.opening_direction()
    g = ctx @ w["w_c"] + w["b_c"]
    act = np.tanh(g)
    act[0] = 1.0 / (1.0 + np.exp(-g[0]))
    leak = np.full(len(g), a2x.LEAK_CONTEXT)
    leak[0] = a2x.LEAK_OPEN
    new = hidden * leak + act * (1.0 - leak)
    expr = np.tanh(new @ w["w_n"])
    delta = new[0] * (a2x.OPEN * d + a2x.DRIFT * expr) + prev * np.where(d == 0, a2x.HOLD * std, 0.0)
    return (delta - mean) / std, new


def band_mask(L, left, window):
    i = np.arange(L)[:, None]
    j = np.arange(L)[None, :]
    return np.where((j >= i - left) & (j <= i + window), 0.0, -np.inf)


def position_rows(P, frames):
    """Positional row of each frame: itself below P, beyond it the second half repeats."""
    f = np.asarray(frames)
    return np.where(f < P, f, P // 2 + (f - P) % (P - P // 2))


def deltas(sizes, w, pos, features):
    """Offline deltas of an utterance's features [F, 12, 768]: the encoder in chunks of 24 frames
    with layers x left frames of history and layers x window of look-ahead, then the decoder from
    zero state. Returns (deltas [F, 63], encoder outputs [F, h], wn [F])."""
    F = len(features)
    history, ahead = sizes["layers"] * sizes["left"], sizes["layers"] * sizes["window"]
    enc = np.zeros((F, sizes["h"]))
    wn = np.zeros(F)
    for c0 in range(0, F, CHUNK):
        c1 = min(c0 + CHUNK, F)
        s, e = max(0, c0 - history), min(c1 + ahead, F)
        out, act = encode(sizes, w, features[s:e], pos[position_rows(len(pos), np.arange(s, e))],
                          band_mask(e - s, sizes["left"], sizes["window"]))
        enc[c0:c1], wn[c0:c1] = out[c0 - s:c1 - s], act[c0 - s:c1 - s]
    mean, std = a2x.norm_stats()
    prev, hidden = np.zeros(a2x.KP), np.zeros(sizes["h"])
    out = np.zeros((F, a2x.KP))
    for t in range(F):
        prev, hidden = decode(w, enc[t], prev, hidden)
        out[t] = prev * std + mean
    return out, enc, wn
