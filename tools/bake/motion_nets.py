"""The motion generator's three networks, as small ONNX graphs with seeded weights:

  hubert_student.onnx  "mel" [1, 80, 21] -> "feats" [1, 20, 1024]. Adjacent mel frames are averaged
                       into 20 rows; feature 0 is the row's mean log-mel (its speech energy),
                       standardised so that de-standardising with the directory's mean and
                       deviation gives the energy back; features 1 to 1023 are tanh of a seeded
                       projection of the row's 80 bands.
  lmdm.onnx            "kp_cond" [1, 265] (motion state), "aud_cond" [1, 80, 1103] (conditioning
                       rows) -> "pred" [1, 80, 265]. Per frame: a base vector (the person's scale,
                       pose logits and translation, the template expression), plus the mouth opening
                       sigmoid((energy - E0) / K) * A_MAX along the mouth-open direction of the
                       expression, plus a small seeded projection of the whole conditioning row
                       into scale, translation and the expression of the rows the mouth does not
                       move (emotion rows move the brows), plus the state's expression offset from the initial motion vector,
                       fading over the first frames (carry-over between chunks).
  stitch.onnx          "xs" [1, 63], "xd" [1, 63] -> "xd_stitched" [1, 63]: xd + A_STITCH *
                       tanh((xd - xs) W), a small correction that vanishes when xd equals xs.

motion_ref.py evaluates the same computations from the weights it reads back from the graphs."""

import numpy as np
from onnx import TensorProto, helper, numpy_helper

import keypoints

OPSET = 17
E0 = -3.0         # mean log-mel where the mouth is half open: espeak-ng's voiced frames lie
K = 1.5           # around -2.5 to 0, its pauses below -9, digital silence at log(1e-8) = -18.4
A_MAX = 0.08      # full opening, in the units of keypoints.open_mouth
CARRY = 0.5       # the state's offset weighs CARRY ** (i + 1) on chunk frame i
A_STITCH = 0.01
ENERGY_MEAN, ENERGY_STD = -8.0, 6.0   # standardisation of feature 0
SEED_TAG = 0x6d6f74                   # "mot": keeps these weights apart from the bundle's draws


class _Graph:
    def __init__(self):
        self.nodes, self.inits = [], []

    def const(self, name, value, dtype=np.float32):
        self.inits.append(numpy_helper.from_array(np.asarray(value, dtype=dtype), name))
        return name

    def op(self, op_type, inputs, name, **attrs):
        self.nodes.append(helper.make_node(op_type, inputs, [name], name=name, **attrs))
        return name

    def slice(self, x, name, start, end, axis):
        return self.op("Slice", [x, self.const(name + "_starts", [start], np.int64),
                                 self.const(name + "_ends", [end], np.int64),
                                 self.const(name + "_axes", [axis], np.int64)], name)

    def model(self, name, inputs, output, out_shape):
        graph = helper.make_graph(
            self.nodes, name,
            [helper.make_tensor_value_info(n, TensorProto.FLOAT, s) for n, s in inputs],
            [helper.make_tensor_value_info(output, TensorProto.FLOAT, out_shape)], self.inits)
        model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)],
                                  producer_name="le-bake")
        model.ir_version = 8
        return model


def lip_free_expression_mask():
    """1 on the expression coordinates of the non-lip keypoints, 0 on the lip rows."""
    mask = np.ones((keypoints.ROWS, 3))
    mask[list(keypoints.LIP_ROWS)] = 0.0
    return mask.reshape(63)


def mouth_direction():
    """Expression change of a unit mouth opening (every row the jaw moves), 63 floats."""
    base = keypoints.neutral()
    return (keypoints.open_mouth(base, 1.0) - base).reshape(63)


def student_weights(rng):
    return dict(energy_gain=np.float32(1.0 / ENERGY_STD),
                energy_bias=np.float32(-ENERGY_MEAN / ENERGY_STD),
                proj=rng.normal(0.0, 0.01, (80, 1023)).astype(np.float32),
                proj_bias=rng.normal(0.0, 0.3, 1023).astype(np.float32))


