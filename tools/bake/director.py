"""Director networks (model_b<batch>.onnx): the m4b graph and its FeatSynth form.

The m4b graph warps the source crop P_rgb by a smooth displacement field built from the keypoints
and refines it with a small head:

  displacement  each point of a coarse grid moves by the blend of kp_driving - kp_source over the
                keypoints, weighted by a Gaussian of its distance to kp_driving (narrow for the lip
                rows, wider for the rest; plus a floor, so the field fades away from the face); the
                field is upsampled to the crop and subtracted from the identity grid (backward
                warp).
  source cone   P_rgb -> edge-clamped curvature planes vxx, vyy, vxxyy -> Concat(P_rgb, vxx, vyy,
                vxxyy): 12 planes.
  warp          one bilinear / border / align_corners=0 GridSample of the 12 planes at the grid,
                then out = (s0 - a s1 - b s2) + (a b) s3 with a, b = (1 - t) t / 2 of the sample
                position's fractional part: a curvature-corrected bilinear sample.
  head          the warped crop pooled to an eighth, concatenated with pooled64 projected to four
                channels, one 3x3 Conv + Relu, a 1x1 Conv, one cubic x2 Resize and a linear x4
                Resize back to the crop: a residual added to the warped crop (or, in the "full"
                heads, the same at half the crop and the cubic x2 Resize alone).
  compose       rgb = generated * a + (1 - a) * warped, a = Clip of an ellipse around the mouth
                from kp_driving's lip rows 17 to 20.
"""

import numpy as np
from onnx import TensorProto, helper

from keypoints import LIP_ROWS, ROWS
from onnxgraph import Graph

ZENTROVA = "com.zentrova"
ZENTROVA_INT8 = "com.zentrova.int8"
SIGMA_LIP = 0.045     # Gaussian width of a lip keypoint's pull, in crop coordinates
SIGMA_FACE = 0.10     # and of every other keypoint's
FLOOR = 0.02          # weight of "no displacement" in the blend
ALPHA_ROWS = (17, 18, 19, 20)
ALPHA_PAD = (1.35, 0.04, 1.6, 0.05)   # ellipse: x half-width scale and margin, y likewise
ALPHA_GAIN = 4.0      # steepness of the ellipse's feather
HEAD_CH = 8
POOLED_PROJ = 4
# How the head's residual reaches the crop: "eighth" (cubic x2 then linear x4), "full" (cubic x2
# alone, from half the crop) and near misses of "full" that the load-time head rewrite must skip.
HEADS = ("eighth", "full", "two-cubic", "scales23", "align-corners")

# Second differences: d2/dx2, d2/dy2 and their product as 3x3 filters.
_D2 = np.array([1.0, -2.0, 1.0])
CURVATURE = {
    "xx": np.outer([0.0, 1.0, 0.0], _D2),
    "yy": np.outer(_D2, [0.0, 1.0, 0.0]),
    "xxyy": np.outer(_D2, _D2),
}


# (member name, batch): the per-frame and four-frame directors, and the steady chunk director an
# utterance pipeline renders speech with, 24 frames a call.
DIRECTORS = (("model_b1.onnx", 1), ("model_b4.onnx", 4), ("model_b24_fp32.onnx", 24))


def pull_coefficients(rows):
    """-1 / (2 sigma^2) per keypoint row (a dynamic row count is fed 21 rows)."""
    return np.array([-0.5 / (SIGMA_LIP if r in LIP_ROWS else SIGMA_FACE) ** 2
                     for r in range(rows or ROWS)])


def coarse_side(crop):
    return min(64, crop)


def director_weights(rng):
    """Seeded weights of the head; the same dict feeds the graph and the numpy reference."""
    return dict(
        wp=(rng.normal(0.0, 0.05, (POOLED_PROJ, 64, 1, 1))).astype(np.float32),
        bp=np.zeros(POOLED_PROJ, np.float32),
        w1=(rng.normal(0.0, 0.2, (HEAD_CH, 3 + POOLED_PROJ, 3, 3))).astype(np.float32),
        b1=(rng.normal(0.0, 0.05, HEAD_CH)).astype(np.float32),
        w2=(rng.normal(0.0, 0.004, (3, HEAD_CH, 1, 1))).astype(np.float32),
        b2=np.zeros(3, np.float32),
    )


def _coarse_points(G):
    c = (np.arange(G) + 0.5) / G * 2.0 - 1.0
    v, u = np.meshgrid(c, c, indexing="ij")
    return np.stack([u, v], axis=-1).reshape(1, G * G, 1, 2)


def _pixel_coords(crop):
    return (np.arange(crop) + 0.5) / crop * 2.0 - 1.0


