#!/usr/bin/python3
"""Seed inputs of the bundle readers' fuzz targets, made by the baker's own code: the manifests,
a2x metas and motion metas of the presets and their variants, and two small bundle trees (welded and
descriptive member names) that the IMX target packs into containers.

    /usr/bin/python3 tools/bake/fuzz_seeds.py {manifest,a2x_meta,motion_meta,imx_tree} OUT
"""

import argparse
import os
import sys
import tempfile

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))

import a2x         # noqa: E402
import bundle      # noqa: E402
import drive       # noqa: E402
import manifest    # noqa: E402
import motion      # noqa: E402
import names       # noqa: E402
import presets     # noqa: E402
import teeth_bank  # noqa: E402

# (file stem, preset, variants) of the manifests written without the teeth blocks.
PLAIN_MANIFESTS = [
    ("demo", "demo", []),
    ("aliases", "test", ["manifest-aliases"]),
    ("no_stamp", "test", ["no-stamp"]),
    ("msrc_2x", "test", ["msrc-2x"]),
    ("hevc_prior", "test", ["hevc-prior"]),
]


def _write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(text if isinstance(text, bytes) else text.encode())


def baked_manifest(cfg, msrc):
    """The manifest text exactly as a bake of cfg writes it, teeth and unified blocks included."""
    m = manifest.manifest(cfg, msrc, None)
    with tempfile.TemporaryDirectory() as scratch:
        m["tessera"], m["unified"] = teeth_bank.write_members(cfg, bundle.Person(cfg), scratch)
    return manifest.dumps(m)


def write_manifests(out):
    test = presets.make_config("test")
    _write(os.path.join(out, "manifest_test.json"), baked_manifest(test, (test.W, test.H)))
    for stem, preset, variants in PLAIN_MANIFESTS:
        cfg = presets.make_config(preset, variants=variants)
        msrc = None if cfg.has("no-stamp") else ((2 * cfg.W, 2 * cfg.H) if cfg.has("msrc-2x") else (cfg.W, cfg.H))
        _write(os.path.join(out, "manifest_%s.json" % stem),
               manifest.dumps(manifest.manifest(cfg, msrc, "P_hevc.mov" if cfg.hevc_prior else None)))


def write_a2x_metas(out):
    for preset in ("test", "demo"):
        sizes = presets.make_config(preset).a2x
        _write(os.path.join(out, "a2x_meta_%s.json" % preset), a2x.meta(sizes, False))
    sizes = presets.make_config("test").a2x
    _write(os.path.join(out, "a2x_meta_wn.json"), a2x.meta(sizes, True))
    _write(os.path.join(out, "a2x_meta_no_left.json"), a2x.meta(sizes, False, left=False))
    _write(os.path.join(out, "a2x_meta_silence_prime.json"), a2x.meta(sizes, False, silence_prime=20))


def write_motion_metas(out):
    nt = presets.make_config("test").NT
    for stem, variants in (("test", ()), ("delta_pitch", ("delta-pitch",)), ("no_key", ("no-key",)),
                           ("bad_key", ("bad-key",))):
        _write(os.path.join(out, "meta_%s.json" % stem), motion.meta_text(nt, nt, "test", variants))
    _write(os.path.join(out, "meta_nsrc.json"), motion.meta_text(nt, nt + 1, "test", ("nsrc",)))
    demo = presets.make_config("demo")
    _write(os.path.join(out, "meta_demo.json"), motion.meta_text(demo.NT, demo.NT, "demo", ()))


def write_imx_trees(out):
    """The small members of the test bundle, under welded and under descriptive names: a few kB
    each, so that a container of them stays short enough to fuzz."""
    cfg = presets.make_config("test")
    who = bundle.Person(cfg)
    xs, xd, si = drive.idle_loop(who.kps, cfg.frames)
    members = {
        "manifest.json": manifest.dumps(manifest.manifest(cfg, (cfg.W, cfg.H), None)),
        "a2x_meta.json": a2x.meta(cfg.a2x, False),
        "drive/si.i32": si.astype("<i4").tobytes(),
        "M.f32": who.M.reshape(cfg.NT, 6)[:2].astype("<f4").tobytes(),
    }
    for scheme in ("welded", "descriptive"):
        for name, data in members.items():
            _write(os.path.join(out, scheme, names.member(name, scheme)), data)


KINDS = {"manifest": write_manifests, "a2x_meta": write_a2x_metas, "motion_meta": write_motion_metas,
         "imx_tree": write_imx_trees}


def main(argv):
    ap = argparse.ArgumentParser(prog="fuzz_seeds.py", description="Write fuzz seed inputs.")
    ap.add_argument("kind", choices=sorted(KINDS))
    ap.add_argument("out")
    args = ap.parse_args(argv)
    KINDS[args.kind](args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
