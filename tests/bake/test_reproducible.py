"""The same arguments bake the same bytes."""

import filecmp
import os
import subprocess
import tempfile
import unittest

import bakeenv


def bake(out, *extra):
    subprocess.run(["/usr/bin/python3", os.path.join(bakeenv.BAKE_DIR, "le-bake"), "--preset", "test",
                    "--out", out] + list(extra), check=True, capture_output=True)


def tree(root):
    return sorted(os.path.relpath(os.path.join(d, f), root)
                  for d, _dirs, files in os.walk(root) for f in files)


class Reproducible(unittest.TestCase):
    def test_two_bakes_of_the_test_preset_are_byte_identical(self):
        with tempfile.TemporaryDirectory() as tmp:
            a, b = os.path.join(tmp, "a"), os.path.join(tmp, "b")
            bake(a)
            bake(b)
            self.assertEqual(tree(a), tree(b))
            self.assertIn("target_frames.mp4", tree(a))
            _match, mismatch, errors = filecmp.cmpfiles(a, b, tree(a), shallow=False)
            self.assertEqual((mismatch, errors), ([], []))

    def test_another_seed_bakes_another_person(self):
        with tempfile.TemporaryDirectory() as tmp:
            a, b = os.path.join(tmp, "a"), os.path.join(tmp, "b")
            bake(a)
            bake(b, "--seed", "2")
            for name in ("P.f16", "a2x_enc_stream.onnx", "a2x_dec.onnx"):
                self.assertFalse(filecmp.cmp(os.path.join(a, name), os.path.join(b, name),
                                             shallow=False), name)


if __name__ == "__main__":
    unittest.main()
