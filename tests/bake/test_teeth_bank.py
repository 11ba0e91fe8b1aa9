"""The teeth bank the baker cuts from the person's own mouth: lossless track, measured sidecar, the
manifest's tessera and unified blocks, the corpus geometry it identifies as, and the variants that
differ from the test bundle in their teeth members alone."""

import json
import os
import unittest

import numpy as np

import bakeenv
import bundle
import pi_ref
import presets
import teeth_bank
import teeth_docs

CORPUS = {"v1": (0.05, 0.08, 0.015), "v2": (0.10, 0.08, 0.074), "v3": (0.14, 0.08, 0.074)}


def sidecar(root):
    with open(os.path.join(root, teeth_docs.SIDECAR)) as f:
        return json.load(f)


def corpus_distances(cfg, c_canon):
    """Distance in pixels from c_canon to each corpus geometry's canonical centroid, nearest first."""
    who = bundle.Person(cfg)
    found = {name: float(np.linalg.norm(teeth_bank.canonical_centre(cfg, who, g) - np.array(c_canon)))
             for name, g in CORPUS.items()}
    return sorted(found.items(), key=lambda item: item[1])


class TestBank(unittest.TestCase):
    def test_track_holds_the_drawn_patches_losslessly_in_track_order(self):
        root = bakeenv.fixture("test")
        doc = sidecar(root)
        cfg = presets.make_config("test")
        bank = teeth_bank.Bank(cfg, bundle.Person(cfg), cfg.seed)
        frames = bakeenv.decode_rgb(os.path.join(root, "tessera_bank.v1.mp4"))
        np.testing.assert_array_equal(frames, bank.patches[doc["track_order"]])
        self.assertNotEqual(doc["track_order"], sorted(doc["track_order"]))
        self.assertEqual(bakeenv.probe(os.path.join(root, "tessera_bank.v1.mp4"), "pix_fmt"), doc["codec"]["pix_fmt"])
        self.assertEqual(frames.shape[1:3], (doc["geometry"]["band_r1"] - doc["geometry"]["band_r0"] + 2,
                                             doc["geometry"]["band_c1"] - doc["geometry"]["band_c0"] + 2))

    def test_donors_show_teeth_and_open_wider_down_the_bank(self):
        cfg = presets.make_config("test")
        bank = teeth_bank.Bank(cfg, bundle.Person(cfg), cfg.seed)
        for patch in bank.patches:
            self.assertGreaterEqual(int(teeth_bank.interior(patch).sum()), 5)
        widest = bank.patches[-1].astype(float)
        teeth = (widest.mean(axis=2) >= teeth_bank.TEETH_LUMA) & (
            np.abs(widest[..., 0] - widest[..., 1]) <= teeth_bank.TEETH_RED_GREEN)
        self.assertGreater(int(teeth.sum()), 3)
        self.assertGreater(bank.aperture[-1], 2.0 * bank.aperture[0])
        self.assertTrue(np.all(np.abs(bank.cent - bank.c_canon) < 3.0))

    def test_manifest_states_the_track_and_the_geometry_the_bank_was_cut_against(self):
        root = bakeenv.fixture("test")
        m = bakeenv.manifest(root)
        self.assertEqual(m["tessera"]["geometry"], sidecar(root)["geometry"])
        self.assertEqual((m["tessera"]["bank_codec"], m["tessera"]["bank_pix_fmt"]), ("h264", "gbrp"))
        self.assertEqual(m["unified"], pi_ref.unified_block(64, geom=teeth_bank.UNIFIED_GEOM))

    def test_demo_bank_identifies_as_v1_and_the_ambiguous_variant_does_not(self):
        cfg = presets.make_config("demo")
        with open(os.path.join(bakeenv.FIXTURES, "teeth-demo", teeth_docs.SIDECAR)) as f:
            demo = json.load(f)
        (best, d0), (_second, d1) = corpus_distances(cfg, demo["c_canon"])[:2]
        self.assertEqual(best, "v1")
        self.assertLess(d0, 1.0)
        self.assertGreater(d1 - d0, 3.0)
        ambiguous = sidecar(bakeenv.fixture("test-teeth-ambiguous"))
        (_b, a0), (_s, a1) = corpus_distances(presets.make_config("test"), ambiguous["c_canon"])[:2]
        self.assertLess(a1 - a0, 3.0)

    def test_teeth_variants_differ_from_the_test_bundle_in_teeth_members_only(self):
        base = bakeenv.fixture("test")
        teeth = set(teeth_bank.MEMBER_FILES) | {"manifest.json"}
        for variant in presets.TEETH_VARIANTS:
            root = bakeenv.fixture("test-" + variant)
            for d, _dirs, files in os.walk(base):
                for name in files:
                    rel = os.path.relpath(os.path.join(d, name), base)
                    if rel in teeth:
                        continue
                    with open(os.path.join(base, rel), "rb") as a, open(os.path.join(root, rel), "rb") as b:
                        self.assertEqual(a.read(), b.read(), variant + ": " + rel)
            m, ref = bakeenv.manifest(root), bakeenv.manifest(base)
            self.assertEqual({k: v for k, v in m.items() if k not in ("tessera", "unified", "variants")},
                             {k: v for k, v in ref.items() if k not in ("tessera", "unified", "variants")})

    def test_track_variants_change_the_frame_count_or_size(self):
        doc = sidecar(bakeenv.fixture("test"))
        n, geometry = doc["n_donors"], doc["geometry"]
        width = geometry["band_c1"] - geometry["band_c0"] + 2
        shapes = {v: bakeenv.decode_rgb(os.path.join(bakeenv.fixture("test-teeth-track-" + v),
                                                     "tessera_bank.v1.mp4")).shape[:3]
                  for v in ("short", "long", "wide")}
        self.assertEqual(shapes["short"][0], n - 1)
        self.assertEqual(shapes["long"][0], n + 1)
        self.assertEqual((shapes["wide"][0], shapes["wide"][2]), (n, width + 2))
        self.assertFalse(os.path.exists(os.path.join(bakeenv.fixture("test-teeth-missing-member"),
                                                     teeth_docs.HEAD)))


if __name__ == "__main__":
    unittest.main()
