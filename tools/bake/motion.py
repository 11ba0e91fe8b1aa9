#!/usr/bin/python3
"""Motion directories: the motion generator's members for a baked person (see README.md).

    motion.py --preset {test,demo} --out DIR [--seed N] [--variant NAME ...]

writes a standalone motion directory (its own xs_target.bin beside the members); le-bake --motion
writes the same members into a bundle. Info records come from the person's own keypoints and pose:
a record's pose logits peak at the person's head pose, and its expression is chosen so that
scale * (canonical * R + expression) + translation gives back the person's keypoints."""

import argparse
import json
import os
import shutil
import sys

import numpy as np

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))

import bundle        # noqa: E402
import drive         # noqa: E402
import keypoints     # noqa: E402
import motion_nets   # noqa: E402
import motion_ref    # noqa: E402
import presets       # noqa: E402

BINS = 66
POSE_SIGMA = 4.5      # degrees: width of the pose logits' peak
TEMPLATE_SCALE = 1.05
N_EMO = 3
S_BRIDGE = {"test": 0.75, "demo": 1.0}
INFO = 328

# Variant name -> one-line meaning (the README lists the same table).
VARIANTS = {
    "nsrc": "meta n_src = nt + 1 (and as many source records): creation must refuse it",
    "wrong-size": "v_min_max.bin holds 529 floats instead of 530",
    "missing-file": "no ch_eye_ball.bin",
    "short-read": "hubert_fstd.bin is a directory, which the reader refuses as not a regular file",
    "no-key": "meta.json without s_bridge",
    "bad-key": "meta.json's last key s_bridge has no colon after it",
    "delta-pitch": "meta delta_pitch = 4 degrees",
}


def bin_centres():
    return 3.0 * np.arange(BINS) - 97.5


def pose_logits(angle):
    """66 logits peaked at the bin of `angle` degrees (float32)."""
    return (-0.5 * ((bin_centres() - angle) / POSE_SIGMA) ** 2).astype(np.float32)


def head_poses(poses):
    """Per-frame pitch, yaw, roll in degrees, scale and translation of the person's head."""
    return dict(pitch=2.0 * poses["sway_y"], yaw=3.0 * poses["sway_x"],
                roll=np.degrees(poses["roll"]), scale=0.95 + 0.01 * poses["breath"],
                tx=poses["drift_x"], ty=poses["drift_y"])


def info_record(kp, pitch, yaw, roll, scale, tx, ty):
    """328 floats whose keypoints scale * (c R + expression) + (tx, ty, 0) give back kp (21 x 3)."""
    canonical = keypoints.neutral().astype(np.float32).astype(np.float64)
    logits = [pose_logits(a) for a in (pitch, yaw, roll)]
    R = motion_ref.rotation(*(motion_ref.bin66(l.astype(np.float64)) for l in logits))
    scale, tx, ty = (np.float64(np.float32(v)) for v in (scale, tx, ty))
    expression = (kp - np.array([tx, ty, 0.0])) / scale - canonical @ R
    rec = np.zeros(INFO, np.float64)
    rec[0:63] = expression.reshape(63)
    rec[63:126] = canonical.reshape(63)
    rec[126:192] = logits[0]
    rec[192:258] = logits[2]
    rec[258] = scale
    rec[259:262] = (tx, ty, 0.0)
    rec[262:328] = logits[1]
    return rec.astype(np.float32)


def motion_vector(rec, scale=None):
    """The 265-float motion vector of an info record (scale - 1, pitch, yaw, roll logits,
    translation, expression)."""
    return np.concatenate([[(rec[258] if scale is None else scale) - 1.0], rec[126:192],
                           rec[262:328], rec[192:258], rec[259:262], rec[0:63]]).astype(np.float32)


def source_records(kps, head):
    return np.stack([info_record(kps[s], *(head[k][s] for k in ("pitch", "yaw", "roll", "scale",
                                                                 "tx", "ty")))
                     for s in range(len(kps))])


def mel_matrix():
    """Triangular mel filter bank, 257 FFT bins (16 kHz, 512 points) x 80 bands, 0 to 8 kHz."""
    def to_mel(f):
        return 2595.0 * np.log10(1.0 + f / 700.0)
    edges = 700.0 * (10.0 ** (np.linspace(0.0, to_mel(8000.0), 82) / 2595.0) - 1.0)
    freqs = np.arange(257) * 16000.0 / 512.0
    lo, mid, hi = edges[:-2], edges[1:-1], edges[2:]
    rise = (freqs[:, None] - lo) / (mid - lo)
    fall = (hi - freqs[:, None]) / (hi - mid)
    return np.clip(np.minimum(rise, fall), 0.0, None).astype(np.float32)


def hann_window():
    return (0.5 - 0.5 * np.cos(2.0 * np.pi * np.arange(512) / 512)).astype(np.float32)


def bounds(base):
    """v_min, v_max: what the jaw moves may open to 80 % of A_MAX (loud frames saturate), the rest
    may move by 0.05 around the base; far pose logits are lifted to -30."""
    lo, hi = base - 0.05, base + 0.05
    lo[1:199], hi[1:199] = -30.0, 5.0
    mouth = motion_nets.mouth_direction() * motion_nets.A_MAX * 0.8
    moved = 202 + np.flatnonzero(mouth)
    lo[moved] = base[moved] + np.minimum(mouth[moved - 202], 0.0) - 0.005
    hi[moved] = base[moved] + np.maximum(mouth[moved - 202], 0.0) + 0.005
    return np.concatenate([lo, hi]).astype(np.float32)


