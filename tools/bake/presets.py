"""Presets and variants: everything a bake depends on, in one immutable record."""

from dataclasses import dataclass, field, replace

PRESETS = {
    # crop, canvas W x H, NT driver frames, drive-table steps, crop-to-frame scale, face centre.
    # a2x: the audio-to-expression networks' sizes (a2x.py).
    "test": dict(crop=64, W=160, H=120, NT=12, frames=8, scale=1.3, centre=(80.0, 52.0), fps=25,
                 a2x=dict(h=16, heads=2, layers=2, window=1, left=3, positions=48)),
    "demo": dict(crop=512, W=1280, H=720, NT=100, frames=100, scale=1.25, centre=(640.0, 330.0),
                 fps=25, a2x=dict(h=256, heads=4, layers=6, window=2, left=4, positions=600)),
}

# Variant name -> one-line meaning (the README lists the same table).
VARIANTS = {
    "crop128": "crop 128 instead of the preset's crop (the canvas grows with it)",
    "featsynth": "FeatSynth director (fs_red, pooled, kd, ks) and the fs_red.f16 member",
    "kp22": "director keypoint inputs of 22 rows",
    "kp20": "director keypoint inputs of 20 rows",
    "kp-dynamic": "director keypoint inputs with a dynamic row count",
    "batch-dynamic": "director with a dynamic batch dimension",
    "gs-fast": "director with com.zentrova GridSampleFast baked in place of GridSample",
    "two-concat": "director whose source cone has two Concat nodes reading P_rgb",
    "gs-zeros": "director GridSample with zeros padding",
    "prior-outside": "director that reads P_rgb outside the source cone too (output unchanged)",
    "hevc-prior": "no P.f16; the prior is played from P_hevc.mov (HEVC yuv444p)",
    "with-hevc": "P_hevc.mov (HEVC yuv444p) written beside P.f16",
    "prior-yuv420": "like hevc-prior, but the prior movie is encoded yuv420p",
    "no-prior": "neither P.f16 nor P_hevc.mov",
    "short-driver": "driver video (JPEG directory and movie) two frames shorter than NT",
    "wrong-size-driver": "driver video 32 pixels narrower than the manifest's canvas",
    "mp4-only": "driver video only as target_frames.mp4 (no JPEG directory)",
    "manifest-aliases": "manifest keys in their alias forms (frame_count, crop_size, paste_source_*)",
    "no-stamp": "manifest without the paste-space stamp",
    "msrc-2x": "M authored on a canvas twice the size, stamped as such",
    "a2x-wn": "a2x encoder with the second output wn, meta width true",
    "a2x-width-mismatch": "a2x meta says width true, the encoder has one output",
    "a2x-no-left": "a2x meta without left",
    "a2x-norm125": "a2x_norm.f32 of 125 floats",
    "a2x-pos-short": "a2x_pos.f32 of one row (fewer than 2 h floats)",
    "a2x-no-meta": "no a2x_meta.json",
    "a2x-silence-prime": "a2x meta silence_prime 20",
    "head-full": "director head computed at half the crop and upsampled by one cubic x2 Resize",
    "head-two-cubic": "head-full with a second cubic x2 Resize (on the pooled projection)",
    "head-scales23": "head-full with the cubic Resize's scales [1, 1, 2, 3], cut back to the crop",
    "head-align-corners": "head-full with the cubic Resize in align_corners mode",
    "student-blend": "pooled projection as a 2-D MatMul named /s2/blend (an older student)",
    "student-blend-long": "the same MatMul named /s2/blend/MatMul",
    "int8-conv": "director head's 3x3 and 1x1 Conv as com.zentrova.int8 Int8ConvVNNI with int8 weights",
}
# The teeth variants change only the teeth members and the manifest's tessera and unified blocks.
TEETH_VARIANTS = {
    "teeth-missing-member": "no tessera_head.v1.json: three of the four teeth members",
    "teeth-sidecar-v2": "bank sidecar of format tessera_bank.v2",
    "teeth-donors-1025": "bank sidecar of 1025 donors, one over the cap",
    "teeth-order-repeat": "bank sidecar whose track_order names one donor twice",
    "teeth-stamp-escapes": "geometry stamp whose window passes the canvas's right edge by one pixel",
    "teeth-geometry-disagrees": "manifest tessera.geometry window_y0 one below the sidecar's",
    "teeth-no-pix-fmt": "neither the manifest nor the sidecar states the bank's pixel format",
    "teeth-head-deflated": "head weights with deflated records",
    "teeth-head-frame": "head weights pickled with protocol 4 (FRAME opcodes)",
    "teeth-head-rank3": "head weights whose cand.0.weight is rank 3",
    "teeth-track-short": "bank track one frame shorter than n_donors",
    "teeth-track-long": "bank track one frame longer than n_donors",
    "teeth-track-wide": "bank track two columns wider than the stamp's band",
    "teeth-ambiguous": "bank cut against corpus geometry v2, which v3 makes ambiguous",
}
VARIANTS.update(TEETH_VARIANTS)
# The lip template ("lip_template.v1.json") is opt-in: only these variants carry it.
LIP_VARIANTS = {
    "lip-template": "lip_template.v1.json without a map: the unit polygon scaled by the anchors' spread",
    "lip-template-map": "lip_template.v1.json with its anchor-linear map",
}
VARIANTS.update(LIP_VARIANTS)


