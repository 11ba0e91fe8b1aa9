"""Compose canvases for the teeth pass's tests: the person's face crop whose mouth IS a known donor
of the bundle's teeth bank, placed at a known shift, with a pi mask drawn around the canonical
centre moved by that shift.

    /usr/bin/python3 tools/bake/teeth_crops.py OUT [--variant crop128] [--seed N]

writes OUT/cases.json (the canvas side and, per case, its donor, shift and noise) and per case
<name>.rgb.u8 (the canvas, canvas x canvas x 3 bytes), <name>.clean.u8 (the canvas before the
case's noise) and <name>.pi.u8 (canvas x canvas bytes, 255 inside the mouth, 0 elsewhere).
"""

import argparse
import json
import os
import sys

import numpy as np

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))

import bundle      # noqa: E402
import presets     # noqa: E402
import teeth_bank  # noqa: E402

# name -> (donor, (row shift, column shift), noise amplitude in 8-bit steps). Donors 2 and 10 are
# a narrow and a wide opening of the test bank, far apart from each other.
CASES = {
    "shifted": (10, (1, -1), 0),
    "noisy": (10, (1, -1), 8),
    "narrow": (2, (0, 0), 0),
    "wide": (10, (0, 0), 0),
}
# The pi ellipse's semi-axes stay this many pixels inside the band's half width and half height.
PI_INSET = 2


def face_canvas(cfg, who):
    """The person's face crop with the mouth closed, canvas x canvas x 3 bytes."""
    whole = {"window_x0": 0, "window_y0": 0, "band_c0": 1, "band_c1": cfg.crop - 1, "band_r0": 1,
             "band_r1": cfg.crop - 1, "shift_margin": 1}
    return teeth_bank.draw_patch(cfg, who, whole, 0.0, 0, 0)


def donor_offset(bank, donor):
    """(dy, dx): the donor's mouth centre from the canonical centre, rounded half to even."""
    d = np.rint(bank.cent[donor] - bank.c_canon).astype(int)
    return int(d[1]), int(d[0])


def place_donor(canvas, bank, donor, shift):
    """Pastes the donor's stored patch so that the window moved by `shift` shows its canonical
    window; returns the pasted rectangle (y, x, h, w)."""
    g, m = bank.geometry, bank.geometry["shift_margin"]
    dy, dx = donor_offset(bank, donor)
    assert abs(dy - shift[0]) <= g["pad"] and abs(dx - shift[1]) <= g["pad"], "placement would clamp"
    y = g["window_y0"] + g["band_r0"] - m + shift[0] - dy
    x = g["window_x0"] + g["band_c0"] - m + shift[1] - dx
    patch = bank.patches[donor]
    canvas[y:y + patch.shape[0], x:x + patch.shape[1]] = patch
    return y, x, patch.shape[0], patch.shape[1]


def pi_mask(bank, shift, canvas_side):
    """An ellipse of 255 centred on the pixel nearest the canonical centre, moved by `shift`, so
    that its centroid gives back the shift."""
    g = bank.geometry
    cy = int(np.rint(bank.c_canon[1])) + shift[0]
    cx = int(np.rint(bank.c_canon[0])) + shift[1]
    ay = (g["band_r1"] - g["band_r0"]) // 2 - PI_INSET
    ax = (g["band_c1"] - g["band_c0"]) // 2 - PI_INSET
    ys, xs = np.mgrid[0:canvas_side, 0:canvas_side]
    inside = ((xs - cx) / ax) ** 2 + ((ys - cy) / ay) ** 2 <= 1.0
    return np.where(inside, 255, 0).astype(np.uint8)


def check_inside(bank, pi, pasted):
    """The mask lies inside the band of the unshifted window and inside the pasted patch, so that
    every mouth pixel is blended and shows the donor."""
    g = bank.geometry
    ys, xs = np.nonzero(pi)
    rows, cols = ys - g["window_y0"], xs - g["window_x0"]
    assert rows.min() >= g["band_r0"] and rows.max() < g["band_r1"], "pi leaves the band rows"
    assert cols.min() >= g["band_c0"] and cols.max() < g["band_c1"], "pi leaves the band columns"
    y, x, h, w = pasted
    assert ys.min() >= y and ys.max() < y + h and xs.min() >= x and xs.max() < x + w, "pi leaves the donor"


def write(out, cfg, seed=1):
    """The cases of CASES on the bank of the bundle baked from cfg."""
    os.makedirs(out, exist_ok=True)
    who = bundle.Person(cfg)
    bank = teeth_bank.Bank(cfg, who, cfg.seed)
    face = face_canvas(cfg, who)
    rng = np.random.default_rng(np.random.SeedSequence(seed).spawn(1)[0])
    listed = []
    for name, (donor, shift, noise) in CASES.items():
        clean = face.copy()
        pasted = place_donor(clean, bank, donor, shift)
        pi = pi_mask(bank, shift, cfg.crop)
        check_inside(bank, pi, pasted)
        noisy = clean.astype(np.int32)
        noisy[pi > 0] += rng.integers(-noise, noise + 1, size=noisy[pi > 0].shape)
        np.clip(noisy, 0, 255).astype(np.uint8).tofile(os.path.join(out, name + ".rgb.u8"))
        clean.tofile(os.path.join(out, name + ".clean.u8"))
        pi.tofile(os.path.join(out, name + ".pi.u8"))
        listed.append({"name": name, "donor": donor, "shift": list(shift), "noise": noise})
    with open(os.path.join(out, "cases.json"), "w") as f:
        json.dump({"canvas": cfg.crop, "cases": listed}, f, indent=2)


def main(argv):
    ap = argparse.ArgumentParser(prog="teeth_crops", description="Write the teeth pass's test canvases.")
    ap.add_argument("out")
    ap.add_argument("--variant", action="append", default=[], choices=sorted(presets.VARIANTS))
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args(argv)
    write(args.out, presets.make_config("test", args.seed, "welded", tuple(args.variant)), args.seed)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
