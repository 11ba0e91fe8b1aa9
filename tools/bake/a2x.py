"""The audio-to-expression members of a bundle: a2x_meta.json, a2x_pos.f32, a2x_norm.f32 and the
two networks a2x_enc_stream.onnx and a2x_dec.onnx.

  encoder  feat [1, L, 12, 768] -> mean over the 12 layers -> projection to h channels, plus
           pos_window [1, L, h] -> `layers` pre-norm transformer layers (multi-head attention
           whose logits get the attn input [1, 1, L, L] added, so the caller's band mask really
           masks; a ReLU feed-forward of 2 h) -> output 0 [1, L, h]; with the wn variant a second
           output [1, L], a sigmoid of the output (the frame's speech activity). Channel 0 of the
           residual stream is the frame's loudness, (loudness feature - LOUD_CENTRE) / LOUD_SCALE:
           the positional table and every layer leave it alone (their weights into it are zero).
  decoder  one autoregressive step. g = ctx_t Wc + bc; the new hidden state is a leaky blend of
           the old one and sigmoid(g) in channel 0 (the mouth opening, quick to follow) and
           tanh(g) elsewhere (a slower memory of the context). The deltas are
             opening * (OPEN * D + S * tanh(hidden Wn)) + prev * std * HOLD on the rows D leaves
           alone, where D is the mouth-opening direction of keypoints.open_mouth (lips, chin and
           jaw): the mouth opens with the loudness, silence keeps every row at the target, and the
           other rows drift only a little, fading out through prev. Output m = (delta - mean) / std
           with the mean and std of a2x_norm.f32, so that delta = m * std + mean.
"""

import json

import numpy as np
from onnx import numpy_helper

import keypoints
import speech
from onnxgraph import Graph, tensor

KP = 63
LOUD_CENTRE = 0.5     # loudness feature (mean log band energy - speech.CENTRE) at half opening
LOUD_SCALE = 1.5
GATE_GAIN = 3.0       # opening = sigmoid(GATE_GAIN * loudness channel)
OPEN = 0.08           # full mouth opening, in keypoints.open_mouth's units
DRIFT = 0.003         # largest expression drift of any coordinate while speaking
HOLD = 0.5            # share of the previous drift kept per frame
LEAK_OPEN, LEAK_CONTEXT = 0.3, 0.7


def opening_direction():
    """D: the 63-vector keypoints.open_mouth moves the keypoints along per unit of opening."""
    base = keypoints.neutral()
    return (keypoints.open_mouth(base, 1.0) - base).reshape(KP)


def norm_stats():
    """Means and standard deviations of the deltas (63 each)."""
    d = opening_direction()
    moving = d != 0
    mean = np.where(moving, 0.5 * OPEN * d * 0.5, 0.0)
    std = np.where(moving, 0.5 * OPEN * np.abs(d) + 0.002, 0.004)
    return mean, std


def meta(sizes, width, left=True, silence_prime=0):
    m = {"format": "le-a2x-v0", "h": sizes["h"], "heads": sizes["heads"], "window": sizes["window"]}
    if left:
        m["left"] = sizes["left"]
    m.update(layers=sizes["layers"], width=bool(width), silence_prime=silence_prime,
             positions=sizes["positions"], fps=25, agent="le-bake")
    return json.dumps(m, indent=2) + "\n"


