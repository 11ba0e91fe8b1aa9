"""The teeth reference bank of our person: donor patches cut from the person's own mouth, drawn with
teeth at many openings and small offsets, stored as the frames of one lossless H.264 track
(libx264rgb, QP 0, RGB) in a shuffled track order, with the sidecar that measures each donor.

    /usr/bin/python3 tools/bake/teeth_bank.py tracks OUT [--preset test] [--seed N]

writes the tracks the decoder's tests and the fuzz seeds use: donors.u8 (the patches in donor
order), order.json (the shuffled order of shuffled.mp4), forward.mp4 (identity order),
reversed.mp4, shuffled.mp4, long.mp4 (one frame more), short.mp4 (one frame fewer), wide.mp4 (two
columns wider), tiny.mp4 (two donors) and audio.wav (a container without video).
"""

import argparse
import json
import os
import subprocess
import sys
import wave

import numpy as np

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))

import bundle     # noqa: E402
import drive      # noqa: E402
import head_pt    # noqa: E402
import identity   # noqa: E402
import keypoints  # noqa: E402
import person     # noqa: E402
import pi_ref     # noqa: E402
import presets    # noqa: E402
import teeth_docs  # noqa: E402

DONORS = {"test": 16, "demo": 256}
# The corpus pi geometry the bank is cut against (pad_x, pad_y, down); v2 (AMBIGUOUS_GEOM) lies
# within a few hundredths of a pixel of v3 for every person, so a bank cut against it cannot be
# identified.
UNIFIED_GEOM = (0.05, 0.08, 0.015)
AMBIGUOUS_GEOM = (0.10, 0.08, 0.074)
# The track's codec as the decoder sees it: x264's RGB mode stores planar G, B, R.
CODEC = dict(codec="h264", pix_fmt="gbrp")
# Mouth interior in a drawing: the dark cavity, or teeth (bright and nearly grey).
DARK_LUMA, TEETH_LUMA, TEETH_RED_GREEN = 60.0, 100.0, 25.0
MEMBER_FILES = tuple(teeth_docs.MEMBERS.values())
FFMPEG = ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"]


def band_origin(geometry):
    """Canvas pixel (x, y) of a stored patch's top-left corner and its size (w, h)."""
    g, m = geometry, geometry["shift_margin"]
    x0 = g["window_x0"] + g["band_c0"] - m
    y0 = g["window_y0"] + g["band_r0"] - m
    return (x0, y0), (g["band_c1"] - g["band_c0"] + 2 * m, g["band_r1"] - g["band_r0"] + 2 * m)


def donor_poses(cfg, n, rng):
    """(opening, dx, dy) per donor: openings spread from closed to the stamp's room, offsets of at
    most one pixel in each direction."""
    most = teeth_docs.OPEN_ROOM * 2.0 / 64.0
    openings = np.linspace(0.0, most, n)
    offsets = rng.integers(-1, 2, size=(n, 2))
    offsets[0] = 0
    return [(float(openings[i]), int(offsets[i, 0]), int(offsets[i, 1])) for i in range(n)]


def draw_patch(cfg, who, geometry, opening, dx, dy):
    """The stored band of the person's face crop with the mouth opened by `opening` and moved by
    (dx, dy) canvas pixels: band_h x band_w x 3 uint8."""
    (x0, y0), (w, h) = band_origin(geometry)
    kp = keypoints.open_mouth(keypoints.neutral(), opening)
    kp[:, 0] += dx * 2.0 / cfg.crop
    kp[:, 1] += dy * 2.0 / cfg.crop
    to_uv = identity.crop_to_uv(cfg.crop) @ np.array([[1.0, 0, x0], [0, 1.0, y0], [0, 0, 1.0]])
    M = np.vstack([who.M[0], [0, 0, 1]])
    to_frame = (M @ np.array([[1.0, 0, x0], [0, 1.0, y0], [0, 0, 1.0]]))[:2]
    grid = person.Grid(h, w, to_uv, to_frame)
    X, Y = grid.frame_coords()
    rgb = person.background(X, Y, cfg.W, cfg.H, who.pal)
    person.draw_person(rgb, grid, kp, 0.0, who.pal, edge=2.4 / cfg.crop)
    return np.round(np.clip(rgb, 0.0, 1.0) * 255.0).astype(np.uint8)


def interior(patch):
    """Pixels of the mouth interior: the dark cavity or the teeth."""
    p = patch.astype(np.float64)
    luma = 0.299 * p[..., 0] + 0.587 * p[..., 1] + 0.114 * p[..., 2]
    teeth = (luma >= TEETH_LUMA) & (np.abs(p[..., 0] - p[..., 1]) <= TEETH_RED_GREEN)
    return (luma < DARK_LUMA) | teeth


