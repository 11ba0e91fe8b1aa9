"""The teeth borrow's JSON documents for our person: the bank sidecar ("tessera_bank.v1"), the head
config ("tessera_head.v1") and a manifest carrying the `tessera` block, plus variants that each
spoil one thing a reader must refuse.

    /usr/bin/python3 tools/bake/teeth_docs.py OUT [--preset test] [--seed N]

writes OUT/<variant>/{manifest.json, tessera_bank.v1.json, tessera_head.v1.json} for "valid" and
every variant of REFUSALS. The geometry stamp is cut around the mouth keypoints on the compose
canvas, which is the render crop.
"""

import argparse
import json
import math
import os
import sys

import numpy as np

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))

import keypoints  # noqa: E402
import manifest  # noqa: E402
import presets   # noqa: E402

SIDECAR = "tessera_bank.v1.json"
HEAD = "tessera_head.v1.json"
MANIFEST = "manifest.json"
MEMBERS = {"bank_track": "tessera_bank.v1.mp4", "bank_sidecar": SIDECAR,
           "head_weights": "tessera_head.v1.pt", "head_config": HEAD}
STAMP_KEYS = ("canvas_w", "canvas_h", "window_x0", "window_y0", "window_w", "window_h", "pad",
              "band_r0", "band_r1", "band_c0", "band_c1", "shift_margin")
CODEC = dict(codec="h264", pix_fmt="yuv444p")
DONORS = 16
# How far the lower lip travels below its neutral place when the mouth opens, canvas pixels at crop
# 64; the window and band leave room for it.
OPEN_ROOM = 3


def _pixel(n, crop):
    """Canvas pixel coordinate of a normalised keypoint coordinate (pixel centres at (i + 0.5))."""
    return (n + 1.0) / 2.0 * crop - 0.5


def stamp(cfg):
    """Twelve-key geometry stamp: the window holds the lips and the opening below them, the band the
    inner lips; pad 2 and shift margin 1 keep the stored band inside the padded window."""
    crop = cfg.crop
    grow = crop / 64.0
    kp = {name: (x, y) for name, x, y, _z in keypoints.LAYOUT}
    left = _pixel(kp["mouth_corner_left"][0], crop)
    right = _pixel(kp["mouth_corner_right"][0], crop)
    top = _pixel(kp["lip_upper_outer"][1], crop)
    bottom = _pixel(kp["lip_lower_outer"][1], crop) + OPEN_ROOM * grow
    x0, y0 = int(math.floor(left)) - 2, int(math.floor(top)) - 1
    x1, y1 = int(math.ceil(right)) + 2, int(math.ceil(bottom)) + 1
    inner_top = _pixel(kp["lip_upper_inner"][1], crop)
    inner_bottom = _pixel(kp["lip_lower_inner"][1], crop) + OPEN_ROOM * grow
    values = (crop, crop, x0, y0, x1 - x0, y1 - y0, 2,
              int(math.floor(inner_top)) - y0, int(math.ceil(inner_bottom)) - y0,
              int(math.floor(left)) - x0, int(math.ceil(right)) - x0, 1)
    return dict(zip(STAMP_KEYS, values))


def sidecar(cfg, n_donors=DONORS, seed=1):
    """A coherent sidecar: a seeded track order, donor mouth centres scattered around the canonical
    centre, apertures of a closed to an open mouth."""
    rng = np.random.default_rng(seed)
    geometry = stamp(cfg)
    c_canon = [round(geometry["window_x0"] + geometry["window_w"] / 2.0, 3),
               round(geometry["window_y0"] + geometry["window_h"] / 2.0, 3)]
    cent = np.round(np.array(c_canon) + rng.normal(0.0, 0.6, size=(n_donors, 2)), 3)
    aperture = np.round(rng.uniform(0.0, OPEN_ROOM * cfg.crop / 64.0, size=n_donors), 3)
    return {"format": "tessera_bank.v1", "geometry": geometry, "n_donors": n_donors,
            "track_order": [int(i) for i in rng.permutation(n_donors)],
            "cent": cent.tolist(), "aperture": aperture.tolist(), "c_canon": c_canon,
            "codec": dict(CODEC)}


def head_config():
    """Retrieval and temporal settings sized for a bank of DONORS donors."""
    return {"format": "tessera_head.v1",
            "retrieval": {"kshort": 12, "aperture_tol": 0.3, "cut": 8, "K": 4},
            "temporal": {"hysteresis": 2, "lookahead": 2},
            "decode": {"envelope_clamp_255": 12}}


