#!/usr/bin/python3
"""Bakes the test suite's fixture bundles in one process (the build runs this once per change of
the baker):  fixtures.py --out DIR [--imx-tool PATH]

DIR/<name> for every entry of FIXTURES, DIR/test-imx.imx when le-imx is given, DIR/director-ref/
<name> reference cases of the runnable m4b directors, DIR/director-512 (the demo preset's two
director graphs alone, for benchmarks), DIR/warp-block/warp_block_<crop>.onnx (the director's warp
block alone at crops 256 and 512, for benchmarks), DIR/a2x-demo (the demo preset's audio-to-expression
members and target keypoints alone), DIR/teeth-demo (the demo preset's bank track and sidecar
alone), the lip templates of the reader's tests in DIR/lip-templates (lip_template.py), the
lip contour's reference cases in DIR/lip-ref (lip_ref.py), DIR/teeth-crops (canvases whose mouth
is a known donor of test-crop128's bank, teeth_crops.py), the speech encoder folders DIR/speech and
DIR/speech-<variant>,
the espeak-ng sentences in DIR/utterances, DIR/a2x-ref (reference cases of the speech encoder and
the a2x networks, a2x_cases.py), the motion directories and speech of motion_fixtures.py, and
DIR/.baked last, naming what was baked."""

import argparse
import os
import sys
import time

import numpy as np

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))

import a2x_cases   # noqa: E402
import bundle      # noqa: E402
import director    # noqa: E402
import lip_ref     # noqa: E402
import lip_template  # noqa: E402
import motion_fixtures  # noqa: E402
import presets     # noqa: E402
import reference   # noqa: E402
import speech      # noqa: E402
import teeth_bank  # noqa: E402
import teeth_crops  # noqa: E402
import utterances  # noqa: E402

# Fixture name -> (names scheme, variants), all on the test preset with seed 1.
FIXTURES = {
    "test": ("welded", ()),
    "test-descriptive": ("descriptive", ()),
    "test-imx": ("welded", ()),
    "test-crop128": ("welded", ("crop128",)),
}
FIXTURES.update({"test-" + v: ("welded", (v,)) for v in presets.VARIANTS
                 if v != "crop128" and v not in presets.TEETH_VARIANTS})
# Directors the numpy reference models exactly (border padding, no custom op, P_rgb input).
REFERENCED = ("test", "test-crop128", "test-two-concat", "test-kp-dynamic", "test-batch-dynamic")


def main(argv):
    ap = argparse.ArgumentParser(prog="fixtures.py")
    ap.add_argument("--out", required=True)
    ap.add_argument("--imx-tool", default=None)
    args = ap.parse_args(argv)
    start = time.monotonic()
    os.makedirs(args.out, exist_ok=True)
    stamp = os.path.join(args.out, ".baked")
    if os.path.exists(stamp):
        os.remove(stamp)
    baked = []
    for name, (scheme, variants) in FIXTURES.items():
        if name == "test-imx" and not args.imx_tool:
            continue
        cfg = presets.make_config("test", 1, scheme, variants)
        out = os.path.join(args.out, name)
        bundle.bake(cfg, out, args.imx_tool if name == "test-imx" else None)
        baked.append(name)
    # Teeth variants differ from the test bundle in their teeth members alone.
    for variant in presets.TEETH_VARIANTS:
        name = "test-" + variant
        bundle.rebake_teeth(presets.make_config("test", 1, "welded", (variant,)),
                            os.path.join(args.out, "test"), os.path.join(args.out, name))
        baked.append(name)
    teeth_bank.write_demo_bank(os.path.join(args.out, "teeth-demo"))
    test = presets.make_config("test", 1)
    lip_template.write(os.path.join(args.out, "lip-templates"), test.crop)
    lip_ref.write(os.path.join(args.out, "lip-ref"), bundle.Person(test).kps)
    teeth_crops.write(os.path.join(args.out, "teeth-crops"), presets.make_config("test", 1, "welded", ("crop128",)))
    demo = os.path.join(args.out, "director-512")
    os.makedirs(demo, exist_ok=True)
    for name, model in bundle.directors(presets.make_config("demo"), director.director_weights(
            bundle.Person.director_rng_of(1))):
        with open(os.path.join(demo, name), "wb") as f:
            f.write(model.SerializeToString())
    blocks = os.path.join(args.out, "warp-block")
    os.makedirs(blocks, exist_ok=True)
    for crop in (256, 512):
        with open(os.path.join(blocks, "warp_block_%d.onnx" % crop), "wb") as f:
            f.write(director.warp_block(crop, 1).SerializeToString())
    bundle.bake_motion(presets.make_config("demo"), os.path.join(args.out, "a2x-demo"))
    for variant in speech.VARIANTS:
        speech.bake(os.path.join(args.out, "speech-" + variant if variant else "speech"), variant)
    spoken = utterances.write(os.path.join(args.out, "utterances"))
    a2x_cases.write(args.out, os.path.join(args.out, "a2x-ref"), spoken["fox"].astype(np.float64))
    baked += motion_fixtures.write(args.out)
    for name in REFERENCED:
        reference.write(os.path.join(args.out, name), os.path.join(args.out, "director-ref", name))
    with open(stamp, "w") as f:
        f.write("\n".join(baked) + "\n")
    print("le-bake fixtures: %d bundles in %s (%.1f s)" % (len(baked), args.out,
                                                          time.monotonic() - start))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
