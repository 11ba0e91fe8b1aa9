"""The lip template of our person ("lip_template.v1.json", format "lip-template-v1"): the inner lip
outline as a polygon of VERTICES vertices driven by the lip anchor keypoints, fitted to the mouth
the person is drawn with (person.py: the dark interior lies between two curves through the mouth
corners, 17 and 18, that bulge to the inner lip rows 6 and 12).

Two forms: without a map, a unit polygon `u_canon` that the library scales by the anchors' spread
around their mean; with the anchor-linear map ("lip-map-v1"), W and b such that vertex coordinate i
= b[i] + sum_j W[i][j] d[j] + the anchors' mean, d the anchors' offsets from their mean (canvas
pixels, dx0, dy0, dx1, dy1, ...). Both are least-squares fits over the person's mouth opened,
closed, widened and moved.

    /usr/bin/python3 tools/bake/lip_template.py OUT [--preset test]

writes OUT/valid.json (no map), OUT/valid-map.json, OUT/map-default-idx.json (a map without
`lip_idx`, also valid) and OUT/<name>.json for every entry of REFUSALS.
"""

import argparse
import copy
import json
import os
import sys

import numpy as np

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))

import keypoints  # noqa: E402
import presets    # noqa: E402

FILE = "lip_template.v1.json"
FORMAT = "lip-template-v1"
MAP_SCHEMA = "lip-map-v1"
MAP_KIND = "anchor-linear"
# The mouth corners and the outer edges of both lips: the rows the library's map reads by default.
ANCHORS = (17, 18, 19, 20)
# Both corners and seven points along each inner lip curve.
VERTICES = 16
# Coefficients are written rounded, so the same bake gives the same bytes on any LAPACK.
DECIMALS = 6
# A map that misses the drawn outline by more than this (pixels) on its own poses is a bake error.
FIT_TOLERANCE_PX = 0.05


class LipBakeError(RuntimeError):
    pass


def feather_px(crop):
    """Two pixels at crop 64, growing with the crop."""
    return max(1.0, crop / 32.0)


