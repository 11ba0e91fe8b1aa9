"""manifest.json: format "le-bundle-v0", dimensions, counts, paste parameters and the paste-space
stamp, each key in its plain or alias form."""

import json

UNSHARP = dict(amount=1.3, sigma=2.0, ksize=13)
AGENT = "le-bake"


def manifest(cfg, msrc, prior_movie):
    """Ordered manifest dict. msrc is the (width, height) M was authored on, or None."""
    alias = cfg.has("manifest-aliases")
    m = {"format": "le-bundle-v0", "agent": AGENT}
    m["frame_count" if alias else "NT"] = cfg.NT
    m["W"], m["H"] = cfg.W, cfg.H
    m["crop_size" if alias else "crop"] = cfg.crop
    m.update(UNSHARP)
    m["frames"] = cfg.frames
    if msrc is not None:
        m["paste_source_width" if alias else "M_src_w"] = msrc[0]
        m["paste_source_height" if alias else "M_src_h"] = msrc[1]
    if prior_movie:
        m["P_hevc"] = prior_movie
    m["preset"] = cfg.preset
    m["seed"] = cfg.seed
    m["variants"] = sorted(cfg.variants)
    return m


def dumps(m):
    return json.dumps(m, indent=2) + "\n"
