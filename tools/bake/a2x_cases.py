"""Reference cases of the speech encoder and the a2x networks, for the C++ suite to run through
ONNX Runtime: DIR/<case>/case.txt names the model (relative to the fixtures directory), its
inputs and the outputs to compare with their tolerance:

    model speech/w2v_8s.onnx
    input input_values 1 128000          (then the dimensions; data in in.input_values.f32)
    output audio_emb 0.001               (reference in out.audio_emb.f32)

and DIR/fox/ the offline walk of the test preset over the espeak-ng sentence "fox": features.f32
(F x 12 x 768, f16-rounded, from 8 s windows), deltas.f32 (F x 63) and wn.f32 (F, as the a2x-wn
encoder gives them)."""

import json
import os

import numpy as np
import onnx

import a2x
import a2x_ref
import speech
import speech_ref


def _write_case(out, model, inputs, outputs):
    """inputs: [(name, array)], outputs: [(name, array, tolerance)]"""
    os.makedirs(out, exist_ok=True)
    lines = ["model " + model]
    for name, value in inputs:
        lines.append("input %s %s" % (name, " ".join(str(d) for d in np.shape(value))))
        np.asarray(value, "<f4").tofile(os.path.join(out, "in.%s.f32" % name))
    for name, value, tol in outputs:
        lines.append("output %s %g" % (name, tol))
        np.asarray(value, "<f4").tofile(os.path.join(out, "out.%s.f32" % name))
    with open(os.path.join(out, "case.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


def _baked_a2x(fixtures, bundle):
    """(sizes, weights, positional table) of a baked bundle's a2x members."""
    root = os.path.join(fixtures, bundle)
    with open(os.path.join(root, "a2x_meta.json")) as f:
        m = json.load(f)
    sizes = {k: m[k] for k in ("h", "heads", "layers", "window", "left")}
    w = a2x.weights_of(onnx.load(os.path.join(root, "a2x_enc_stream.onnx")),
                       onnx.load(os.path.join(root, "a2x_dec.onnx")))
    w = {k: v.astype(np.float64) for k, v in w.items() if v is not None}
    pos = np.fromfile(os.path.join(root, "a2x_pos.f32"), dtype="<f4").astype(np.float64)
    return sizes, w, pos.reshape(-1, sizes["h"])


def _speech_cases(fixtures, out, audio):
    w = {k: v.astype(np.float64) for k, v in
         speech.weights_of(onnx.load(os.path.join(fixtures, "speech", speech.ENCODER_8S))).items()}
    short = np.zeros(speech.SAMPLES_WIN)
    short[:min(len(audio), len(short))] = audio[:len(short)]
    x = speech_ref.normalise(short).astype(np.float32)
    energies = speech_ref.energies(w, x)
    for case, folder in (("speech-trunk", "speech"), ("speech-trunk-lt-dynamic", "speech-lt-dynamic")):
        _write_case(os.path.join(out, case), folder + "/audio_encoder_fp16_window_trunk.onnx",
                    [("input_values", x[None])], [("trunk_out", energies[None], 0.01)])
    rows = energies[:, 100:100 + speech.HEAD_ROWS].T.astype(np.float32)
    _write_case(os.path.join(out, "speech-head"), "speech/audio_encoder_fp16_window_head.onnx",
                [("x", rows)], [("emb", speech_ref.project(w, rows), 1e-3)])
    long = np.zeros(speech.SAMPLES_8S)
    long[:min(len(audio), len(long))] = audio[:len(long)]
    x = speech_ref.normalise(long).astype(np.float32)
    _write_case(os.path.join(out, "speech-8s"), "speech/" + speech.ENCODER_8S,
                [("input_values", x[None])], [("audio_emb", speech_ref.encode_8s(w, x), 1e-3)])
    return w


def _a2x_cases(fixtures, out, features):
    for bundle, case in (("test-a2x-wn", "a2x-test"), ("a2x-demo", "a2x-demo")):
        sizes, w, pos = _baked_a2x(fixtures, bundle)
        L = 40
        feat = features[:L]
        pw = pos[a2x_ref.position_rows(len(pos), np.arange(L) + 3)]
        mask = a2x_ref.band_mask(L, sizes["left"], sizes["window"])
        enc, wn = a2x_ref.encode(sizes, w, feat, pw, mask)
        outputs = [("enc_out", enc[None], 1e-4 * sizes["layers"])]
        if "w_wn" in w:
            outputs.append(("wn", wn[None], 1e-5))
        _write_case(os.path.join(out, case + "-encoder"), bundle + "/a2x_enc_stream.onnx",
                    [("feat", feat[None]), ("pos_window", pw[None]), ("attn", mask[None, None])],
                    outputs)
        rng = np.random.default_rng(11)
        prev, hidden = rng.normal(0.0, 0.5, a2x.KP), rng.normal(0.0, 0.5, sizes["h"])
        m_out, h_out = a2x_ref.decode(w, enc[20], prev, hidden)
        _write_case(os.path.join(out, case + "-decoder"), bundle + "/a2x_dec.onnx",
                    [("ctx_t", enc[20][None]), ("prev", prev[None]), ("h", hidden[None, None])],
                    [("m", m_out[None], 1e-4), ("h_out", h_out[None, None], 1e-5)])


def write(fixtures, out, audio):
    """Writes every case into out, from the baked fixtures and an utterance's samples."""
    w = _speech_cases(fixtures, out, audio)
    features = speech_ref.utterance_features(w, audio)
    _a2x_cases(fixtures, out, features)
    deltas, _enc, wn = a2x_ref.deltas(*_baked_a2x(fixtures, "test-a2x-wn"), features)
    fox = os.path.join(out, "fox")
    os.makedirs(fox, exist_ok=True)
    for name, value in (("features", features), ("deltas", deltas), ("wn", wn)):
        np.asarray(value, "<f4").tofile(os.path.join(fox, name + ".f32"))
