"""What a baked bundle holds: members and sizes, names, manifest forms, the driver video placed
through M, and the variants that take members away or spoil them."""

import os
import shutil
import tempfile
import unittest

import numpy as np

import bakeenv
import checks
import names
import presets


def members(root):
    return sorted(os.path.relpath(os.path.join(d, f), root)
                  for d, _dirs, files in os.walk(root) for f in files)


class Members(unittest.TestCase):
    def test_test_preset_members_and_sizes(self):
        root = bakeenv.fixture("test")
        got = [m for m in members(root) if not m.startswith("target_frames/")]
        self.assertEqual(got, sorted(["M.f32", "P.f16", "a2x_dec.onnx", "a2x_enc_stream.onnx",
                                      "a2x_meta.json", "a2x_norm.f32", "a2x_pos.f32",
                                      "drive/si.i32", "drive/xd.f32",
                                      "drive/xs.f32", "fca_stream.onnx", "manifest.json", "mask_512.u8", "model_b1.onnx",
                                      "model_b24_fp32.onnx", "model_b4.onnx", "pooled64.f16", "target_frames.mp4",
                                      "tessera_bank.v1.json", "tessera_bank.v1.mp4", "tessera_head.v1.json",
                                      "tessera_head.v1.pt", "xs_target.bin"]))
        m = bakeenv.manifest(root)
        for name, size in checks.expected_sizes(m, m["crop"]).items():
            if os.path.exists(os.path.join(root, name)):
                self.assertEqual(os.path.getsize(os.path.join(root, name)), size, name)
        self.assertEqual((m["format"], m["NT"], m["W"], m["H"], m["crop"], m["frames"]),
                         ("le-bundle-v0", 12, 160, 120, 64, 8))
        self.assertEqual((m["M_src_w"], m["M_src_h"]), (160, 120))

    def test_descriptive_bundle_holds_the_same_bytes_under_the_descriptive_names(self):
        welded, desc = bakeenv.fixture("test"), bakeenv.fixture("test-descriptive")
        self.assertEqual(sorted(names.descriptive(m) for m in members(welded)), members(desc))
        self.assertIn("idle_loop/source_index.i32", members(desc))
        self.assertIn("render_model.batch4.onnx", members(desc))
        for m in members(welded):
            with open(os.path.join(welded, m), "rb") as a, \
                    open(os.path.join(desc, names.descriptive(m)), "rb") as b:
                self.assertEqual(a.read(), b.read(), m)

    def test_manifest_alias_and_stamp_variants(self):
        aliases = bakeenv.manifest(bakeenv.fixture("test-manifest-aliases"))
        self.assertEqual({k: aliases[k] for k in ("frame_count", "crop_size", "paste_source_width",
                                                   "paste_source_height")},
                         {"frame_count": 12, "crop_size": 64, "paste_source_width": 160,
                          "paste_source_height": 120})
        self.assertFalse({"NT", "crop", "M_src_w", "M_src_h"} & set(aliases))
        self.assertFalse({"M_src_w", "paste_source_width"} & set(bakeenv.manifest(
            bakeenv.fixture("test-no-stamp"))))
        doubled = bakeenv.fixture("test-msrc-2x")
        self.assertEqual(bakeenv.manifest(doubled)["M_src_w"], 320)
        np.testing.assert_array_equal(
            np.fromfile(os.path.join(doubled, "M.f32"), "<f4"),
            2 * np.fromfile(os.path.join(bakeenv.fixture("test"), "M.f32"), "<f4"))

    def test_prior_variants(self):
        hevc = bakeenv.fixture("test-hevc-prior")
        self.assertFalse(os.path.exists(os.path.join(hevc, "P.f16")))
        self.assertEqual(bakeenv.manifest(hevc)["P_hevc"], "P_hevc.mov")
        self.assertEqual(bakeenv.probe(os.path.join(hevc, "P_hevc.mov"), "codec_name,pix_fmt"),
                         "hevc,yuv444p")
        self.assertEqual(bakeenv.probe(os.path.join(bakeenv.fixture("test-prior-yuv420"),
                                                    "P_hevc.mov"), "pix_fmt"), "yuv420p")
        none = bakeenv.fixture("test-no-prior")
        self.assertFalse({"P.f16", "P_hevc.mov", "fs_red.f16"} & set(members(none)))
        self.assertIn("fs_red.f16", members(bakeenv.fixture("test-featsynth")))

    def test_prior_movie_decodes_to_the_raw_prior(self):
        root = bakeenv.fixture("test-with-hevc")
        P = np.fromfile(os.path.join(root, "P.f16"), "<f2").reshape(12, 3, 64, 64).astype(np.float32)
        movie = bakeenv.decode_rgb(os.path.join(root, "P_hevc.mov")).transpose(0, 3, 1, 2) / 255.0
        self.assertEqual(movie.shape, P.shape)
        self.assertLess(np.abs(movie - P).mean(), 0.02)


