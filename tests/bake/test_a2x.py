"""The audio-to-expression members: their contracts and variants, and (through the numpy
reference, evaluated with the weights read back from the baked graphs) that speech opens the
mouth with its loudness, silence keeps the target, the band mask masks and pos_window counts."""

import json
import os
import unittest

import numpy as np
import onnx
from onnx import TensorProto

import bakeenv
from test_speech import signature, speech_folder, utterance

import a2x          # noqa: E402  (bakeenv puts the baker on the path)
import a2x_ref      # noqa: E402
import speech       # noqa: E402
import speech_ref   # noqa: E402

F32 = TensorProto.FLOAT


def meta(root):
    with open(os.path.join(root, "a2x_meta.json")) as f:
        return json.load(f)


class Baked:
    """A bundle's a2x members read back: sizes, weights, positional table, norm."""

    def __init__(self, name):
        self.root = root = bakeenv.fixture(name)
        self.enc = onnx.load(os.path.join(root, "a2x_enc_stream.onnx"))
        self.dec = onnx.load(os.path.join(root, "a2x_dec.onnx"))
        m = meta(root)
        self.sizes = {k: m[k] for k in ("h", "heads", "layers", "window", "left", "positions")}
        self.w = {k: v.astype(np.float64) for k, v in a2x.weights_of(self.enc, self.dec).items()
                  if v is not None}
        self.pos = np.fromfile(os.path.join(root, "a2x_pos.f32"), dtype="<f4").astype(
            np.float64).reshape(-1, m["h"])
        norm = np.fromfile(os.path.join(root, "a2x_norm.f32"), dtype="<f4").astype(np.float64)
        self.mean, self.std = norm[:63], norm[63:]

    def deltas(self, features):
        return a2x_ref.deltas(self.sizes, self.w, self.pos, features)


def features_of(samples):
    w = speech.weights_of(onnx.load(os.path.join(speech_folder(), "w2v_8s.onnx")))
    return speech_ref.utterance_features(w, np.asarray(samples, np.float64))


def opening(deltas):
    d = a2x.opening_direction()
    return deltas @ d / (d @ d)


def frame_rms(samples, frames):
    x = np.zeros(frames * 640)
    x[:len(samples)] = samples
    return np.sqrt((x.reshape(frames, 640) ** 2).mean(axis=1))


class Contracts(unittest.TestCase):
    def test_graph_signatures(self):
        for name, h, width in (("test", 16, False), ("test-a2x-wn", 16, True), ("a2x-demo", 256, False)):
            with self.subTest(bundle=name):
                root = os.path.join(bakeenv.FIXTURES, name)
                enc = onnx.load(os.path.join(root, "a2x_enc_stream.onnx"))
                want = {"feat": (F32, [1, "L", 12, 768]), "pos_window": (F32, [1, "L", h]),
                        "attn": (F32, [1, 1, "L", "L"]), "enc_out": (F32, [1, "L", h])}
                if width:
                    want["wn"] = (F32, [1, "L"])
                self.assertEqual(signature(enc), want)
                self.assertEqual([o.name for o in enc.graph.output][0], "enc_out")
                dec = onnx.load(os.path.join(root, "a2x_dec.onnx"))
                self.assertEqual(signature(dec), {
                    "ctx_t": (F32, [1, h]), "prev": (F32, [1, 63]), "h": (F32, [1, 1, h]),
                    "m": (F32, [1, 63]), "h_out": (F32, [1, 1, h])})

    def test_attn_is_added_to_every_layers_logits_and_pos_window_to_the_input(self):
        graph = onnx.load(os.path.join(bakeenv.fixture("test"), "a2x_enc_stream.onnx")).graph
        readers = {}
        for n in graph.node:
            for i in n.input:
                readers.setdefault(i, []).append(n)
        attn = readers["attn"]
        self.assertEqual(len(attn), meta(bakeenv.fixture("test"))["layers"])
        for node in attn:
            self.assertEqual(node.op_type, "Add")
            self.assertEqual([r.op_type for r in readers[node.output[0]]], ["Softmax"])
        self.assertEqual([n.op_type for n in readers["pos_window"]], ["Add"])

    def test_members_and_meta_of_every_variant(self):
        h = 16
        cases = {
            # bundle: (meta keys missing, meta width, silence_prime, pos floats, norm floats)
            "test": ((), False, 0, 48 * h, 126),
            "test-descriptive": ((), False, 0, 48 * h, 126),
            "test-a2x-wn": ((), True, 0, 48 * h, 126),
            "test-a2x-width-mismatch": ((), True, 0, 48 * h, 126),
            "test-a2x-no-left": (("left",), False, 0, 48 * h, 126),
            "test-a2x-norm125": ((), False, 0, 48 * h, 125),
            "test-a2x-pos-short": ((), False, 0, h, 126),
            "test-a2x-silence-prime": ((), False, 20, 48 * h, 126),
        }
        for name, (missing, width, prime, pos, norm) in cases.items():
            with self.subTest(bundle=name):
                root = bakeenv.fixture(name)
                m = meta(root)
                self.assertEqual([k for k in ("h", "window", "left", "layers") if k not in m],
                                 list(missing))
                self.assertEqual((m["width"], m["silence_prime"]), (width, prime))
                self.assertEqual(os.path.getsize(os.path.join(root, "a2x_pos.f32")), pos * 4)
                self.assertEqual(os.path.getsize(os.path.join(root, "a2x_norm.f32")), norm * 4)
        self.assertFalse(os.path.exists(os.path.join(bakeenv.fixture("test-a2x-no-meta"),
                                                     "a2x_meta.json")))
        self.assertTrue(os.path.isfile(os.path.join(bakeenv.fixture("test-descriptive"),
                                                    "audio_motion_encoder.onnx")))

    def test_demo_sizes_are_realistic(self):
        m = meta(os.path.join(bakeenv.FIXTURES, "a2x-demo"))
        self.assertEqual((m["h"], m["layers"], m["window"], m["left"]), (256, 6, 2, 4))


