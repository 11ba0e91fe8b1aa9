"""One bake: every member of an identity bundle, written under one directory, then self-checked."""

import os
import shutil

import numpy as np
import onnx

import a2x
import checks
import director
import drive
import driver
import fca
import identity
import imx
import keypoints
import lip_template
import manifest
import names
import person
import teeth_bank


class Person:
    """Everything drawn from the seed: colours, idle motion, keypoints and paste transforms, and
    the generators of the features' projections and the director's weights."""

    def __init__(self, cfg):
        seeds = np.random.SeedSequence(cfg.seed).spawn(5)
        self.features_rng, self.director_rng, self.a2x_rng = (
            np.random.default_rng(s) for s in seeds[2:])
        self.pal = person.palette(np.random.default_rng(seeds[0]))
        self.poses = keypoints.idle_poses(cfg.NT, np.random.default_rng(seeds[1]))
        self.kps = keypoints.idle_keypoints(self.poses)
        self.M = identity.paste_transforms(cfg, self.poses)

    @staticmethod
    def director_rng_of(seed):
        """The director weights' generator of a seed, without drawing the person."""
        return np.random.default_rng(np.random.SeedSequence(seed).spawn(4)[3])


def _fresh_dir(out):
    if os.path.lexists(out):
        if os.path.isdir(out) and not os.path.islink(out) and (
                not os.listdir(out) or os.path.isfile(os.path.join(out, "manifest.json"))):
            shutil.rmtree(out)
        else:
            raise RuntimeError("le-bake: %s exists and is not a bundle; refusing to replace it" % out)
    os.makedirs(out)


def _save(root, cfg, name, data):
    path = os.path.join(root, names.member(name, cfg.names))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if isinstance(data, (bytes, str)):
        with open(path, "wb") as f:
            f.write(data.encode() if isinstance(data, str) else data)
    else:
        np.ascontiguousarray(data).tofile(path)
    return path


def directors(cfg, weights):
    rows = None if cfg.has("kp-dynamic") else cfg.kp_rows
    for name, batch in director.DIRECTORS:
        model = director.build(cfg.crop, None if cfg.has("batch-dynamic") else batch, weights,
                               rows=rows, featsynth=cfg.has("featsynth"), gs_fast=cfg.has("gs-fast"),
                               two_concat=cfg.has("two-concat"), gs_zeros=cfg.has("gs-zeros"),
                               head=cfg.head, student=cfg.student_blend, int8=cfg.has("int8-conv"),
                               prior_outside=cfg.has("prior-outside"))
        yield name, model


def a2x_members(cfg, rng):
    """(member name, bytes or array) of the audio-to-expression members."""
    sizes = cfg.a2x
    width = cfg.has("a2x-wn")
    w = a2x.a2x_weights(sizes, rng)
    out = []
    if not cfg.has("a2x-no-meta"):
        out.append(("a2x_meta.json", a2x.meta(sizes, width or cfg.has("a2x-width-mismatch"),
                                              left=not cfg.has("a2x-no-left"),
                                              silence_prime=20 if cfg.has("a2x-silence-prime") else 0)))
    pos = a2x.positional_table(sizes)
    out.append(("a2x_pos.f32", pos[:1] if cfg.has("a2x-pos-short") else pos))
    norm = np.concatenate(a2x.norm_stats()).astype(np.float32)
    out.append(("a2x_norm.f32", norm[:125] if cfg.has("a2x-norm125") else norm))
    out.append(("a2x_enc_stream.onnx", a2x.encoder(sizes, w, width).SerializeToString()))
    out.append(("a2x_dec.onnx", a2x.decoder(sizes, w).SerializeToString()))
    out.append(("fca_stream.onnx", fca.animator().SerializeToString()))
    return out


def _save_motion(out, cfg, who):
    members = a2x_members(cfg, who.a2x_rng)
    members.append(("xs_target.bin", drive.target_keypoints(who.kps)))
    for name, data in members:
        _save(out, cfg, name, data.astype("<f4") if isinstance(data, np.ndarray) else data)


