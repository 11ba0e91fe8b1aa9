"""Writes the small ONNX graphs the render tests load, one file per model, into the given directory.

Every model is serialised by the onnx package, so the tests read bytes that our own writer did not
produce. Usage: make_test_models.py OUT_DIR
"""
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

OUT = sys.argv[1]


def vi(name, shape):
    return helper.make_tensor_value_info(name, TensorProto.FLOAT, shape)


def save(name, graph, opsets, ir_version=8):
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid(d, v) for d, v in opsets],
                              producer_name="le-tests", producer_version="1", doc_string="test model " + name)
    model.ir_version = ir_version
    helper.set_model_props(model, {"purpose": "render tests", "name": name})
    onnx.save(model, os.path.join(OUT, name + ".onnx"))


def grid_sample(inputs, output, name, **attrs):
    return helper.make_node("GridSample", inputs, [output], name=name, **attrs)


STD = dict(mode="bilinear", padding_mode="border", align_corners=0)

# One rewritable GridSample; widths that fill whole vector steps and widths that leave a tail,
# heights that fill and that cut the last band of 16 rows.
for n, c, h, w in [(2, 3, 9, 13), (1, 4, 20, 8), (2, 3, 40, 64), (1, 6, 33, 67), (1, 2, 5, 3)]:
    g = helper.make_graph([grid_sample(["X", "grid"], "Y", "warp", **STD)], "gs",
                          [vi("X", [n, c, h, w]), vi("grid", [n, h, w, 2])], [vi("Y", [n, c, h, w])])
    save(f"gs_w{w}", g, [("", 16)])

# Opset 20 spells bilinear "linear".
g = helper.make_graph([grid_sample(["X", "grid"], "Y", "warp", mode="linear", padding_mode="border")], "gs20",
                      [vi("X", [1, 5, 17, 29]), vi("grid", [1, 17, 29, 2])], [vi("Y", [1, 5, 17, 29])])
save("gs_linear20", g, [("", 20)], ir_version=9)

# A grid of another spatial size than the input.
g = helper.make_graph([grid_sample(["X", "grid"], "Y", "warp", **STD)], "gsre",
                      [vi("X", [2, 4, 16, 20]), vi("grid", [2, 9, 31, 2])], [vi("Y", [2, 4, 9, 31])])
save("gs_resample", g, [("", 16)])

# A director-shaped graph: initializers (raw and listed), a Constant, a Resize with every attribute
# the head rewrite reads, value infos, doc strings, and GridSample nodes of which only some qualify.
rng = np.random.default_rng(7)
conv_w = numpy_helper.from_array(rng.standard_normal((8, 8, 3, 3)).astype(np.float32) * 0.1, "conv_w")
conv_b = helper.make_tensor("conv_b", TensorProto.FLOAT, [8], rng.standard_normal(8).astype(np.float32).tolist())
scales = helper.make_tensor("scales_value", TensorProto.FLOAT, [2], [2.0, 2.0])
nodes = [
    helper.make_node("Conv", ["pooled64", "conv_w", "conv_b"], ["feat"], name="conv", pads=[1, 1, 1, 1],
                     doc_string="features"),
    grid_sample(["feat", "flow"], "warp_a", "gs_border", **STD),
    grid_sample(["feat", "flow"], "warp_z", "gs_zeros", mode="bilinear", padding_mode="zeros", align_corners=0),
    grid_sample(["feat", "flow"], "warp_m", "gs_nomode", padding_mode="border"),
    grid_sample(["feat", "flow"], "warp_c", "gs_corners", mode="bilinear", padding_mode="border", align_corners=1),
    helper.make_node("Add", ["warp_a", "warp_z"], ["sum_az"], name="add1"),
    helper.make_node("Add", ["sum_az", "warp_m"], ["sum_azm"], name="add2"),
    helper.make_node("Add", ["sum_azm", "warp_c"], ["feat_out"], name="add3"),
    helper.make_node("Constant", [], ["scales"], name="scales_const", value=scales),
    helper.make_node("Resize", ["P_rgb", "", "scales"], ["p_up"], name="head_resize", mode="cubic",
                     coordinate_transformation_mode="half_pixel", cubic_coeff_a=-0.5, exclude_outside=1,
                     antialias=0, axes=[2, 3], keep_aspect_ratio_policy="stretch"),
    grid_sample(["P_rgb", "flow_rgb"], "rgb", "gs_rgb", mode="bilinear", padding_mode="border"),
]
g = helper.make_graph(nodes, "director",
                      [vi("pooled64", [1, 8, 16, 16]), vi("P_rgb", [1, 3, 32, 32]), vi("flow", [1, 16, 16, 2]),
                       vi("flow_rgb", [1, 32, 32, 2])],
                      [vi("rgb", [1, 3, 32, 32]), vi("feat_out", [1, 8, 16, 16]), vi("p_up", [1, 3, 64, 64])],
                      initializer=[conv_w, conv_b], value_info=[vi("feat", [1, 8, 16, 16])],
                      doc_string="director-shaped test graph")