def _resize(g, x, name, scale, mode):
    if scale == 1:
        return x
    scales = g.const(name + "_scales", [1.0, 1.0, scale, scale])
    return g.op("Resize", [x, "", scales], name, mode=mode,
                coordinate_transformation_mode="half_pixel")


def _slice(g, x, name, start, end, axis):
    return g.op("Slice", [x, g.i64(name + "_starts", [start]), g.i64(name + "_ends", [end]),
                          g.i64(name + "_axes", [axis])], name)


def _grid(g, crop, kd, ks, rows):
    """Backward sampling grid [N, crop, crop, 2] and its planar form [N, 2, crop, crop]."""
    G = coarse_side(crop)
    kd2 = _slice(g, kd, "/field/kd_xy", 0, 2, 2)
    ks2 = _slice(g, ks, "/field/ks_xy", 0, 2, 2)
    delta = g.op("Sub", [kd2, ks2], "/field/delta")
    kdu = g.op("Unsqueeze", [kd2, g.i64("/field/axis1", [1])], "/field/kd_row")
    diff = g.op("Sub", [g.const("/field/points", _coarse_points(G)), kdu], "/field/diff")
    sq = g.op("Mul", [diff, diff], "/field/sq")
    d2 = g.op("ReduceSum", [sq, g.i64("/field/axis3", [3])], "/field/d2", keepdims=0)
    logits = g.op("Mul", [d2, g.const("/field/neg_inv_2s2", pull_coefficients(rows))],
                  "/field/logits")
    w = g.op("Exp", [logits], "/field/w")
    num = g.op("MatMul", [w, delta], "/field/num")
    den = g.op("ReduceSum", [w, g.i64("/field/axis2", [2])], "/field/den", keepdims=1)
    den = g.op("Add", [den, g.const("/field/floor", [FLOOR])], "/field/den_floor")
    disp = g.op("Div", [num, den], "/field/disp")
    disp = g.op("Reshape", [disp, g.i64("/field/shape", [0, G, G, 2])], "/field/disp_grid")
    disp = g.op("Transpose", [disp], "/field/disp_planes", perm=[0, 3, 1, 2])
    disp = _resize(g, disp, "/field/upsample", crop // G, "linear")
    p = _pixel_coords(crop)
    bx = np.zeros((1, 2, 1, crop)); bx[0, 0, 0, :] = p
    by = np.zeros((1, 2, crop, 1)); by[0, 1, :, 0] = p
    base = g.op("Add", [g.const("/field/base_x", bx), g.const("/field/base_y", by)], "/field/base")
    planes = g.op("Sub", [base, disp], "/field/grid_planes")
    grid = g.op("Transpose", [planes], "/field/grid", perm=[0, 2, 3, 1])
    return grid, planes


def _curvature_weights(g, crop, planes):
    """a, b = (1 - t) t / 2 of the sample position's fractional part, and a * b."""
    pos = g.op("Mul", [planes, g.const("/curv/half_side", [crop / 2.0])], "/curv/pos_scaled")
    pos = g.op("Add", [pos, g.const("/curv/centre", [(crop - 1) / 2.0])], "/curv/pos")
    fl = g.op("Floor", [pos], "/curv/floor")
    t = g.op("Sub", [pos, fl], "/curv/frac")
    h = g.op("Mul", [t, g.const("/curv/minus_half", [-0.5])], "/curv/half_t")
    k = g.op("Add", [h, g.const("/curv/half", [0.5])], "/curv/half_one_minus_t")
    ab = g.op("Mul", [k, t], "/curv/ab_planes")
    a = _slice(g, ab, "/curv/a", 0, 1, 1)
    b = _slice(g, ab, "/curv/b", 1, 2, 1)
    return a, b, g.op("Mul", [a, b], "/curv/ab")


def _source_cone(g, two_concat):
    """P_rgb -> Concat(P_rgb, vxx, vyy, vxxyy): planes grouped by kind, R, G, B within each."""
    pads = g.i64("/cone/pads", [0, 0, 1, 1, 0, 0, 1, 1])
    if two_concat:
        triple = g.op("Concat", ["P_rgb", "P_rgb", "P_rgb"], "/cone/triple", axis=1)
        padded = g.op("Pad", [triple, pads], "/cone/pad", mode="edge")
        w = np.stack([CURVATURE[k] for k in ("xx", "yy", "xxyy") for _c in range(3)])[:, None]
        curv = g.op("Conv", [padded, g.const("/cone/w_curv", w)], "/cone/curv", group=9)
        return g.op("Concat", ["P_rgb", curv], "/cone/tip", axis=1)
    padded = g.op("Pad", ["P_rgb", pads], "/cone/pad", mode="edge")
    planes = []
    for kind in ("xx", "yy", "xxyy"):
        w = np.repeat(CURVATURE[kind][None, None], 3, axis=0)
        planes.append(g.op("Conv", [padded, g.const("/cone/w_" + kind, w)], "/cone/v" + kind,
                           group=3))
    return g.op("Concat", ["P_rgb"] + planes, "/cone/tip", axis=1)


def _warp(g, tip, grid, a, b, ab, gs_fast, gs_zeros):
    if gs_fast:
        s = g.op("GridSampleFast", [tip, grid], "/warp/sample", domain=ZENTROVA)
    else:
        s = g.op("GridSample", [tip, grid], "/warp/sample", mode="bilinear",
                 padding_mode="zeros" if gs_zeros else "border", align_corners=0)
    s0, s1, s2, s3 = (_slice(g, s, "/warp/s%d" % i, 3 * i, 3 * i + 3, 1) for i in range(4))
    t = g.op("Sub", [s0, g.op("Mul", [a, s1], "/warp/a_s1")], "/warp/minus_a_s1")
    t = g.op("Sub", [t, g.op("Mul", [b, s2], "/warp/b_s2")], "/warp/minus_b_s2")
    return g.op("Add", [t, g.op("Mul", [ab, s3], "/warp/ab_s3")], "/warp/out")


def _pooled_projection(g, pooled, w, student):
    """pooled64 projected to POOLED_PROJ channels: a 1x1 Conv, or (student) the same product as a
    2-D MatMul over the flattened pixels, as older student graphs spell it."""
    if not student:
        return g.op("Conv", [pooled, g.const("/head/wp", w["wp"]), g.const("/head/bp", w["bp"])],
                    "/head/pooled_proj")
    rows = g.op("Transpose", [pooled], "/s2/pixels", perm=[0, 2, 3, 1])
    rows = g.op("Reshape", [rows, g.i64("/s2/rows_shape", [-1, 64])], "/s2/rows")
    mixed = g.op("MatMul", [rows, g.const("/s2/blend_w", w["wp"][:, :, 0, 0].T)], student)
    mixed = g.op("Reshape", [mixed, g.i64("/s2/grid_shape", [-1, 32, 32, POOLED_PROJ])], "/s2/grid")
    return g.op("Transpose", [mixed], "/head/pooled_proj", perm=[0, 3, 1, 2])


def quantise_per_channel(w):
    """int8 weights and one float scale per output channel: scale = max|w| / 127 over the channel
    (1 for an all-zero channel), q = rint(w / scale)."""
    peak = np.abs(w).reshape(w.shape[0], -1).max(axis=1)
    scale = np.where(peak > 0, peak / 127.0, 1.0).astype(np.float32)
    q = np.clip(np.rint(w / scale.reshape(-1, 1, 1, 1)), -127, 127).astype(np.int8)
    return q, scale


def _conv(g, x, name, weights, key, int8, pads=None):
    """A Conv over weights["w" + key] and weights["b" + key] (initializers /head/w<key> and
    /head/b<key>), or (int8) the same convolution as an Int8ConvVNNI node with per-channel int8
    weights and their scales (/head/s<key>)."""
    w, b = weights["w" + key], weights["b" + key]
    if not int8:
        attrs = {} if pads is None else dict(pads=list(pads))
        return g.op("Conv", [x, g.const("/head/w" + key, w), g.const("/head/b" + key, b)], name, **attrs)
    q, scale = quantise_per_channel(w)
    return g.op("Int8ConvVNNI", [x, g.const("/head/w" + key, q, np.int8), g.const("/head/s" + key, scale),
                                 g.const("/head/b" + key, b)], name, domain=ZENTROVA_INT8,
                strides=[1, 1], pads=list(pads or (0, 0, 0, 0)), dilations=[1, 1], group=1)


def _cubic_x2(g, x, name, scales=(1.0, 1.0, 2.0, 2.0), **attrs):
    mode = dict(mode="cubic", coordinate_transformation_mode="half_pixel")
    mode.update(attrs)
    return g.op("Resize", [x, "", g.const(name + "_scales", list(scales))], name, **mode)


def _upsample_residual(g, crop, r, head):
    """The residual back to the crop: cubic x2 then linear x4 from an eighth, or (head "full" and
    its near misses) cubic x2 alone from half the crop."""
    if head == "eighth":
        return _resize(g, _cubic_x2(g, r, "/head/up_cubic"), "/head/up_linear", 4, "linear")
    if head == "scales23":
        wide = _cubic_x2(g, r, "/head/up_cubic", scales=(1.0, 1.0, 2.0, 3.0))
        return _slice(g, wide, "/head/cut", 0, crop, 3)
    if head == "align-corners":
        return _cubic_x2(g, r, "/head/up_cubic", coordinate_transformation_mode="align_corners")
    return _cubic_x2(g, r, "/head/up_cubic")


def _head(g, crop, background, pooled, w, head="eighth", student=None, int8=False):
    """generated = background + residual. The residual is computed at a fraction of the crop, where
    convolutions are cheap (an eighth, or half for the "full" heads), and ends in a Conv followed by
    the upsampling of _upsample_residual. With int8 the 3x3 and 1x1 Conv carry int8 weights."""
    e = crop // 8 if head == "eighth" else crop // 2
    xq = g.op("AveragePool", [background], "/head/pool", kernel_shape=[crop // e] * 2, strides=[crop // e] * 2)
    pf = _pooled_projection(g, pooled, w, student)
    if head == "two-cubic":
        # A second qualifying cubic x2 Resize, pooled straight back to its input size.
        pf = _cubic_x2(g, pf, "/head/pooled_cubic")
        pf = g.op("AveragePool", [pf], "/head/pooled_cubic_pool", kernel_shape=[2, 2], strides=[2, 2])
    pf = _resize(g, pf, "/head/pooled_resize", e / 32, "linear")
    h = g.op("Concat", [xq, pf], "/head/concat", axis=1)
    h = _conv(g, h, "/head/conv1", w, "1", int8, pads=(1, 1, 1, 1))
    h = g.op("Relu", [h], "/head/relu1")
    r = _conv(g, h, "/head/conv2", w, "2", int8)
    return g.op("Add", [background, _upsample_residual(g, crop, r, head)], "/head/generated")


def _alpha(g, crop, kd, rows):
    """Clip of a feathered ellipse around the mouth, from the lip rows of kp_driving."""
    idx = [min(r, rows - 1) for r in ALPHA_ROWS] if isinstance(rows, int) else list(ALPHA_ROWS)
    lip = g.op("Gather", [kd, g.i64("/alpha/rows", idx)], "/alpha/lip", axis=1)
    xs = g.op("Slice", [lip, g.i64("/alpha/xs_starts", [0, 0]), g.i64("/alpha/xs_ends", [2, 1]),
                        g.i64("/alpha/xs_axes", [1, 2])], "/alpha/corner_x")
    ys = g.op("Slice", [lip, g.i64("/alpha/ys_starts", [2, 1]), g.i64("/alpha/ys_ends", [4, 2]),
                        g.i64("/alpha/ys_axes", [1, 2])], "/alpha/outer_y")
    p = _pixel_coords(crop)
    coords = {"x": p.reshape(1, 1, 1, crop), "y": p.reshape(1, 1, crop, 1)}
    terms = {}
    for axis, pts, (scale, margin) in (("x", xs, ALPHA_PAD[:2]), ("y", ys, ALPHA_PAD[2:])):
        centre = g.op("ReduceMean", [pts], "/alpha/c" + axis, axes=[1], keepdims=1)
        span = g.op("Sub", [g.op("ReduceMax", [pts], "/alpha/max" + axis, axes=[1], keepdims=1),
                            g.op("ReduceMin", [pts], "/alpha/min" + axis, axes=[1], keepdims=1)],
                    "/alpha/span" + axis)
        radius = g.op("Add", [g.op("Mul", [span, g.const("/alpha/scale" + axis, [0.5 * scale])],
                                   "/alpha/half_span" + axis),
                              g.const("/alpha/margin" + axis, [margin])], "/alpha/r" + axis)
        centre = g.op("Unsqueeze", [centre, g.i64("/alpha/axis3" + axis, [3])], "/alpha/c4" + axis)
        radius = g.op("Unsqueeze", [radius, g.i64("/alpha/raxis3" + axis, [3])], "/alpha/r4" + axis)
        e = g.op("Div", [g.op("Sub", [g.const("/alpha/coords" + axis, coords[axis]), centre],
                              "/alpha/off" + axis), radius], "/alpha/e" + axis)
        terms[axis] = g.op("Mul", [g.op("Mul", [e, e], "/alpha/e2" + axis),
                                   g.const("/alpha/gain" + axis, [ALPHA_GAIN])], "/alpha/ge2" + axis)
    inside = g.op("Sub", [g.const("/alpha/gain", [ALPHA_GAIN]), terms["x"]], "/alpha/inside_x")
    pre = g.op("Sub", [inside, terms["y"]], "/alpha/inside")
    return g.op("Clip", [pre, g.const("/alpha/lo", [0.0]),
                         g.const("/alpha/hi", [1.0])], "/alpha/a")


def _compose(g, generated, a, background):
    ga = g.op("Mul", [generated, a], "/compose/generated_a")
    oma = g.op("Sub", [g.const("/compose/one", np.array([1.0])), a], "/compose/one_minus_a")
    bg = g.op("Mul", [oma, background], "/compose/background_a")
    return g.op("Add", [ga, bg], "rgb")


def _prior_tint(g, generated):
    """generated + 0 x the source face's mean: P_rgb read outside the source cone, the output
    unchanged."""
    mean = g.op("ReduceMean", ["P_rgb"], "/tint/prior_mean", axes=[1, 2, 3], keepdims=1)
    tint = g.op("Mul", [mean, g.const("/tint/zero", [0.0])], "/tint/scaled")
    return g.op("Add", [generated, tint], "/tint/generated")


def build(crop, batch, weights, rows=21, featsynth=False, gs_fast=False, two_concat=False,
          gs_zeros=False, head="eighth", student=None, int8=False, prior_outside=False):
    """The director ModelProto. batch and rows are ints, or None for a dynamic dimension. head is
    one of HEADS; student names the pooled projection's MatMul (None: a Conv); int8 runs the head's
    convolutions as com.zentrova.int8 Int8ConvVNNI nodes; prior_outside reads P_rgb outside the
    source cone as well."""
    g = Graph()
    n = batch if batch is not None else "batch"
    r = rows if rows is not None else "rows"
    kd, ks = ("kd", "ks") if featsynth else ("kp_driving", "kp_source")
    pooled = "pooled" if featsynth else "pooled64"
    f32 = TensorProto.FLOAT
    inputs = []
    if featsynth:
        inputs.append(helper.make_tensor_value_info("fs_red", f32, [n, 64, 64, 64]))
    inputs.append(helper.make_tensor_value_info(pooled, f32, [n, 64, 32, 32]))
    if not featsynth:
        inputs.append(helper.make_tensor_value_info("P_rgb", f32, [n, 3, crop, crop]))
    inputs += [helper.make_tensor_value_info(kd, f32, [n, r, 3]),
               helper.make_tensor_value_info(ks, f32, [n, r, 3])]

    grid, planes = _grid(g, crop, kd, ks, rows)
    if featsynth:
        src = _slice(g, "fs_red", "/synth/colour", 0, 3, 1)
        src = _resize(g, src, "/synth/source", crop // 64, "linear")
        warped = g.op("GridSample", [src, grid], "/warp/sample", mode="bilinear",
                      padding_mode="border", align_corners=0)
    else:
        a, b, ab = _curvature_weights(g, crop, planes)
        tip = _source_cone(g, two_concat)
        warped = _warp(g, tip, grid, a, b, ab, gs_fast, gs_zeros)
    background = g.op("Clip", [warped, g.const("/warp/lo", [0.0]), g.const("/warp/hi", [1.0])],
                      "/warp/clipped")
    generated = _head(g, crop, background, pooled, weights, head, student, int8)
    if prior_outside:
        generated = _prior_tint(g, generated)
    alpha = _alpha(g, crop, kd, rows if rows is not None else "dynamic")
    _compose(g, generated, alpha, background)

    out = helper.make_tensor_value_info("rgb", f32, [n, 3, crop, crop])
    domains = ([(ZENTROVA, 1)] if gs_fast else []) + ([(ZENTROVA_INT8, 1)] if int8 else [])
    return g.model("director", inputs, [out], domains)


def warp_block(crop, batch):
    """The m4b warp block alone, built as build() builds it (source cone, GridSample of the twelve
    planes, recombination with the curvature weights of the grid), on the inputs P_rgb [batch, 3,
    crop, crop] and grid [batch, crop, crop, 2], with the output "/warp/out": what one WarpDirector
    node computes, for the tests and benchmarks of that operator."""
    g = Graph()
    planes = g.op("Transpose", ["grid"], "/field/grid_planes", perm=[0, 3, 1, 2])
    a, b, ab = _curvature_weights(g, crop, planes)
    out = _warp(g, _source_cone(g, two_concat=False), "grid", a, b, ab, gs_fast=False, gs_zeros=False)
    f32 = TensorProto.FLOAT
    inputs = [helper.make_tensor_value_info("P_rgb", f32, [batch, 3, crop, crop]),
              helper.make_tensor_value_info("grid", f32, [batch, crop, crop, 2])]
    return g.model("warp_block", inputs, [helper.make_tensor_value_info(out, f32, [batch, 3, crop, crop])])