def bake_motion(cfg, out):
    """The audio-to-expression members and xs_target.bin alone (no manifest, no images) in out."""
    os.makedirs(out, exist_ok=True)
    _save_motion(out, cfg, Person(cfg))


def bake(cfg, out, imx_tool=None):
    """Bakes the bundle into out (replacing an earlier bake there). With imx_tool, also packs
    out + ".imx". Returns the container path or None."""
    _fresh_dir(out)
    who = Person(cfg)
    P = identity.source_crops(cfg, who.kps, who.poses, who.M, who.pal)
    if cfg.raw_prior:
        _save(out, cfg, "P.f16", P.astype("<f2"))
    if cfg.hevc_prior:
        path = os.path.join(out, names.member("P_hevc.mov", cfg.names))
        driver.write_hevc_prior(P, path, cfg.fps,
                                "yuv420p" if cfg.has("prior-yuv420") else "yuv444p")
    _save(out, cfg, "pooled64.f16", identity.pooled_features(P, who.features_rng).astype("<f2"))
    if cfg.has("featsynth"):
        _save(out, cfg, "fs_red.f16", identity.fs_red_features(P, who.features_rng).astype("<f2"))
    M, msrc = who.M, (cfg.W, cfg.H)
    if cfg.has("msrc-2x"):
        M, msrc = M * 2.0, (2 * cfg.W, 2 * cfg.H)
    _save(out, cfg, "M.f32", M.reshape(cfg.NT, 6).astype("<f4"))
    _save(out, cfg, "mask_512.u8", identity.paste_mask(cfg.crop))

    xs, xd, si = drive.idle_loop(who.kps, cfg.frames)
    _save(out, cfg, "drive/xs.f32", xs.astype("<f4"))
    _save(out, cfg, "drive/xd.f32", xd.astype("<f4"))
    _save(out, cfg, "drive/si.i32", si.astype("<i4"))

    count = cfg.NT - 2 if cfg.has("short-driver") else cfg.NT
    width = cfg.W - 32 if cfg.has("wrong-size-driver") else cfg.W
    frames = driver.render_frames(cfg, who.kps, who.poses, who.M, who.pal, count, width)
    if not cfg.has("mp4-only"):
        driver.write_jpegs(frames, os.path.join(out, "target_frames"))
    driver.write_h264(frames, os.path.join(out, "target_frames.mp4"), cfg.fps)

    weights = director.director_weights(who.director_rng)
    for name, model in directors(cfg, weights):
        _save(out, cfg, name, model.SerializeToString())

    _save_motion(out, cfg, who)
    if cfg.lip_template:
        _save(out, cfg, lip_template.FILE,
              lip_template.dumps(lip_template.template(cfg.crop, cfg.lip_template == "map")))
    _save_teeth_and_manifest(out, cfg, who, msrc)
    checks.verify(out, cfg, count)
    return imx.pack(out, imx_tool) if imx_tool else None


def _save_teeth_and_manifest(out, cfg, who, msrc):
    tessera, unified = teeth_bank.write_members(cfg, who, out)
    m = manifest.manifest(cfg, None if cfg.has("no-stamp") else msrc,
                          "P_hevc.mov" if cfg.hevc_prior else None)
    m["tessera"], m["unified"] = tessera, unified
    _save(out, cfg, "manifest.json", manifest.dumps(m))


def rebake_teeth(cfg, base, out):
    """A bundle that differs from the bundle `base` (baked from cfg without its teeth variants) only
    in its teeth members and manifest: what a teeth variant changes, without drawing the rest again."""
    _fresh_dir(out)
    os.rmdir(out)
    shutil.copytree(base, out)
    for name in teeth_bank.MEMBER_FILES:
        if os.path.exists(os.path.join(out, name)):
            os.remove(os.path.join(out, name))
    _save_teeth_and_manifest(out, cfg, Person(cfg), (cfg.W, cfg.H))
    checks.verify(out, cfg, cfg.NT)


def director_weights_of(model):
    """The head weights held by a baked director (for the numpy reference)."""
    inits = {t.name: onnx.numpy_helper.to_array(t) for t in model.graph.initializer}
    return {k: inits["/head/" + k] for k in ("wp", "bp", "w1", "b1", "w2", "b2")}