save("director", g, [("", 18)])

# A graph that already carries GridSampleFast beside one standard node.
nodes = [
    helper.make_node("GridSampleFast", ["X", "grid"], ["Y1"], name="baked", domain="com.zentrova"),
    grid_sample(["X", "grid"], "Y2", "std", **STD),
]
g = helper.make_graph(nodes, "baked", [vi("X", [1, 2, 8, 12]), vi("grid", [1, 8, 12, 2])],
                      [vi("Y1", [1, 2, 8, 12]), vi("Y2", [1, 2, 8, 12])])
save("baked", g, [("", 16), ("com.zentrova", 1)])

# Nodes out of order: the second node produces what the first reads.
nodes = [
    helper.make_node("Relu", ["t"], ["u"], name="reads_t"),
    helper.make_node("Neg", ["X"], ["t"], name="makes_t"),
]
g = helper.make_graph(nodes, "unordered", [vi("X", [1, 4])], [vi("u", [1, 4])])
save("unordered", g, [("", 16)])


# The director head's upsampling: a Conv, then one cubic x2 Resize (half_pixel) that the head
# rewrite replaces. Odd sizes, so that the edge rows and columns of both phases are compared.
def head_graph(name, resizes, c=5, h=17, w=23, scales_const=False, shared_scales=False):
    """resizes: (node name, extra attributes, scales) per Resize, each applied to the Conv's output;
    with shared_scales every Resize reads the first one's scales."""
    rng = np.random.default_rng(11)
    inits = [numpy_helper.from_array(rng.standard_normal((c, 3, 3, 3)).astype(np.float32) * 0.3, "head_w")]
    nodes = [helper.make_node("Conv", ["X", "head_w"], ["feat"], name="/head/conv", pads=[1, 1, 1, 1])]
    outputs = []
    for i, (node_name, attrs, scales) in enumerate(resizes):
        scale_name = "scales%d" % (0 if shared_scales else i)
        value = helper.make_tensor(scale_name, TensorProto.FLOAT, [4], scales)
        if scales_const:
            nodes.append(helper.make_node("Constant", [], [scale_name], name="/const%d" % i, value=value))
        elif not (shared_scales and i > 0):
            inits.append(value)
        out = "Y%d" % i
        kwargs = dict(mode="cubic", coordinate_transformation_mode="half_pixel")
        kwargs.update(attrs)
        nodes.append(helper.make_node("Resize", ["feat", "", scale_name], [out], name=node_name, **kwargs))
        outputs.append(vi(out, None))
    g = helper.make_graph(nodes, name, [vi("X", [1, 3, h, w])], outputs, initializer=inits)
    save(name, g, [("", 18)])


X2 = [1.0, 1.0, 2.0, 2.0]
head_graph("head_cubic", [("/head/up_cubic", {}, X2)])
# Unnamed, scales from a Constant node, another a, every optional attribute spelled at its default.
head_graph("head_cubic_const", [("", dict(cubic_coeff_a=-0.5, antialias=0, exclude_outside=0,
                                          keep_aspect_ratio_policy="stretch"), X2)], scales_const=True)
# The scales also feed a linear Resize, so they must outlive the cubic one.
head_graph("head_cubic_shared", [("/head/up_cubic", {}, X2), ("/head/up_linear", dict(mode="linear"), X2)],
           shared_scales=True)