def meta_text(nt, n_src, preset, variants):
    keys = {"nt": nt, "n_src": n_src, "n_emo": N_EMO}
    if "delta-pitch" in variants:
        keys["delta_pitch"] = 4.0
    if "no-key" not in variants and "bad-key" not in variants:
        keys["s_bridge"] = S_BRIDGE[preset]
    text = json.dumps(keys, indent=2)
    if "bad-key" in variants:
        text = text[:text.rindex("}")].rstrip() + ',\n  "s_bridge" %s\n}' % S_BRIDGE[preset]
    return text + "\n"


def members(cfg, variants=()):
    """Name -> bytes of every member (the variants applied, except short-read)."""
    who = bundle.Person(cfg)
    rng = np.random.default_rng(np.random.SeedSequence([cfg.seed, motion_nets.SEED_TAG]))
    records = source_records(who.kps, head_poses(who.poses))
    template = records[0].copy()
    template[258] = TEMPLATE_SCALE
    initial = motion_vector(template)
    base = motion_vector(records[0])
    base[202:] = template[0:63]
    student_w = motion_nets.student_weights(rng)
    std = rng.uniform(0.5, 1.5, 1024).astype(np.float32)
    mean = rng.normal(0.0, 0.2, 1024).astype(np.float32)
    std[0], mean[0] = motion_nets.ENERGY_STD, motion_nets.ENERGY_MEAN
    out = {
        "hubert_stft_window.bin": hann_window(),
        "hubert_stft_binmat.bin": mel_matrix(),
        "hubert_fmean.bin": mean,
        "hubert_fstd.bin": std,
        "emo.bin": rng.normal(0.0, 1.0, (N_EMO, 8)).astype(np.float32),
        "ch_xs_info.bin": template,
        "ch_sc.bin": template[63:126].copy(),
        "ch_eye_open.bin": np.array([0.35, 0.35], np.float32),
        "ch_eye_ball.bin": rng.normal(0.0, 0.05, 6).astype(np.float32),
        "v_min_max.bin": bounds(base.astype(np.float64)),
        "src_xs_info.bin": records,
        "xs_target.bin": drive.target_keypoints(who.kps),
        "hubert_student.onnx": motion_nets.student(student_w),
        "lmdm.onnx": motion_nets.lmdm(motion_nets.lmdm_weights(rng, base, initial)),
        "stitch.onnx": motion_nets.stitch(motion_nets.stitch_weights(rng)),
    }
    nt = cfg.NT
    if "nsrc" in variants:
        out["src_xs_info.bin"] = np.concatenate([records, records[:1]])
    if "wrong-size" in variants:
        out["v_min_max.bin"] = out["v_min_max.bin"][:529]
    if "missing-file" in variants:
        del out["ch_eye_ball.bin"]
    out = {k: v.SerializeToString() if hasattr(v, "SerializeToString")
           else np.ascontiguousarray(v, dtype="<f4").tobytes() for k, v in out.items()}
    out["meta.json"] = meta_text(nt, nt + 1 if "nsrc" in variants else nt, cfg.preset,
                                 variants).encode()
    return out


def _fresh_dir(out):
    if os.path.lexists(out):
        if os.path.isdir(out) and not os.path.islink(out) and (
                not os.listdir(out) or os.path.isfile(os.path.join(out, "meta.json"))):
            shutil.rmtree(out)
        else:
            raise RuntimeError("%s exists and is not a motion directory; refusing to replace it" % out)
    os.makedirs(out)


def write(cfg, out, variants=(), fresh=True):
    """Writes the members into out: a fresh directory with its own xs_target.bin, or with
    fresh=False an existing bundle (whose xs_target.bin is the same table)."""
    unknown = [v for v in variants if v not in VARIANTS]
    if unknown:
        raise ValueError("unknown motion variant(s) %s (known: %s)" % (", ".join(unknown),
                                                                        ", ".join(VARIANTS)))
    if fresh:
        _fresh_dir(out)
    for name, data in members(cfg, variants).items():
        if name == "xs_target.bin" and not fresh:
            continue   # the bundle holds it already
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    if "short-read" in variants:
        path = os.path.join(out, "hubert_fstd.bin")
        os.remove(path)
        os.mkdir(path)


def main(argv):
    ap = argparse.ArgumentParser(prog="motion.py", description="Bake a motion directory.")
    ap.add_argument("--preset", required=True, choices=sorted(presets.PRESETS))
    ap.add_argument("--out", required=True, help="directory (replaced if it holds a motion bake)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--variant", nargs="+", action="extend", default=[], metavar="NAME",
                    help="one or more of: " + ", ".join(VARIANTS))
    args = ap.parse_args(argv)
    try:
        write(presets.make_config(args.preset, args.seed), args.out, args.variant)
    except (ValueError, RuntimeError, OSError) as e:
        print("motion.py: %s" % e, file=sys.stderr)
        return 1
    print("motion.py: %s preset -> %s" % (args.preset, args.out))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