def student(w):
    g = _Graph()
    a = g.slice("mel", "/pair/first", 0, 20, 2)
    b = g.slice("mel", "/pair/second", 1, 21, 2)
    pairs = g.op("Mul", [g.op("Add", [a, b], "/pair/sum"), g.const("/pair/half", 0.5)], "/pair/mean")
    rows = g.op("Transpose", [pairs], "/rows", perm=[0, 2, 1])
    energy = g.op("ReduceMean", [rows], "/energy/mean", axes=[2], keepdims=1)
    energy = g.op("Mul", [energy, g.const("/energy/gain", w["energy_gain"])], "/energy/scaled")
    energy = g.op("Add", [energy, g.const("/energy/bias", w["energy_bias"])], "/energy/std")
    proj = g.op("MatMul", [rows, g.const("/proj/w", w["proj"])], "/proj/matmul")
    proj = g.op("Tanh", [g.op("Add", [proj, g.const("/proj/b", w["proj_bias"])], "/proj/add")],
                "/proj/tanh")
    g.op("Concat", [energy, proj], "feats", axis=2)
    return g.model("hubert_student", [("mel", [1, 80, 21])], "feats", [1, 20, 1024])


def lmdm_weights(rng, base, initial):
    """base: the per-frame base motion vector; initial: the initial motion vector (265 each)."""
    cols = np.zeros(265)
    cols[0] = 1.0
    cols[199:202] = 1.0
    cols[202:] = lip_free_expression_mask() * (mouth_direction() == 0.0)
    proj = rng.normal(0.0, 1.5e-4, (1103, 265)) * cols
    brows = np.zeros(265)
    for row in (keypoints.ROW["brow_left"], keypoints.ROW["brow_right"]):
        brows[202 + 3 * row:202 + 3 * row + 3] = 1.0
    proj[1024:1032] += rng.normal(0.0, 0.01, (8, 265)) * brows
    mouth = np.zeros(265)
    mouth[202:] = mouth_direction() * A_MAX
    carry = np.zeros((80, 265))
    carry[:, 202:] = (CARRY ** (np.arange(80) + 1.0))[:, None]
    return dict(proj=proj.astype(np.float32), base=np.asarray(base, np.float32),
                mouth=mouth.astype(np.float32), carry=carry.astype(np.float32),
                initial=np.asarray(initial, np.float32))


def lmdm(w):
    g = _Graph()
    energy = g.slice("aud_cond", "/open/energy", 0, 1, 2)
    z = g.op("Sub", [energy, g.const("/open/e0", E0)], "/open/centred")
    z = g.op("Mul", [z, g.const("/open/inv_k", 1.0 / K)], "/open/z")
    opening = g.op("Sigmoid", [z], "/open/sigmoid")
    mouth = g.op("Mul", [opening, g.const("/open/mouth", w["mouth"])], "/open/mouth_motion")
    lin = g.op("MatMul", ["aud_cond", g.const("/cond/proj", w["proj"])], "/cond/matmul")
    lin = g.op("Add", [lin, g.const("/cond/base", w["base"])], "/cond/base_added")
    offset = g.op("Sub", ["kp_cond", g.const("/carry/initial", w["initial"])], "/carry/offset")
    offset = g.op("Unsqueeze", [offset, g.const("/carry/axis", [1], np.int64)], "/carry/row")
    carry = g.op("Mul", [offset, g.const("/carry/fade", w["carry"])], "/carry/faded")
    g.op("Add", [g.op("Add", [lin, mouth], "/sum/mouth"), carry], "pred")
    return g.model("lmdm", [("kp_cond", [1, 265]), ("aud_cond", [1, 80, 1103])], "pred",
                   [1, 80, 265])


def stitch_weights(rng):
    return dict(w=rng.normal(0.0, 2.0 / np.sqrt(63), (63, 63)).astype(np.float32),
                gain=np.float32(A_STITCH))


def stitch(w):
    g = _Graph()
    d = g.op("Sub", ["xd", "xs"], "/motion")
    c = g.op("Tanh", [g.op("MatMul", [d, g.const("/w", w["w"])], "/matmul")], "/tanh")
    c = g.op("Mul", [c, g.const("/gain", w["gain"])], "/correction")
    g.op("Add", ["xd", c], "xd_stitched")
    return g.model("stitch", [("xs", [1, 63]), ("xd", [1, 63])], "xd_stitched", [1, 63])

