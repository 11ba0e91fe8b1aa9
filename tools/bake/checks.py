"""Self-checks of a baked bundle, read back from disk: every array's size against the manifest,
the idle loop's source indices, the driver frames, and onnx.checker on every graph."""

import json
import os

import numpy as np
import onnx

import director
import names
import onnxgraph


class BakeError(RuntimeError):
    pass


def _need(cond, message):
    if not cond:
        raise BakeError("le-bake self-check: " + message)


def expected_sizes(m, crop):
    NT, frames = m.get("NT", m.get("frame_count")), m["frames"]
    return {
        "P.f16": NT * crop * crop * 3 * 2,
        "pooled64.f16": NT * 64 * 32 * 32 * 2,
        "fs_red.f16": NT * 64 * 64 * 64 * 2,
        "M.f32": NT * 6 * 4,
        "mask_512.u8": crop * crop,
        "drive/xs.f32": frames * 63 * 4,
        "drive/xd.f32": frames * 63 * 4,
        "drive/si.i32": frames * 4,
        "xs_target.bin": NT * 63 * 4,
    }


def verify_a2x(root, cfg, path):
    """The audio-to-expression members: sizes as the preset and variants say, valid graphs."""
    sizes = cfg.a2x
    rows = 1 if cfg.has("a2x-pos-short") else sizes["positions"]
    _need(os.path.getsize(os.path.join(root, "a2x_pos.f32")) == rows * sizes["h"] * 4,
          "a2x_pos.f32 size")
    floats = 125 if cfg.has("a2x-norm125") else 126
    _need(os.path.getsize(os.path.join(root, "a2x_norm.f32")) == floats * 4, "a2x_norm.f32 size")
    _need(os.path.isfile(os.path.join(root, "a2x_meta.json")) != cfg.has("a2x-no-meta"),
          "a2x_meta.json presence")
    enc = onnx.load(path("a2x_enc_stream.onnx"))
    onnxgraph.check(enc)
    _need(len(enc.graph.output) == (2 if cfg.has("a2x-wn") else 1), "a2x encoder output count")
    onnxgraph.check(onnx.load(path("a2x_dec.onnx")))
    onnxgraph.check(onnx.load(path("fca_stream.onnx")))


def verify(root, cfg, driver_frames):
    with open(os.path.join(root, "manifest.json")) as f:
        m = json.load(f)
    crop = m.get("crop", m.get("crop_size"))
    NT = m.get("NT", m.get("frame_count"))
    _need(crop == cfg.crop and NT == cfg.NT and m["frames"] == cfg.frames, "manifest dimensions")

    def path(name):
        return os.path.join(root, names.member(name, cfg.names))

    required = {"pooled64.f16", "M.f32", "mask_512.u8", "drive/xs.f32", "drive/xd.f32",
                "drive/si.i32", "xs_target.bin"}
    if cfg.raw_prior:
        required.add("P.f16")
    if cfg.has("featsynth"):
        required.add("fs_red.f16")
    for name, size in expected_sizes(m, crop).items():
        p = path(name)
        if name in required:
            _need(os.path.isfile(p), "missing member " + name)
        if os.path.exists(p):
            got = os.path.getsize(p)
            _need(got == size, "%s is %d bytes, the manifest implies %d" % (name, got, size))

    si = np.fromfile(path("drive/si.i32"), dtype="<i4")
    _need(bool(np.all((si >= 0) & (si < NT))), "drive/si.i32 leaves [0, NT)")

    if not cfg.has("mp4-only"):
        jpgs = sorted(os.listdir(os.path.join(root, "target_frames")))
        _need(jpgs == ["frame_%06d.jpg" % i for i in range(driver_frames)], "target_frames/ listing")
    _need(os.path.getsize(os.path.join(root, "target_frames.mp4")) > 0, "empty target_frames.mp4")
    if cfg.hevc_prior:
        _need(os.path.getsize(path("P_hevc.mov")) > 0, "empty P_hevc.mov")
        _need(m.get("P_hevc") == "P_hevc.mov", "manifest P_hevc key")

    verify_a2x(root, cfg, path)
    for name, batch in director.DIRECTORS:
        model = onnx.load(path(name))
        onnxgraph.check(model)
        pooled = "pooled" if cfg.has("featsynth") else "pooled64"
        dims = [d.dim_value or d.dim_param for d in
                next(i for i in model.graph.input if i.name == pooled).type.tensor_type.shape.dim]
        want = "batch" if cfg.has("batch-dynamic") else batch
        _need(dims == [want, 64, 32, 32], "%s %s shape %s" % (name, pooled, dims))