# Near misses: the rewrite must leave each of them as it is.
head_graph("head_cubic_two", [("/head/up_a", {}, X2), ("/head/up_b", {}, X2)])
head_graph("head_cubic_scales23", [("/head/up_cubic", {}, [1.0, 1.0, 2.0, 3.0])])
head_graph("head_cubic_corners", [("/head/up_cubic", dict(coordinate_transformation_mode="align_corners"), X2)])
head_graph("head_cubic_exclude", [("/head/up_cubic", dict(exclude_outside=1), X2)])
head_graph("head_cubic_axes", [("/head/up_cubic", dict(axes=[0, 1, 2, 3]), X2)])
# The data of the Resize comes straight from a graph input: no Conv tells its channel count.
g = helper.make_graph([helper.make_node("Resize", ["X", "", "scales"], ["Y"], name="/head/up_cubic", mode="cubic",
                                        coordinate_transformation_mode="half_pixel")],
                      "head_cubic_noconv", [vi("X", [1, 3, 8, 8])], [vi("Y", None)],
                      initializer=[helper.make_tensor("scales", TensorProto.FLOAT, [4], X2)])
save("head_cubic_noconv", g, [("", 18)])

# The student's blend: a MatMul named exactly /s2/blend (normalised to Gemm) and one whose name only
# begins with it (kept).
rng = np.random.default_rng(12)
nodes = [
    helper.make_node("MatMul", ["A", "blend_w"], ["mixed"], name="/s2/blend", doc_string="blend"),
    helper.make_node("MatMul", ["mixed", "long_w"], ["out"], name="/s2/blend/MatMul"),
]
g = helper.make_graph(nodes, "student", [vi("A", [6, 8])], [vi("out", [6, 3]), vi("mixed", [6, 4])],
                      initializer=[numpy_helper.from_array(rng.standard_normal((8, 4)).astype(np.float32), "blend_w"),
                                   numpy_helper.from_array(rng.standard_normal((4, 3)).astype(np.float32), "long_w")])
save("student_blend", g, [("", 17)])


