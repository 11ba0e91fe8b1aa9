"""The director's arithmetic (through the numpy reference, which the C++ suite holds against ONNX
Runtime): keypoints move pixels, the lip rows open and close the mouth, and pooled64 counts."""

import os
import unittest

import numpy as np
import onnx

import bakeenv
import bundle
import director_ref
import keypoints


class Warp(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        root = bakeenv.fixture("test-crop128")
        m = bakeenv.manifest(root)
        cls.crop = c = m["crop"]
        cls.P = bakeenv.load(root, "P.f16", "<f2", (m["NT"], 3, c, c))[:1].astype(np.float64)
        cls.pooled = bakeenv.load(root, "pooled64.f16", "<f2", (m["NT"], 64, 32, 32))[:1]
        cls.ks = bakeenv.load(root, "xs_target.bin", "<f4", (m["NT"], 21, 3))[:1].astype(np.float64)
        cls.w = bundle.director_weights_of(onnx.load(os.path.join(root, "model_b1.onnx")))

    def render(self, kd, pooled=None):
        return director_ref.render(self.w, self.pooled if pooled is None else pooled, self.P, kd,
                                   self.ks)[0]

    def mouth_opening(self, rgb):
        """Dark pixels (the mouth's interior) in a box around the mouth."""
        c = self.crop
        box = rgb[:, int(c * 0.60):int(c * 0.76), int(c * 0.40):int(c * 0.60)]
        return int((box.max(axis=0) < 0.35).sum())

    def test_idle_keypoints_reproduce_the_source_outside_the_mouth(self):
        rgb = self.render(self.ks)
        a = director_ref.alpha(self.crop, self.ks)[0, 0]
        outside = a == 0
        self.assertGreater(outside.mean(), 0.8)
        self.assertLess(np.abs(rgb - self.P[0])[:, outside].max(), 1e-9)

    def test_lip_keypoints_open_and_close_the_mouth(self):
        rest = self.mouth_opening(self.render(self.ks))
        opened = self.mouth_opening(self.render(keypoints.open_mouth(self.ks, 0.08)))
        closed = self.mouth_opening(self.render(keypoints.open_mouth(self.ks, -0.05)))
        self.assertGreater(rest, 15)
        self.assertGreater(opened, 1.4 * rest)
        self.assertLess(closed, 0.75 * rest)

    def test_moving_every_keypoint_moves_the_face_with_it(self):
        kd = self.ks.copy()
        kd[..., 0] += 0.04                      # 2.56 pixels to the right at crop 128
        rgb = self.render(kd)
        src = self.P[0]
        shift = int(round(0.04 * self.crop / 2))
        rows = slice(int(self.crop * 0.38), int(self.crop * 0.48))   # the eyes, far from the mouth
        cols = slice(int(self.crop * 0.3), int(self.crop * 0.7))
        moved = np.abs(rgb[:, rows, cols] - np.roll(src, shift, axis=2)[:, rows, cols]).mean()
        still = np.abs(rgb[:, rows, cols] - src[:, rows, cols]).mean()
        self.assertLess(moved, 0.3 * still)

    def test_pooled64_changes_the_mouth_region_only(self):
        a = director_ref.alpha(self.crop, self.ks)[0, 0]
        base = self.render(self.ks)
        other = self.render(self.ks, pooled=-self.pooled)
        diff = np.abs(other - base).max(axis=0)
        self.assertGreater(diff[a > 0.5].max(), 1e-3)
        self.assertEqual(diff[a == 0].max(), 0.0)


if __name__ == "__main__":
    unittest.main()