@dataclass(frozen=True)
class BakeConfig:
    preset: str
    crop: int
    W: int
    H: int
    NT: int
    frames: int
    scale: float
    centre: tuple
    fps: int
    a2x: dict
    seed: int = 1
    names: str = "welded"
    variants: frozenset = field(default_factory=frozenset)

    def has(self, variant):
        return variant in self.variants

    @property
    def raw_prior(self):
        """P.f16 is written unless a variant plays the prior from a movie or drops it."""
        return not (self.has("hevc-prior") or self.has("prior-yuv420") or self.has("no-prior"))

    @property
    def hevc_prior(self):
        return self.has("hevc-prior") or self.has("prior-yuv420") or self.has("with-hevc")

    @property
    def head(self):
        for kind in ("full", "two-cubic", "scales23", "align-corners"):
            if self.has("head-" + kind):
                return kind
        return "eighth"

    @property
    def student_blend(self):
        if self.has("student-blend"):
            return "/s2/blend"
        return "/s2/blend/MatMul" if self.has("student-blend-long") else None

    @property
    def lip_template(self):
        """None, "unit" (no map) or "map": the lip template the bundle carries."""
        if self.has("lip-template-map"):
            return "map"
        return "unit" if self.has("lip-template") else None

    @property
    def kp_rows(self):
        if self.has("kp22"):
            return 22
        if self.has("kp20"):
            return 20
        return 21


def make_config(preset, seed=1, names="welded", variants=()):
    if preset not in PRESETS:
        raise ValueError("unknown preset '%s' (known: %s)" % (preset, ", ".join(PRESETS)))
    if names not in ("welded", "descriptive"):
        raise ValueError("--names must be welded or descriptive, not '%s'" % names)
    unknown = [v for v in variants if v not in VARIANTS]
    if unknown:
        raise ValueError("unknown variant(s) %s (known: %s)" % (", ".join(unknown), ", ".join(VARIANTS)))
    if "kp22" in variants and "kp20" in variants:
        raise ValueError("variants kp22 and kp20 exclude each other")
    if "lip-template" in variants and "lip-template-map" in variants:
        raise ValueError("variants lip-template and lip-template-map exclude each other")
    cfg = BakeConfig(preset=preset, seed=seed, names=names, variants=frozenset(variants),
                     **PRESETS[preset])
    if cfg.has("crop128"):
        grow = 128 / cfg.crop
        cfg = replace(cfg, crop=128, W=int(round(cfg.W * grow / 2)) * 2,
                      H=int(round(cfg.H * grow / 2)) * 2,
                      centre=(cfg.centre[0] * grow, cfg.centre[1] * grow))
    return cfg