# Source cones and warp blocks shaped as the director's (curvature planes of P_rgb, one GridSample
# of their Concat, the Slice / Mul / Sub / Add recombination), at crop 16, and their near misses.
def cone_graph(name, grid_input=False, extra_leaf=None, escape=False, tip_readers=("sample",),
               exit_slice=False, prior_outside=False):
    c = 16
    pads = numpy_helper.from_array(np.array([0, 0, 1, 1, 0, 0, 1, 1], np.int64), "pads")
    d2 = np.array([1.0, -2.0, 1.0])
    kernels = {"xx": np.outer([0, 1, 0], d2), "yy": np.outer(d2, [0, 1, 0]), "xxyy": np.outer(d2, d2)}
    inits = [pads]
    nodes = [helper.make_node("Pad", ["P_rgb", "pads"], ["padded"], name="pad", mode="edge")]
    planes = []
    for k, w in kernels.items():
        inits.append(numpy_helper.from_array(np.repeat(w[None, None], 3, 0).astype(np.float32), "w_" + k))
        nodes.append(helper.make_node("Conv", ["padded", "w_" + k], ["v" + k], name="conv_" + k, group=3))
        planes.append("v" + k)
    concat_in = ["P_rgb"] + planes + ([extra_leaf] if extra_leaf else [])
    nodes.append(helper.make_node("Concat", concat_in, ["tip"], name="tip", axis=1))
    inputs = [vi("P_rgb", [1, 3, c, c]), vi("gp", [1, 2, c, c])]
    if grid_input:
        inputs.append(vi("grid", [1, c, c, 2]))
    else:
        nodes.append(helper.make_node("Transpose", ["gp"], ["grid"], name="grid", perm=[0, 2, 3, 1]))
    for i, reader in enumerate(tip_readers):
        out = "s" if i == 0 else "s%d" % i
        if reader == "sample":
            nodes.append(grid_sample(["tip", "grid"], out, "sample%d" % i, **STD))
        else:
            nodes.append(helper.make_node(reader, ["tip"], [out], name="reader%d" % i))
    # a, b = (1 - t) t / 2 of the sample position's fractional part, as the director computes them.
    inits += [numpy_helper.from_array(np.array([v], np.float32), n) for n, v in
              (("half_side", c / 2.0), ("centre", (c - 1) / 2.0), ("minus_half", -0.5), ("half", 0.5))]
    nodes += [helper.make_node("Mul", ["gp", "half_side"], ["pos_s"], name="pos_s"),
              helper.make_node("Add", ["pos_s", "centre"], ["pos"], name="pos"),
              helper.make_node("Floor", ["pos"], ["fl"], name="fl"),
              helper.make_node("Sub", ["pos", "fl"], ["t"], name="t"),
              helper.make_node("Mul", ["t", "minus_half"], ["ht"], name="ht"),
              helper.make_node("Add", ["ht", "half"], ["k"], name="k"),
              helper.make_node("Mul", ["k", "t"], ["abp"], name="abp")]
    for n, lo, hi, axis, src in (("a", 0, 1, 1, "abp"), ("b", 1, 2, 1, "abp"), ("s0", 0, 3, 1, "s"),
                                 ("s1", 3, 6, 1, "s"), ("s2", 6, 9, 1, "s"), ("s3", 9, 12, 1, "s")):
        inits += [numpy_helper.from_array(np.array([lo], np.int64), n + "_lo"),
                  numpy_helper.from_array(np.array([hi], np.int64), n + "_hi"),
                  numpy_helper.from_array(np.array([axis], np.int64), n + "_ax")]
        nodes.append(helper.make_node("Slice", [src, n + "_lo", n + "_hi", n + "_ax"], [n], name="slice_" + n))
    nodes += [helper.make_node("Mul", ["a", "b"], ["ab"], name="ab"),
              helper.make_node("Mul", ["a", "s1"], ["as1"], name="as1"),
              helper.make_node("Sub", ["s0", "as1"], ["r1"], name="r1"),
              helper.make_node("Mul", ["b", "s2"], ["bs2"], name="bs2"),
              helper.make_node("Sub", ["r1", "bs2"], ["r2"], name="r2"),
              helper.make_node("Mul", ["ab", "s3"], ["abs3"], name="abs3"),
              helper.make_node("Add", ["r2", "abs3"], ["warped"], name="warped"),
              helper.make_node("Relu", ["warped"], ["out"], name="after")]
    outputs = [vi("out", [1, 3, c, c])]
    if escape:
        nodes.append(helper.make_node("Relu", ["vxx"], ["leak"], name="leak"))
        outputs.append(vi("leak", [1, 3, c, c]))
    if exit_slice:
        outputs.append(vi("s0", [1, 3, c, c]))
    if prior_outside:
        nodes.append(helper.make_node("Neg", ["P_rgb"], ["neg_prior"], name="neg_prior"))
        outputs.append(vi("neg_prior", [1, 3, c, c]))
    for i, reader in enumerate(tip_readers[1:], 1):
        outputs.append(vi("s%d" % i, None))
    if extra_leaf == "extra":
        inputs.append(vi("extra", [1, 1, c, c]))
    g = helper.make_graph(nodes, name, inputs, outputs, initializer=inits,
                          value_info=[vi("vxx", [1, 3, c, c]), vi("s1", [1, 3, c, c])])
    save(name, g, [("", 17)])


cone_graph("cone")
cone_graph("cone_grid_input", grid_input=True)
cone_graph("cone_reads_input", extra_leaf="extra")
cone_graph("cone_ghost_leaf", extra_leaf="ghost")
cone_graph("cone_escape", escape=True)
cone_graph("cone_two_samplers", tip_readers=("sample", "sample"))
cone_graph("cone_tip_relu", tip_readers=("sample", "Relu"))
cone_graph("cone_no_sampler", tip_readers=("Relu",))
cone_graph("cone_exit_slice", exit_slice=True)
cone_graph("cone_prior_outside", prior_outside=True)

# A prior nothing reads and a Constant: a cone below the Constant's output has no node.
g = helper.make_graph([helper.make_node("Constant", [], ["k"], name="k", value=numpy_helper.from_array(
                           np.ones((1, 3, 4, 4), np.float32), "k_value")),
                       helper.make_node("Add", ["X", "k"], ["Y"], name="add")], "unused_prior",
                      [vi("P_rgb", [1, 3, 4, 4]), vi("X", [1, 3, 4, 4])], [vi("Y", [1, 3, 4, 4])])
save("cone_unused_prior", g, [("", 17)])

# The director's warp block exactly as the baker builds it (source cone, one GridSample of the
# twelve planes, Slice/Mul/Sub/Add recombination), fed by a grid input, and the one WarpDirector node
# that computes the same; crops odd, of the test preset and of the demo preset.
sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tools", "bake"))
import director  # noqa: E402


