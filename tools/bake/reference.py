"""Reference cases for a baked m4b director: four batch items of inputs (idle, mouth opened,
head moved, jittered) and the numpy reference's output, as raw float32 files beside each other:
pooled64.f32, P_rgb.f32, kp_driving.f32, kp_source.f32 and rgb.f32 (batch 4, graph shapes)."""

import json
import os

import numpy as np
import onnx

import bundle
import director_ref
import keypoints


def cases(root, seed=7):
    """Inputs of the four items from the bundle's own arrays (si 0, 3, 6, 9 modulo NT)."""
    with open(os.path.join(root, "manifest.json")) as f:
        m = json.load(f)
    NT, crop = m.get("NT", m.get("frame_count")), m.get("crop", m.get("crop_size"))
    P = np.fromfile(os.path.join(root, "P.f16"), dtype="<f2").reshape(NT, 3, crop, crop)
    pooled = np.fromfile(os.path.join(root, "pooled64.f16"), dtype="<f2").reshape(NT, 64, 32, 32)
    xs = np.fromfile(os.path.join(root, "xs_target.bin"), dtype="<f4").reshape(NT, 21, 3)
    si = [i % NT for i in (0, 3, 6, 9)]
    ks = xs[si].astype(np.float64)
    kd = ks.copy()
    kd[1] = keypoints.open_mouth(ks[1], 0.08)
    kd[2, :, 0] += 0.03
    kd[2, :, 1] -= 0.02
    kd[3] += np.random.default_rng(seed).uniform(-0.02, 0.02, kd[3].shape)
    return dict(pooled64=pooled[si].astype(np.float32), P_rgb=P[si].astype(np.float32),
                kp_driving=kd.astype(np.float32), kp_source=ks.astype(np.float32))


def write(root, out):
    """Writes the reference case of the bundle at root into out."""
    inputs = cases(root)
    weights = bundle.director_weights_of(onnx.load(os.path.join(root, "model_b4.onnx")))
    rgb = director_ref.render(weights, **{k: v.astype(np.float64) for k, v in inputs.items()})
    os.makedirs(out, exist_ok=True)
    for name, value in list(inputs.items()) + [("rgb", rgb)]:
        np.asarray(value, dtype="<f4").tofile(os.path.join(out, name + ".f32"))
