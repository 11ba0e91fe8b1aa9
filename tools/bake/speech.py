"""The speech encoder of our own (the speech/ folder beside a bundle): a band-energy frontend in
three graphs that share one set of weights.

  trunk   samples -> Conv of 640 Hann-windowed cosine filters (160 taps, stride 80, 40 samples of
          zero padding each side: step i is centred on sample 80 i + 40) -> square ->
          AveragePool over 7 steps (about one 40 ms frame) -> log(energy + EPS): the log energy
          of 640 mel-spaced bands every 5 ms.
  head    one row of 640 band energies -> minus CENTRE -> a rank-RANK projection (two seeded
          matrices) -> 12 layers x 768 channels. Channel 0 of every layer carries the mean band
          energy (the frame's loudness relative to its window), the rest are seeded mixtures.
  8 s     the trunk over 8 s (1600 steps), sampled at the 200 frame positions j * 1598 / 199
          (linear interpolation between the two neighbouring steps), then the head.

The short-window pair (trunk over 2 s, head on 8 interpolated rows) therefore gives what the 8 s
encoder gives, up to the window normalisation the caller applies and the trunk's f16 output.
"""

import os
import shutil

import numpy as np
from onnx import TensorProto, numpy_helper

import onnxgraph
from onnxgraph import Graph, tensor

RATE = 16000
BANDS = 640
TAPS = 400           # 25 ms analysis window
HOP = 80
POOL = 5            # energies averaged over 25 ms more: about one 40 ms frame
EPS = 1e-3
LAYERS, CHANNELS = 12, 768
FRAMES_8S = 200
SAMPLES_8S = 128000
SAMPLES_WIN = 32000
HEAD_ROWS = 8
RANK = 64
CENTRE = -4.0            # typical log band energy of speech, subtracted before the projection
LOUDNESS_CHANNEL = 0

PAIRS = {
    "window": ("audio_encoder_fp16_window_trunk.onnx", "audio_encoder_fp16_window_head.onnx"),
    "legacy": ("w2v_trunk32.onnx", "w2v_head32.onnx"),
}
ENCODER_8S = "w2v_8s.onnx"

# Speech folder variant -> one-line meaning (the README lists the same table).
VARIANTS = {
    "": "8 s encoder and the pair under the first names (short-window mode)",
    "legacy": "8 s encoder alone (no pair beside it: legacy 8 s windows)",
    "legacy-names": "8 s encoder and the pair under the second names w2v_trunk32/w2v_head32",
    "lt-dynamic": "like the first, the trunk's time axis dynamic (LT learnt from the first run)",
    "short-trunk": "like the first, the trunk's output only 200 steps long (positions out of range)",
}


def mel_frequencies(n, lo=60.0, hi=7600.0):
    mel = np.linspace(2595 * np.log10(1 + lo / 700), 2595 * np.log10(1 + hi / 700), n)
    return 700 * (10 ** (mel / 2595) - 1)


def speech_weights(seed=1):
    """The filter bank and the head's projection, deterministic from the seed."""
    rng = np.random.default_rng(np.random.SeedSequence([seed, 0x5EEC]))
    t = np.arange(TAPS)
    phase = rng.uniform(0, 2 * np.pi, BANDS)
    window = np.hanning(TAPS)
    bank = window * np.cos(2 * np.pi * mel_frequencies(BANDS)[:, None] * t / RATE + phase[:, None])
    bank /= np.linalg.norm(bank, axis=1, keepdims=True)
    a = rng.normal(0.0, 1.0 / np.sqrt(BANDS), (BANDS, RANK))
    a[:, 0] = 1.0 / BANDS
    b = rng.normal(0.0, 1.0 / np.sqrt(RANK), (RANK, LAYERS, CHANNELS))
    b[:, :, LOUDNESS_CHANNEL] = 0.0
    b[0] = rng.normal(0.0, 0.5, (LAYERS, CHANNELS))
    b[0, :, LOUDNESS_CHANNEL] = 1.0
    bias = rng.normal(0.0, 0.1, (LAYERS, CHANNELS))
    bias[:, LOUDNESS_CHANNEL] = 0.0
    return dict(bank=bank[:, None, :].astype(np.float32), a=a.astype(np.float32),
                b=b.reshape(RANK, LAYERS * CHANNELS).astype(np.float32),
                bias=bias.reshape(-1).astype(np.float32))


