"""Member names: the short "welded" names and their descriptive forms."""

import re

_PAIRS = {
    "P.f16": "source_frames.f16",
    "P_hevc.mov": "source_frames.hevc",
    "a2x_enc_stream.onnx": "audio_motion_encoder.onnx",
    "a2x_dec.onnx": "audio_motion_decoder.onnx",
    "M.f32": "paste_transform.f32",
    "mask_512.u8": "paste_mask.u8",
    "pooled64.f16": "pooled_features.f16",
    "fs_red.f16": "feature_synth.f16",
    "xs_target.bin": "target_keypoints.bin",
}
_DRIVE_STEMS = {"xs": "source_keypoints", "xd": "driven_keypoints", "si": "source_index"}


def descriptive(name):
    """The descriptive form of a welded member name (itself when it has none)."""
    if name in _PAIRS:
        return _PAIRS[name]
    m = re.fullmatch(r"model_b(.+)\.onnx", name)
    if m:
        batch, _, suffix = m.group(1).partition("_")
        return "render_model.batch" + batch + ("." + suffix if suffix else "") + ".onnx"
    if name.startswith("drive/"):
        rest = name[len("drive/"):]
        dot = rest.find(".")
        stem, ext = (rest, "") if dot < 0 else (rest[:dot], rest[dot:])
        return "idle_loop/" + _DRIVE_STEMS.get(stem, stem) + ext
    return name


def member(name, scheme):
    return descriptive(name) if scheme == "descriptive" else name