def positional_table(sizes):
    """positions x h: sinusoids of falling frequency, channel 0 (loudness) left at zero."""
    P, h = sizes["positions"], sizes["h"]
    p = np.arange(P)[:, None]
    c = np.arange(h)[None, :]
    table = 0.3 * np.sin(p / 10000.0 ** (2 * (c // 2) / h) + (c % 2) * np.pi / 2)
    table[:, 0] = 0.0
    return table.astype(np.float32)


def a2x_weights(sizes, rng):
    """Seeded encoder and decoder weights (the same dict feeds the graphs and the reference)."""
    h, feat = sizes["h"], speech.CHANNELS
    ffn = 2 * h

    def normal(shape, fan_in):
        return rng.normal(0.0, 1.0 / np.sqrt(fan_in), shape)

    w_in = normal((feat, h), feat)
    w_in[:, 0] = 0.0
    w_in[speech.LOUDNESS_CHANNEL, 0] = 1.0 / LOUD_SCALE
    b_in = np.zeros(h)
    b_in[0] = -LOUD_CENTRE / LOUD_SCALE
    w = dict(w_in=w_in, b_in=b_in)
    for i in range(sizes["layers"]):
        for k in ("q", "k", "v"):
            w["l%d_w%s" % (i, k)] = normal((h, h), h)
        w["l%d_wo" % i] = normal((h, h), h) * 0.5
        w["l%d_w1" % i], w["l%d_b1" % i] = normal((h, ffn), h), rng.normal(0.0, 0.05, ffn)
        w["l%d_w2" % i] = normal((ffn, h), ffn) * 0.5
        w["l%d_wo" % i][:, 0] = 0.0
        w["l%d_w2" % i][:, 0] = 0.0
    w_wn = rng.normal(0.0, 0.1, h)
    w_wn[0] = 2.0
    w["w_wn"] = w_wn
    w_c = normal((h, h), h)
    w_c[:, 0] = 0.0
    w_c[0, 0] = GATE_GAIN
    w["w_c"], w["b_c"] = w_c, np.zeros(h)
    w_n = normal((h, KP), h)
    w_n[0] = 0.0
    w["w_n"] = w_n
    return {k: v.astype(np.float32) for k, v in w.items()}


def _layer_norm(g, x, name, h):
    return g.op("LayerNormalization", [x, g.const(name + "/gamma", np.ones(h)),
                                       g.const(name + "/beta", np.zeros(h))], name, axis=-1,
                epsilon=1e-5)


def _attention(g, w, x, i, sizes):
    h, heads = sizes["h"], sizes["heads"]
    p = "/l%d/attn" % i
    split = g.i64(p + "/split", [0, -1, heads, h // heads])
    qkv = {}
    for k in ("q", "k", "v"):
        t = g.op("MatMul", [x, g.const(p + "/w" + k, w["l%d_w%s" % (i, k)])], p + "/" + k)
        t = g.op("Reshape", [t, split], p + "/" + k + "_heads")
        qkv[k] = g.op("Transpose", [t], p + "/" + k + "_t", perm=[0, 2, 1, 3])
    kt = g.op("Transpose", [qkv["k"]], p + "/k_tt", perm=[0, 1, 3, 2])
    logits = g.op("MatMul", [qkv["q"], kt], p + "/qk")
    logits = g.op("Mul", [logits, g.const(p + "/scale", [1.0 / np.sqrt(h // heads)])], p + "/scaled")
    logits = g.op("Add", [logits, "attn"], p + "/masked")
    a = g.op("Softmax", [logits], p + "/weights", axis=-1)
    y = g.op("MatMul", [a, qkv["v"]], p + "/mix")
    y = g.op("Transpose", [y], p + "/mix_t", perm=[0, 2, 1, 3])
    y = g.op("Reshape", [y, g.i64(p + "/merge", [0, -1, h])], p + "/merged")
    return g.op("MatMul", [y, g.const(p + "/wo", w["l%d_wo" % i])], p + "/out")


def _feed_forward(g, w, x, i):
    p = "/l%d/ffn" % i
    y = g.op("MatMul", [x, g.const(p + "/w1", w["l%d_w1" % i])], p + "/up")
    y = g.op("Relu", [g.op("Add", [y, g.const(p + "/b1", w["l%d_b1" % i])], p + "/up_b")], p + "/relu")
    return g.op("MatMul", [y, g.const(p + "/w2", w["l%d_w2" % i])], p + "/down")


def encoder(sizes, w, width):
    g = Graph()
    h = sizes["h"]
    f = g.op("ReduceMean", ["feat"], "/in/layer_mean", axes=[2], keepdims=0)
    x = g.op("MatMul", [f, g.const("/in/w", w["w_in"])], "/in/proj")
    x = g.op("Add", [x, g.const("/in/b", w["b_in"])], "/in/proj_b")
    x = g.op("Add", [x, "pos_window"], "/in/positioned")
    for i in range(sizes["layers"]):
        a = _attention(g, w, _layer_norm(g, x, "/l%d/ln1" % i, h), i, sizes)
        x = g.op("Add", [x, a], "/l%d/res1" % i)
        f = _feed_forward(g, w, _layer_norm(g, x, "/l%d/ln2" % i, h), i)
        x = g.op("Add", [x, f], "/l%d/res2" % i if i + 1 < sizes["layers"] else "enc_out")
    outputs = [tensor("enc_out", [1, "L", h])]
    if width:
        s = g.op("MatMul", [x, g.const("/wn/w", w["w_wn"])], "/wn/logit")
        g.op("Sigmoid", [s], "wn")
        outputs.append(tensor("wn", [1, "L"]))
    inputs = [tensor("feat", [1, "L", speech.LAYERS, speech.CHANNELS]),
              tensor("pos_window", [1, "L", h]), tensor("attn", [1, 1, "L", "L"])]
    return g.model("a2x_encoder", inputs, outputs)


def _decoder_state(g, w, h):
    """The new hidden state [1, h]: a leaky blend of the old one with sigmoid (channel 0, the
    opening) or tanh (the rest) of the projected context."""
    first = np.zeros(h)
    first[0] = 1.0
    gate = g.op("MatMul", ["ctx_t", g.const("/dec/wc", w["w_c"])], "/dec/ctx_proj")
    gate = g.op("Add", [gate, g.const("/dec/bc", w["b_c"])], "/dec/g")
    sig = g.op("Mul", [g.op("Sigmoid", [gate], "/dec/sig"), g.const("/dec/first", first)],
               "/dec/sig_first")
    tanh = g.op("Mul", [g.op("Tanh", [gate], "/dec/tanh"), g.const("/dec/rest", 1.0 - first)],
                "/dec/tanh_rest")
    act = g.op("Add", [sig, tanh], "/dec/act")
    leak = np.where(first > 0, LEAK_OPEN, LEAK_CONTEXT)
    old = g.op("Reshape", ["h", g.i64("/dec/flat", [1, h])], "/dec/h_flat")
    kept = g.op("Mul", [old, g.const("/dec/leak", leak)], "/dec/kept")
    taken = g.op("Mul", [act, g.const("/dec/take", 1.0 - leak)], "/dec/taken")
    return g.op("Add", [kept, taken], "/dec/h_new"), first


def decoder(sizes, w):
    g = Graph()
    h = sizes["h"]
    mean, std = norm_stats()
    d = opening_direction()
    new, first = _decoder_state(g, w, h)
    g.op("Reshape", [new, g.i64("/dec/state", [1, 1, h])], "h_out")
    opening = g.op("MatMul", [new, g.const("/dec/pick_open", first[:, None])], "/dec/opening")
    expr = g.op("MatMul", [new, g.const("/dec/wn", w["w_n"])], "/dec/expr_proj")
    drift = g.op("Mul", [g.op("Tanh", [expr], "/dec/expr"), g.const("/dec/drift", np.full(KP, DRIFT))],
                 "/dec/drift_s")
    shape = g.op("Add", [g.const("/dec/open_dir", OPEN * d), drift], "/dec/shape")
    spoken = g.op("Mul", [opening, shape], "/dec/spoken")
    held = g.op("Mul", ["prev", g.const("/dec/hold", np.where(d == 0, HOLD * std, 0.0))], "/dec/held")
    delta = g.op("Add", [spoken, held], "/dec/delta")
    centred = g.op("Sub", [delta, g.const("/dec/mean", mean)], "/dec/centred")
    g.op("Mul", [centred, g.const("/dec/inv_std", 1.0 / std)], "m")
    inputs = [tensor("ctx_t", [1, h]), tensor("prev", [1, KP]), tensor("h", [1, 1, h])]
    return g.model("a2x_decoder", inputs, [tensor("m", [1, KP]), tensor("h_out", [1, 1, h])])


def weights_of(encoder_model, decoder_model):
    """The weights held by a baked encoder and decoder, keyed as a2x_weights keys them."""
    inits = {t.name: numpy_helper.to_array(t)
             for m in (encoder_model, decoder_model) for t in m.graph.initializer}
    w = {"w_in": inits["/in/w"], "b_in": inits["/in/b"], "w_c": inits["/dec/wc"],
         "b_c": inits["/dec/bc"], "w_n": inits["/dec/wn"], "w_wn": inits.get("/wn/w")}
    layer = 0
    while "/l%d/attn/wq" % layer in inits:
        for k in ("q", "k", "v", "o"):
            w["l%d_w%s" % (layer, k)] = inits["/l%d/attn/w%s" % (layer, k)]
        for k in ("w1", "b1", "w2"):
            w["l%d_%s" % (layer, k)] = inits["/l%d/ffn/%s" % (layer, k)]
        layer += 1
    return w