class DriverVideo(unittest.TestCase):
    def test_pasting_the_crop_back_through_m_lands_on_the_face(self):
        root = bakeenv.fixture("test")
        m = bakeenv.manifest(root)
        c, NT = m["crop"], m["NT"]
        P = np.fromfile(os.path.join(root, "P.f16"), "<f2").reshape(NT, 3, c, c).astype(np.float32)
        M = np.fromfile(os.path.join(root, "M.f32"), "<f4").reshape(NT, 2, 3).astype(np.float64)
        t = 5
        for source, index in (("target_frames/frame_%06d.jpg" % t, 0), ("target_frames.mp4", t)):
            frame = bakeenv.decode_rgb(os.path.join(root, source))[index].astype(np.float32) / 255.0
            ys, xs = np.mgrid[0:c, 0:c]
            X = M[t, 0, 0] * xs + M[t, 0, 1] * ys + M[t, 0, 2]
            Y = M[t, 1, 0] * xs + M[t, 1, 1] * ys + M[t, 1, 2]
            x0, y0 = np.floor(X).astype(int), np.floor(Y).astype(int)
            fx, fy = (X - x0)[..., None], (Y - y0)[..., None]
            seen = ((1 - fx) * (1 - fy) * frame[y0, x0] + fx * (1 - fy) * frame[y0, x0 + 1]
                    + (1 - fx) * fy * frame[y0 + 1, x0] + fx * fy * frame[y0 + 1, x0 + 1])
            err = np.abs(seen.transpose(2, 0, 1) - P[t]).mean()
            self.assertLess(err, 0.012, source)     # three pixels off give 0.03

    def test_driver_video_variants(self):
        short = bakeenv.fixture("test-short-driver")
        self.assertEqual(len(os.listdir(os.path.join(short, "target_frames"))), 10)
        self.assertEqual(bakeenv.probe(os.path.join(short, "target_frames.mp4"), "nb_frames"), "10")
        wrong = bakeenv.fixture("test-wrong-size-driver")
        self.assertEqual(bakeenv.probe(os.path.join(wrong, "target_frames.mp4"), "width,height"),
                         "128,120")
        self.assertEqual(bakeenv.decode_rgb(os.path.join(wrong, "target_frames/frame_000000.jpg"))
                         .shape[1:3], (120, 128))
        self.assertFalse(os.path.exists(os.path.join(bakeenv.fixture("test-mp4-only"),
                                                     "target_frames")))
        self.assertEqual(bakeenv.probe(os.path.join(bakeenv.fixture("test"), "target_frames.mp4"),
                                       "codec_name,pix_fmt,nb_frames"), "h264,yuv420p,12")


class SelfCheck(unittest.TestCase):
    def test_a_member_of_the_wrong_size_is_caught(self):
        cfg = presets.make_config("test")
        with tempfile.TemporaryDirectory() as tmp:
            root = os.path.join(tmp, "b")
            shutil.copytree(bakeenv.fixture("test"), root)
            checks.verify(root, cfg, cfg.NT)
            with open(os.path.join(root, "pooled64.f16"), "ab") as f:
                f.write(b"\0\0")
            with self.assertRaisesRegex(checks.BakeError, "pooled64.f16 is 1572866 bytes"):
                checks.verify(root, cfg, cfg.NT)


if __name__ == "__main__":
    unittest.main()