def _curve_params():
    """Where the vertices sit along the mouth, -1 (left corner) .. 1 (right corner): the left
    corner, the upper curve left to right, the right corner, the lower curve right to left."""
    inner = np.linspace(-1.0, 1.0, VERTICES // 2 + 1)[1:-1]
    return ([(-1.0, None)] + [(s, 6) for s in inner] + [(1.0, None)] + [(s, 12) for s in inner[::-1]])


def inner_outline(kp, crop):
    """The drawn inner lip polygon of keypoints kp (21 x 3) as VERTICES x 2 canvas pixels, in the
    coordinates whose rounding gives the pixel a point falls in (pixel i's centre at i)."""
    xl, xr = kp[17, 0], kp[18, 0]
    mid, half_width = 0.5 * (xl + xr), 0.5 * (xr - xl)
    corner_y = 0.5 * (kp[17, 1] + kp[18, 1])
    out = []
    for s, row in _curve_params():
        u = mid + s * half_width
        v = corner_y if row is None else corner_y + (kp[row, 1] - corner_y) * (1.0 - s * s)
        out.append(((u + 1.0) * crop * 0.5 - 0.5, (v + 1.0) * crop * 0.5 - 0.5))
    return np.array(out)


def anchor_pixels(kp, crop, rows=ANCHORS):
    """The anchors as the library places them: (x + 1) * (crop * 0.5)."""
    return (np.asarray(kp, dtype=np.float64)[list(rows), :2] + 1.0) * (crop * 0.5)


def training_poses():
    """The person's mouth closed a little, opened to wide, widened and narrowed, nearer and further
    (scaled about the mouth) and moved about."""
    base = keypoints.neutral()
    centre = base[list(ANCHORS), :2].mean(axis=0)
    poses = []
    for amount in np.linspace(-0.02, 0.16, 10):
        for spread in (-0.03, 0.0, 0.04):
            for scale, shift in ((1.0, (0.0, 0.0)), (0.85, (0.06, -0.04)), (1.15, (-0.05, 0.03))):
                kp = keypoints.open_mouth(base, amount)
                kp[17, 0] -= spread
                kp[18, 0] += spread
                kp[:, :2] = (kp[:, :2] - centre) * scale + centre + shift
                poses.append(kp)
    return poses


def _offsets(kp, crop, rows):
    anchors = anchor_pixels(kp, crop, rows)
    mean = anchors.mean(axis=0)
    return (anchors - mean).reshape(-1), mean


def fit_map(crop, rows=ANCHORS):
    """(W, b): least squares of the outline's offsets from the anchors' mean on their offsets."""
    system, target = [], []
    for kp in training_poses():
        d, mean = _offsets(kp, crop, rows)
        system.append(np.concatenate([d, [1.0]]))
        target.append((inner_outline(kp, crop) - mean).reshape(-1))
    system, target = np.array(system), np.array(target)
    coef = np.linalg.lstsq(system, target, rcond=None)[0]
    W, b = np.round(coef[:-1].T, DECIMALS) + 0.0, np.round(coef[-1], DECIMALS) + 0.0
    worst = np.max(np.abs(system @ np.vstack([W.T, b]) - target))
    if worst > FIT_TOLERANCE_PX:
        raise LipBakeError("lip map misses the drawn outline by %.3f px" % worst)
    return W, b


def fit_unit_polygon(crop, rows=ANCHORS):
    """u_canon: per vertex coordinate, the factor on the anchors' spread that best places it."""
    num = np.zeros((VERTICES, 2))
    den = np.zeros(2)
    for kp in training_poses():
        anchors = anchor_pixels(kp, crop, rows)
        mean = anchors.mean(axis=0)
        spread = np.maximum(np.abs(anchors - mean).max(axis=0), 1e-6)
        num += (inner_outline(kp, crop) - mean) * spread
        den += spread * spread
    return np.round(num / den, DECIMALS) + 0.0


def template(crop, with_map=True):
    """The template document for a canvas of `crop` pixels."""
    doc = {"format": FORMAT, "edge": "outward", "canvas": crop, "feather_px": feather_px(crop),
           "u_canon": fit_unit_polygon(crop).tolist(), "lip_idx": list(ANCHORS)}
    if with_map:
        W, b = fit_map(crop)
        doc["lip_map"] = {"schema": MAP_SCHEMA, "kind": MAP_KIND, "lip_idx": list(ANCHORS),
                          "canvas": crop, "W": W.tolist(), "b": b.tolist()}
    return doc


def dumps(doc):
    """One key per line, each array on one line (W one row per line): readable, and small enough
    for a fuzz seed."""
    def member(key, value, indent):
        if isinstance(value, dict):
            inner = ",\n".join(member(k, v, indent + "  ") for k, v in value.items())
            return '%s"%s": {\n%s\n%s}' % (indent, key, inner, indent)
        if key == "W" and isinstance(value, list):
            rows = ",\n".join(indent + "  " + json.dumps(row) for row in value)
            return '%s"%s": [\n%s\n%s]' % (indent, key, rows, indent)
        return '%s"%s": %s' % (indent, key, json.dumps(value))
    if not isinstance(doc, dict):
        return json.dumps(doc) + "\n"
    return "{\n" + ",\n".join(member(k, v, "  ") for k, v in doc.items()) + "\n}\n"


def _set(path, value):
    """A spoiler that sets doc[path...] = value (None deletes the key)."""
    def spoil(doc):
        for key in path[:-1]:
            doc = doc[key]
        if value is None:
            del doc[path[-1]]
        else:
            doc[path[-1]] = copy.deepcopy(value)
    return spoil


def _map_on_three_anchors(doc):
    """The map with the columns of row 19 left out, and no lip_idx: six columns where the default
    rows need eight."""
    lip_map = doc["lip_map"]
    lip_map["W"] = [row[:4] + row[6:] for row in lip_map["W"]]
    del lip_map["lip_idx"]


def _raw(text):
    """A spoiler that replaces the whole document by `text`."""
    return lambda doc: text


def _edit(change):
    """A spoiler that edits the document in place."""
    def spoil(doc):
        change(doc)
        return doc
    return spoil


def _pop_b(doc):
    doc["lip_map"]["b"].pop()


def _infinite_coefficient(doc):
    doc["lip_map"]["W"][3][1] = float("inf")


# Name -> (what it spoils, how). Each spoils one thing the library's template reader refuses, in
# the order the reader checks them.
REFUSALS = {
    "not-json": ("text cut off inside an array", _raw('{"format": "lip-template-v1", "u_canon": [')),
    "not-object": ("an array, not an object", _raw("[1, 2]\n")),
    "no-format": ("no format", _edit(_set(["format"], None))),
    "format-v2": ("format lip-template-v2", _edit(_set(["format"], "lip-template-v2"))),
    "edge-inward": ("edge inward", _edit(_set(["edge"], "inward"))),
    "no-canvas": ("no canvas", _edit(_set(["canvas"], None))),
    "canvas-other": ("canvas twice the crop", lambda doc: _set(["canvas"], doc["canvas"] * 2)(doc) or doc),
    "no-feather": ("feather_px as a string", _edit(_set(["feather_px"], "2"))),
    "feather-zero": ("feather_px 0", _edit(_set(["feather_px"], 0))),
    "no-u-canon": ("an empty u_canon", _edit(_set(["u_canon"], []))),
    "u-canon-row3": ("u_canon row 2 of three numbers", _edit(lambda d: d["u_canon"][2].append(0.0))),
    "no-lip-idx": ("lip_idx an object", _edit(_set(["lip_idx"], {}))),
    "lip-idx-21": ("lip_idx naming row 21", _edit(_set(["lip_idx"], [17, 18, 21]))),
    "map-not-object": ("lip_map an array", _edit(_set(["lip_map"], [1]))),
    "map-schema-v2": ("map schema lip-map-v2", _edit(_set(["lip_map", "schema"], "lip-map-v2"))),
    "map-no-schema": ("map without schema", _edit(_set(["lip_map", "schema"], None))),
    "map-kind": ("map kind affine", _edit(_set(["lip_map", "kind"], "affine"))),
    "map-idx-9": ("map lip_idx of nine rows",
                  _edit(_set(["lip_map", "lip_idx"], [17, 18, 19, 20, 6, 12, 14, 1, 7]))),
    "map-idx-21": ("map lip_idx naming row 21", _edit(_set(["lip_map", "lip_idx"], [17, 18, 19, 21]))),
    "map-no-w": ("map without W", _edit(_set(["lip_map", "W"], None))),
    "map-b-short": ("map b one row short", _edit(_pop_b)),
    "map-w-narrow": ("map fitted on three anchors without its lip_idx", _edit(_map_on_three_anchors)),
    "map-non-finite": ("an infinite map coefficient", _edit(_infinite_coefficient)),
    "map-canvas-other": ("map canvas one more than the crop",
                         lambda doc: _set(["lip_map", "canvas"], doc["canvas"] + 1)(doc) or doc),
}


def documents(crop):
    """File name -> text of every template the reader's tests and the fuzz seeds use."""
    without_idx = template(crop)
    del without_idx["lip_map"]["lip_idx"]
    docs = {"valid.json": dumps(template(crop, with_map=False)), "valid-map.json": dumps(template(crop)),
            "map-default-idx.json": dumps(without_idx)}
    for name, (_what, spoil) in REFUSALS.items():
        spoilt = spoil(template(crop))
        docs[name + ".json"] = spoilt if isinstance(spoilt, str) else dumps(spoilt)
    return docs


def write(out, crop):
    os.makedirs(out, exist_ok=True)
    for name, text in documents(crop).items():
        with open(os.path.join(out, name), "w", encoding="utf-8") as f:
            f.write(text)


def main(argv):
    ap = argparse.ArgumentParser(prog="lip_template", description="Write the lip templates.")
    ap.add_argument("out")
    ap.add_argument("--preset", default="test", choices=sorted(presets.PRESETS))
    args = ap.parse_args(argv)
    write(args.out, presets.make_config(args.preset).crop)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