class Encoder(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.b = Baked("test-a2x-wn")
        rng = np.random.default_rng(5)
        cls.L = 40
        cls.feat = rng.normal(0.0, 1.0, (cls.L, 12, 768))
        cls.pw = cls.b.pos[:cls.L]

    def run_encoder(self, feat, pos_window=None, mask=None):
        s = self.b.sizes
        mask = a2x_ref.band_mask(self.L, s["left"], s["window"]) if mask is None else mask
        return a2x_ref.encode(s, self.b.w, feat, self.pw if pos_window is None else pos_window, mask)

    def test_the_band_mask_limits_what_each_frame_sees(self):
        s = self.b.sizes
        base, _wn = self.run_encoder(self.feat)
        j = 30
        moved = self.feat.copy()
        moved[j] += 3.0
        out, _wn = self.run_encoder(moved)
        changed = np.abs(out - base).max(axis=1) > 1e-9
        reach_back, reach_ahead = s["layers"] * s["window"], s["layers"] * s["left"]
        expected = (np.arange(self.L) >= j - reach_back) & (np.arange(self.L) <= j + reach_ahead)
        np.testing.assert_array_equal(changed, expected)
        open_out, _wn = self.run_encoder(moved, mask=np.zeros((self.L, self.L)))
        open_base, _wn = self.run_encoder(self.feat, mask=np.zeros((self.L, self.L)))
        self.assertTrue(np.all(np.abs(open_out - open_base).max(axis=1) > 1e-9))

    def test_pos_window_is_added_and_spares_the_loudness_channel(self):
        base, _wn = self.run_encoder(self.feat)
        out, _wn = self.run_encoder(self.feat, pos_window=np.zeros_like(self.pw))
        self.assertGreater(np.abs(out[:, 1:] - base[:, 1:]).max(), 1e-3)
        np.testing.assert_array_equal(out[:, 0], base[:, 0])

    def test_channel_0_is_the_frames_loudness(self):
        out, wn = self.run_encoder(self.feat)
        loud = self.feat[:, :, speech.LOUDNESS_CHANNEL].mean(axis=1)
        np.testing.assert_allclose(out[:, 0], (loud - a2x.LOUD_CENTRE) / a2x.LOUD_SCALE, atol=1e-9)
        self.assertGreater(np.corrcoef(wn, out[:, 0])[0, 1], 0.9)


class Mouth(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.b = Baked("test")

    def test_the_mouth_opens_and_closes_with_the_speech(self):
        for name in ("fox", "long"):
            with self.subTest(utterance=name):
                a = np.concatenate([np.zeros(3200), utterance(name), np.zeros(16000)])
                d, _enc, _wn = self.b.deltas(features_of(a))
                o = opening(d)
                rms = frame_rms(a, len(d))
                self.assertGreater(np.corrcoef(o, rms)[0, 1], 0.7)
                self.assertLess(np.abs(d[-20:]).max(), 2e-4)         # trailing silence
                self.assertGreater(o.max(), 0.6 * a2x.OPEN)
                self.assertLessEqual(o.max(), 1.05 * a2x.OPEN)

    def test_louder_speech_opens_the_mouth_more(self):
        hello = utterance("hello").astype(np.float64)
        gap = np.zeros(8000)
        a = np.concatenate([hello, gap, 0.1 * hello, gap])
        d, _enc, _wn = self.b.deltas(features_of(a))
        o = opening(d)
        half = (len(hello) + len(gap)) // 640
        self.assertGreater(o[:half].mean(), 1.5 * o[half:2 * half].mean())

    def test_silence_keeps_the_target_and_other_rows_stay_near_it(self):
        d, _enc, _wn = self.b.deltas(features_of(np.zeros(3 * 16000)))
        self.assertLess(np.abs(d).max(), 2e-4)
        d, _enc, _wn = self.b.deltas(features_of(utterance("fox")))
        still = a2x.opening_direction() == 0
        self.assertLess(np.abs(d[:, still]).max(), 3 * a2x.DRIFT)
        self.assertGreater(np.abs(d[:, ~still]).max(), 10 * a2x.DRIFT)

    def test_norm_file_denormalises_the_decoder(self):
        mean, std = a2x.norm_stats()
        np.testing.assert_array_equal(self.b.mean, mean.astype(np.float32))
        np.testing.assert_array_equal(self.b.std, std.astype(np.float32))
        self.assertTrue(np.all(self.b.std > 0))
        rng = np.random.default_rng(2)
        ctx = rng.normal(0.0, 1.0, self.b.sizes["h"])
        ctx[0] = -5.0                                     # silence: the mouth stays shut
        m, hidden = a2x_ref.decode(self.b.w, ctx, np.zeros(63), np.zeros(self.b.sizes["h"]))
        np.testing.assert_allclose(m * self.b.std + self.b.mean, 0.0, atol=2e-4)
        self.assertGreater(np.abs(hidden[1:]).max(), 0.01)   # the context memory moves regardless


if __name__ == "__main__":
    unittest.main()