def tessera_block(cfg):
    """The manifest's tessera block: default member names, the stamp restated, the track's storage."""
    return {"members": dict(MEMBERS), "planes": ["realtime", "offline"], "geometry": stamp(cfg),
            "bank_container": "mp4", "bank_codec": CODEC["codec"], "bank_pix_fmt": CODEC["pix_fmt"],
            "bank_packing": "rgb24_frames"}


def documents(cfg, seed=1):
    """The three valid documents, keyed by file name."""
    m = manifest.manifest(cfg, (cfg.W, cfg.H), None)
    m["tessera"] = tessera_block(cfg)
    return {MANIFEST: m, SIDECAR: sidecar(cfg, seed=seed), HEAD: head_config()}


def _with_donors(docs, cfg, n, seed):
    docs[SIDECAR] = sidecar(cfg, n_donors=n, seed=seed)
    return docs


def _sidecar_v2(docs, cfg, seed):
    docs[SIDECAR]["format"] = "tessera_bank.v2"
    return docs


def _order_repeat(docs, cfg, seed):
    order = docs[SIDECAR]["track_order"]
    order[order.index(0)] = order[0] if order[0] != 0 else order[1]
    return docs


def _order_outside(docs, cfg, seed):
    docs[SIDECAR]["track_order"][1] = docs[SIDECAR]["n_donors"]
    return docs


def _stamp_escapes(docs, cfg, seed):
    for doc in (docs[SIDECAR]["geometry"], docs[MANIFEST]["tessera"]["geometry"]):
        doc["window_x0"] = cfg.crop - doc["window_w"] + 1
    return docs


def _geometry_disagrees(docs, cfg, seed):
    docs[MANIFEST]["tessera"]["geometry"]["window_y0"] += 1
    return docs


def _no_pix_fmt(docs, cfg, seed):
    del docs[SIDECAR]["codec"]["pix_fmt"]
    del docs[MANIFEST]["tessera"]["bank_pix_fmt"]
    return docs


def _head_no_temporal(docs, cfg, seed):
    del docs[HEAD]["temporal"]
    return docs


def _head_bad_envelope(docs, cfg, seed):
    docs[HEAD]["decode"]["envelope_clamp_255"] = 12.01
    return docs


def _several_faults(docs, cfg, seed):
    """Disagreeing geometry (sidecar step 3) before an over-cap count and a broken order."""
    docs = _with_donors(_geometry_disagrees(docs, cfg, seed), cfg, 1025, seed)
    return _order_repeat(docs, cfg, seed)


# Variant -> (what it spoils, how). "donors-1024" is the one variant that stays valid: the cap is
# inclusive.
REFUSALS = {
    "sidecar-v2": ("sidecar format tessera_bank.v2", _sidecar_v2),
    "donors-1024": ("1024 donors, the cap itself", lambda d, c, s: _with_donors(d, c, 1024, s)),
    "donors-1025": ("1025 donors, one over the cap", lambda d, c, s: _with_donors(d, c, 1025, s)),
    "order-repeat": ("track_order names one donor twice", _order_repeat),
    "order-outside": ("track_order names donor n_donors", _order_outside),
    "stamp-escapes": ("window one pixel past the canvas's right edge", _stamp_escapes),
    "geometry-disagrees": ("manifest window_y0 one below the sidecar's", _geometry_disagrees),
    "no-pix-fmt": ("neither the manifest nor the sidecar states a pixel format", _no_pix_fmt),
    "head-no-temporal": ("head config without its temporal block", _head_no_temporal),
    "head-bad-envelope": ("head config envelope 12.01", _head_bad_envelope),
    "several-faults": ("geometry disagrees, 1025 donors and a repeated index", _several_faults),
}


def variant(cfg, name, seed=1):
    """The documents of one variant ("valid" or a key of REFUSALS)."""
    docs = documents(cfg, seed)
    return docs if name == "valid" else REFUSALS[name][1](docs, cfg, seed)


def write(out, cfg, seed=1):
    for name in ["valid"] + list(REFUSALS):
        folder = os.path.join(out, name)
        os.makedirs(folder, exist_ok=True)
        for file_name, doc in variant(cfg, name, seed).items():
            with open(os.path.join(folder, file_name), "w") as f:
                f.write(json.dumps(doc, indent=2) + "\n")


def main(argv):
    ap = argparse.ArgumentParser(prog="teeth_docs", description="Write the teeth JSON documents.")
    ap.add_argument("out")
    ap.add_argument("--preset", default="test", choices=sorted(presets.PRESETS))
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args(argv)
    write(args.out, presets.make_config(args.preset, args.seed), args.seed)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