def warp_node(name, source, grid):
    node = helper.make_node("WarpDirector", ["P_rgb", "grid"], ["/warp/out"], name="le_warp_director",
                            domain="com.zentrova")
    g = helper.make_graph([node], name, [vi("P_rgb", source), vi("grid", grid)], [vi("/warp/out", source)])
    save(name, g, [("", 17), ("com.zentrova", 1)])


for crop, batch in [(37, 2), (64, 1), (512, 1)]:
    onnx.save(director.warp_block(crop, batch), os.path.join(OUT, f"warp_block_{crop}.onnx"))
    warp_node(f"warp_node_{crop}", [batch, 3, crop, crop], [batch, crop, crop, 2])
warp_node("warp_node_c4", [1, 4, 8, 8], [1, 8, 8, 2])
warp_node("warp_node_grid9", [1, 3, 8, 8], [1, 8, 9, 2])


def compose_graph(name, one=1.0, one_node=False, passthroughs=0, alpha_op="Clip", alpha_input=False,
                  alpha_leak=False, extra_inputs=(), prior=(1, 3, 8, 8)):
    """rgb = gen * a + (1 - a) * P_rgb with a = Clip(e), the compose tail of a director, and the ways a
    graph can differ from it."""
    shape = [1, 3, 8, 8]
    inits, nodes = [], []
    if one_node:
        nodes.append(helper.make_node("Constant", [], ["one"], name="one",
                                      value=numpy_helper.from_array(np.array([one], np.float32))))
    else:
        inits.append(numpy_helper.from_array(np.array([one], np.float32), "one"))
    inputs = [vi("P_rgb", list(prior)), vi("gen", shape)]
    if alpha_input:
        inputs.append(vi("a", [1, 1, 8, 8]))
    else:
        inputs.append(vi("e", [1, 1, 8, 8]))
        if alpha_op == "Clip":
            inits += [numpy_helper.from_array(np.array(0.0, np.float32), "lo"),
                      numpy_helper.from_array(np.array(1.0, np.float32), "hi")]
            nodes.append(helper.make_node("Clip", ["e", "lo", "hi"], ["a"], name="alpha"))
        else:
            nodes.append(helper.make_node(alpha_op, ["e"], ["a"], name="alpha"))
    inputs += [vi(n, [1, 1, 8, 8]) for n in extra_inputs]
    nodes += [helper.make_node("Mul", ["gen", "a"], ["ga"], name="generated_a"),
              helper.make_node("Sub", ["one", "a"], ["oma"], name="one_minus_a"),
              helper.make_node("Mul", ["oma", "P_rgb"], ["bg"], name="background_a"),
              helper.make_node("Add", ["ga", "bg"], ["t0"], name="compose")]
    for i in range(passthroughs):
        op = "Identity" if i % 2 == 0 else "Cast"
        attrs = {"to": TensorProto.FLOAT} if op == "Cast" else {}
        nodes.append(helper.make_node(op, [f"t{i}"], [f"t{i + 1}"], name=f"pass{i}", **attrs))
    nodes.append(helper.make_node("Identity", [f"t{passthroughs}"], ["rgb"], name="out"))
    outputs = [vi("rgb", shape)]
    if alpha_leak:
        nodes.append(helper.make_node("Neg", ["a"], ["alpha_seen"], name="leak"))
        outputs.append(vi("alpha_seen", [1, 1, 8, 8]))
    save(name, helper.make_graph(nodes, name, inputs, outputs, inits), [("", 17)])


# An initializer no node reads: ONNX Runtime warns while it loads the model.
g = helper.make_graph([helper.make_node("Identity", ["x"], ["y"], name="pass")], "unused_initializer",
                      [vi("x", [1, 4])], [vi("y", [1, 4])],
                      [numpy_helper.from_array(np.zeros(4, np.float32), "never_read")])
save("unused_initializer", g, [("", 17)])

compose_graph("compose")
compose_graph("compose_constant_one", one_node=True, passthroughs=3)
compose_graph("compose_0999", one=0.999)
compose_graph("compose_five_passthroughs", passthroughs=4)
compose_graph("compose_sigmoid_alpha", alpha_op="Sigmoid")
compose_graph("compose_alpha_input", alpha_input=True)
compose_graph("compose_alpha_leak", alpha_leak=True)
compose_graph("compose_has_lip_delivery", extra_inputs=("lip_delivery",))
compose_graph("compose_symbolic_canvas", prior=(1, 3, "h", "w"))