def measure(patch, origin):
    """(centroid x, centroid y) of the interior in canvas pixels and the aperture: the interior's
    mean height in pixels over the middle third of the columns."""
    inside = interior(patch)
    ys, xs = np.nonzero(inside)
    w = patch.shape[1]
    middle = inside[:, w // 3: w - w // 3]
    return (origin[0] + xs.mean(), origin[1] + ys.mean()), float(middle.sum()) / middle.shape[1]


def canonical_centre(cfg, who, geom):
    """c_canon: the mean centroid of the pi masks (bytes >= 128) of the person's idle frames, drawn
    with the corpus geometry `geom`, as the library derives it from xs_target."""
    u = pi_ref.unified_block(cfg.crop, geom=geom)["pi"]
    centres = []
    for kp in drive.target_keypoints(who.kps).reshape(-1, keypoints.ROWS, 3):
        ys, xs = np.nonzero(pi_ref.pi_u8(kp, cfg.crop, u) >= 128)
        if len(ys):
            centres.append((xs.mean(), ys.mean()))
    return np.mean(np.array(centres), axis=0)


class Bank:
    """The donors of one person (donor order) and the sidecar that describes them."""

    def __init__(self, cfg, who, seed=1, n=None, geom=UNIFIED_GEOM):
        rng = np.random.default_rng(np.random.SeedSequence(seed).spawn(6)[5])
        n = n or DONORS[cfg.preset]
        self.geometry = teeth_docs.stamp(cfg)
        origin, _size = band_origin(self.geometry)
        self.patches = np.stack([draw_patch(cfg, who, self.geometry, *pose)
                                 for pose in donor_poses(cfg, n, rng)])
        measured = [measure(p, origin) for p in self.patches]
        reference = np.array(measure(draw_patch(cfg, who, self.geometry, 0.0, 0, 0), origin)[0])
        self.c_canon = canonical_centre(cfg, who, geom)
        # Each donor's mouth centre in the frame c_canon is measured in: the canonical centre moved
        # by how far its interior sits from the undisplaced closed mouth's.
        self.cent = np.array([self.c_canon + (np.array(c) - reference) for c, _a in measured])
        self.aperture = np.array([a for _c, a in measured])
        self.order = [int(i) for i in rng.permutation(n)]

    def sidecar(self):
        return {"format": "tessera_bank.v1", "geometry": dict(self.geometry), "n_donors": len(self.order),
                "track_order": list(self.order), "cent": np.round(self.cent, 4).tolist(),
                "aperture": np.round(self.aperture, 4).tolist(),
                "c_canon": np.round(self.c_canon, 4).tolist(), "codec": dict(CODEC)}

    def track_frames(self, order=None):
        """The patches in track order (frame k holds donor order[k])."""
        return self.patches[self.order if order is None else order]


def encode_track(frames, path):
    """Frames (n x h x w x 3 uint8) as a lossless RGB H.264 track in MP4, one thread, bit-exact."""
    n, h, w = frames.shape[:3]
    cmd = FFMPEG + ["-f", "rawvideo", "-pix_fmt", "rgb24", "-s", "%dx%d" % (w, h), "-r", "25", "-i", "-",
                    "-threads", "1", "-c:v", "libx264rgb", "-qp", "0", "-preset", "veryfast",
                    "-pix_fmt", "rgb24", "-x264-params", "threads=1:sliced-threads=0", "-map_metadata", "-1",
                    "-fflags", "+bitexact", "-flags:v", "+bitexact", "-f", "mp4", path]
    subprocess.run(cmd, input=np.ascontiguousarray(frames).tobytes(), check=True)


def track_bytes(frames, scratch):
    encode_track(frames, scratch)
    with open(scratch, "rb") as f:
        data = f.read()
    os.remove(scratch)
    return data


# Variant -> (the tessera_docs refusal it applies, or None). Every variant only changes the teeth
# members and the manifest's tessera and unified blocks.
DOC_VARIANTS = {
    "teeth-sidecar-v2": "sidecar-v2",
    "teeth-donors-1025": "donors-1025",
    "teeth-order-repeat": "order-repeat",
    "teeth-stamp-escapes": "stamp-escapes",
    "teeth-geometry-disagrees": "geometry-disagrees",
    "teeth-no-pix-fmt": "no-pix-fmt",
}
HEAD_VARIANTS = {
    "teeth-head-deflated": dict(deflate=True),
    "teeth-head-frame": dict(protocol=4),
}


def head_weights(cfg):
    """The blend head's set weights (the blend prefers donors that match the live mouth); the
    rank-3 variant folds one kernel's taps."""
    weights = head_pt.matching_weights()
    if cfg.has("teeth-head-rank3"):
        weights["cand.0.weight"] = weights["cand.0.weight"].reshape(16, 7, 9)
    return weights


def _track_frames(cfg, bank):
    frames = bank.track_frames()
    if cfg.has("teeth-track-short"):
        return frames[:-1]
    if cfg.has("teeth-track-long"):
        return np.concatenate([frames, frames[:1]])
    if cfg.has("teeth-track-wide"):
        return np.pad(frames, ((0, 0), (0, 0), (1, 1), (0, 0)), mode="edge")
    return frames


def _documents(cfg, bank):
    """Sidecar, head config and the manifest's tessera block, with the variant's fault applied."""
    block = teeth_docs.tessera_block(cfg)
    block["bank_codec"], block["bank_pix_fmt"] = CODEC["codec"], CODEC["pix_fmt"]
    docs = {teeth_docs.MANIFEST: {"tessera": block}, teeth_docs.SIDECAR: bank.sidecar(),
            teeth_docs.HEAD: teeth_docs.head_config()}
    for variant, refusal in DOC_VARIANTS.items():
        if cfg.has(variant):
            docs = teeth_docs.REFUSALS[refusal][1](docs, cfg, cfg.seed)
    return docs


def write_members(cfg, who, out):
    """Writes the four teeth members into the bundle `out` (head_config left out by the
    teeth-missing-member variant); returns the manifest's `tessera` and `unified` blocks."""
    geom = AMBIGUOUS_GEOM if cfg.has("teeth-ambiguous") else UNIFIED_GEOM
    bank = Bank(cfg, who, cfg.seed, geom=geom)
    docs = _documents(cfg, bank)
    track = os.path.join(out, teeth_docs.MEMBERS["bank_track"])
    encode_track(_track_frames(cfg, bank), track)
    with open(os.path.join(out, teeth_docs.SIDECAR), "w") as f:
        f.write(json.dumps(docs[teeth_docs.SIDECAR], indent=2) + "\n")
    if not cfg.has("teeth-missing-member"):
        with open(os.path.join(out, teeth_docs.HEAD), "w") as f:
            f.write(json.dumps(docs[teeth_docs.HEAD], indent=2) + "\n")
    options = next((o for v, o in HEAD_VARIANTS.items() if cfg.has(v)), {})
    head_pt.write_head_pt(os.path.join(out, teeth_docs.MEMBERS["head_weights"]), head_weights(cfg), **options)
    return docs[teeth_docs.MANIFEST]["tessera"], pi_ref.unified_block(cfg.crop, geom=geom)


def write_demo_bank(out, seed=1):
    """The demo preset's bank track and sidecar alone (for benchmarks)."""
    cfg = presets.make_config("demo", seed)
    bank = Bank(cfg, bundle.Person(cfg), seed)
    os.makedirs(out, exist_ok=True)
    encode_track(bank.track_frames(), os.path.join(out, teeth_docs.MEMBERS["bank_track"]))
    with open(os.path.join(out, teeth_docs.SIDECAR), "w") as f:
        f.write(json.dumps(bank.sidecar(), indent=2) + "\n")


def _write_wav(path):
    """A tenth of a second of silence: a container the demuxer reads that holds no video."""
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(16000)
        w.writeframes(bytes(3200))


def write_tracks(out, cfg, seed=1):
    """The decoder tests' tracks (see the module's usage)."""
    os.makedirs(out, exist_ok=True)
    bank = Bank(cfg, bundle.Person(cfg), seed)
    n = len(bank.order)
    bank.patches.tofile(os.path.join(out, "donors.u8"))
    with open(os.path.join(out, "order.json"), "w") as f:
        json.dump({"n_donors": n, "band_h": bank.patches.shape[1], "band_w": bank.patches.shape[2],
                   "track_order": bank.order}, f)
    forward = bank.patches
    tracks = {"forward": forward, "reversed": forward[::-1], "shuffled": bank.track_frames(),
              "long": np.concatenate([forward, forward[:1]]), "short": forward[:-1],
              "wide": np.pad(forward, ((0, 0), (0, 0), (1, 1), (0, 0)), mode="edge"), "tiny": forward[:2]}
    for name, frames in tracks.items():
        encode_track(frames, os.path.join(out, name + ".mp4"))
    _write_wav(os.path.join(out, "audio.wav"))


def main(argv):
    ap = argparse.ArgumentParser(prog="teeth_bank", description="Write the teeth bank's test tracks.")
    ap.add_argument("command", choices=("tracks",))
    ap.add_argument("out")
    ap.add_argument("--preset", default="test", choices=sorted(presets.PRESETS))
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args(argv)
    write_tracks(args.out, presets.make_config(args.preset, args.seed), args.seed)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