def frame_positions():
    """Trunk step of each of the 200 frames of an 8 s window: floor, floor + 1 and the fraction."""
    p = np.arange(FRAMES_8S) * 1598.0 / 199.0
    i0 = np.floor(p).astype(np.int64)
    return i0, np.minimum(i0 + 1, SAMPLES_8S // HOP - 1), (p - i0).astype(np.float32)


def _energies(g, w, samples, hop=HOP):
    x = g.op("Unsqueeze", [samples, g.i64("/trunk/axis1", [1])], "/trunk/mono")
    x = g.op("Conv", [x, g.const("/trunk/bank", w["bank"])], "/trunk/bands", strides=[hop],
             pads=[(TAPS - hop) // 2] * 2, kernel_shape=[TAPS])
    x = g.op("Mul", [x, x], "/trunk/power")
    x = g.op("AveragePool", [x], "/trunk/pool", kernel_shape=[POOL], strides=[1],
             pads=[POOL // 2] * 2, count_include_pad=0)
    x = g.op("Add", [x, g.const("/trunk/eps", [EPS])], "/trunk/power_eps")
    return g.op("Log", [x], "/trunk/log_energy")


def _project(g, w, rows, out_name):
    """rows [n, 640] -> [n, 12 * 768]"""
    x = g.op("Sub", [rows, g.const("/head/centre", [CENTRE])], "/head/centred")
    x = g.op("MatMul", [x, g.const("/head/a", w["a"])], "/head/low_rank")
    x = g.op("MatMul", [x, g.const("/head/b", w["b"])], "/head/expand")
    return g.op("Add", [x, g.const("/head/bias", w["bias"])], out_name)


def trunk(w, lt_dynamic=False, hop=HOP):
    g = Graph()
    x = _energies(g, w, "input_values", hop)
    g.op("Cast", [x], "trunk_out", to=TensorProto.FLOAT16)
    lt = "LT" if lt_dynamic else SAMPLES_WIN // hop
    return g.model("speech_trunk", [tensor("input_values", [1, SAMPLES_WIN])],
                   [tensor("trunk_out", [1, BANDS, lt], TensorProto.FLOAT16)])


def head(w):
    g = Graph()
    x = _project(g, w, "x", "/head/flat")
    g.op("Reshape", [x, g.i64("/head/shape", [HEAD_ROWS, LAYERS, CHANNELS])], "emb")
    return g.model("speech_head", [tensor("x", [HEAD_ROWS, BANDS])],
                   [tensor("emb", [HEAD_ROWS, LAYERS, CHANNELS])])


def encoder_8s(w):
    g = Graph()
    e = _energies(g, w, "input_values")
    i0, i1, t = frame_positions()
    x0 = g.op("Gather", [e, g.i64("/frames/i0", i0)], "/frames/x0", axis=2)
    x1 = g.op("Gather", [e, g.i64("/frames/i1", i1)], "/frames/x1", axis=2)
    step = g.op("Sub", [x1, x0], "/frames/step")
    x = g.op("Add", [x0, g.op("Mul", [step, g.const("/frames/t", t)], "/frames/t_step")],
             "/frames/energy")
    x = g.op("Reshape", [x, g.i64("/frames/shape", [BANDS, FRAMES_8S])], "/frames/bands")
    x = g.op("Transpose", [x], "/frames/rows", perm=[1, 0])
    x = _project(g, w, x, "/head/flat")
    x = g.op("Reshape", [x, g.i64("/head/shape", [FRAMES_8S, LAYERS, CHANNELS])], "/head/frames")
    g.op("Transpose", [x], "audio_emb", perm=[1, 0, 2])
    return g.model("speech_encoder_8s", [tensor("input_values", [1, SAMPLES_8S])],
                   [tensor("audio_emb", [LAYERS, FRAMES_8S, CHANNELS])])


def models(variant="", seed=1):
    """(file name, ModelProto) of a speech folder variant."""
    if variant not in VARIANTS:
        raise ValueError("unknown speech variant '%s' (known: %s)" % (variant, ", ".join(VARIANTS)))
    w = speech_weights(seed)
    out = [(ENCODER_8S, encoder_8s(w))]
    if variant == "legacy":
        return out
    names = PAIRS["legacy" if variant == "legacy-names" else "window"]
    pair_trunk = trunk(w, lt_dynamic=variant == "lt-dynamic",
                       hop=2 * HOP if variant == "short-trunk" else HOP)
    return out + [(names[0], pair_trunk), (names[1], head(w))]


def bake(out, variant="", seed=1):
    """Writes the speech folder: the 8 s encoder and (unless legacy) the trunk/head pair."""
    if os.path.isdir(out) and (not os.listdir(out) or os.path.isfile(os.path.join(out, ENCODER_8S))):
        shutil.rmtree(out)
    elif os.path.lexists(out):
        raise RuntimeError("le-bake: %s exists and is not a speech folder; refusing to replace it"
                           % out)
    os.makedirs(out)
    for name, model in models(variant, seed):
        onnxgraph.check(model)
        with open(os.path.join(out, name), "wb") as f:
            f.write(model.SerializeToString())


def weights_of(model):
    """The weights held by a baked trunk, head or 8 s encoder (those it has)."""
    inits = {t.name: numpy_helper.to_array(t) for t in model.graph.initializer}
    names = {"bank": "/trunk/bank", "a": "/head/a", "b": "/head/b", "bias": "/head/bias"}
    return {k: inits[v] for k, v in names.items() if v in inits}
