"""The speech encoder folders: the contracts of their graphs, what the filter bank measures, the
short-window mapping against the 8 s encoder, and the espeak-ng sentences."""

import os
import subprocess
import tempfile
import unittest
import wave

import numpy as np
import onnx
from onnx import TensorProto

import bakeenv
import speech       # noqa: E402  (bakeenv puts the baker on the path)
import speech_ref   # noqa: E402
import utterances   # noqa: E402


def dims(value_info):
    return [d.dim_value or d.dim_param for d in value_info.type.tensor_type.shape.dim]


def signature(model):
    """{name: (element type, dims)} of a graph's inputs and outputs."""
    return {v.name: (v.type.tensor_type.elem_type, dims(v))
            for v in list(model.graph.input) + list(model.graph.output)}


def utterance(name):
    return np.fromfile(os.path.join(bakeenv.FIXTURES, "utterances", name + ".f32"), dtype="<f4")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def speech_folder(variant=""):
    path = os.path.join(bakeenv.FIXTURES, "speech-" + variant if variant else "speech")
    if not os.path.isfile(os.path.join(path, speech.ENCODER_8S)):
        raise FileNotFoundError("speech folder %s not baked (build the le_fixtures target)" % path)
    return path


class Contracts(unittest.TestCase):
    F32, F16 = TensorProto.FLOAT, TensorProto.FLOAT16
    TRUNK = "audio_encoder_fp16_window_trunk.onnx"
    HEAD = "audio_encoder_fp16_window_head.onnx"

    def test_every_variant_holds_the_files_its_mode_needs(self):
        TRUNK, HEAD = self.TRUNK, self.HEAD
        cases = {
            "": [TRUNK, HEAD, "w2v_8s.onnx"],
            "legacy": ["w2v_8s.onnx"],
            "legacy-names": ["w2v_8s.onnx", "w2v_head32.onnx", "w2v_trunk32.onnx"],
            "lt-dynamic": [TRUNK, HEAD, "w2v_8s.onnx"],
            "short-trunk": [TRUNK, HEAD, "w2v_8s.onnx"],
        }
        self.assertEqual(set(cases), set(speech.VARIANTS))
        for variant, files in cases.items():
            with self.subTest(variant=variant):
                self.assertEqual(sorted(os.listdir(speech_folder(variant))), sorted(files))

    def test_graph_signatures(self):
        F32, F16 = self.F32, self.F16
        cases = [
            ("", "w2v_8s.onnx", {"input_values": (F32, [1, 128000]),
                                 "audio_emb": (F32, [12, 200, 768])}),
            ("", self.TRUNK, {"input_values": (F32, [1, 32000]), "trunk_out": (F16, [1, 640, 400])}),
            ("", self.HEAD, {"x": (F32, [8, 640]), "emb": (F32, [8, 12, 768])}),
            ("legacy-names", "w2v_trunk32.onnx", {"input_values": (F32, [1, 32000]),
                                                  "trunk_out": (F16, [1, 640, 400])}),
            ("legacy-names", "w2v_head32.onnx", {"x": (F32, [8, 640]), "emb": (F32, [8, 12, 768])}),
            ("lt-dynamic", self.TRUNK, {"input_values": (F32, [1, 32000]),
                                        "trunk_out": (F16, [1, 640, "LT"])}),
            ("short-trunk", self.TRUNK, {"input_values": (F32, [1, 32000]),
                                         "trunk_out": (F16, [1, 640, 200])}),
        ]
        for variant, name, want in cases:
            with self.subTest(variant=variant, file=name):
                model = onnx.load(os.path.join(speech_folder(variant), name))
                onnx.checker.check_model(model, full_check=True)
                self.assertEqual(signature(model), want)

    def test_the_three_graphs_share_one_set_of_weights(self):
        folder = speech_folder()
        w8 = speech.weights_of(onnx.load(os.path.join(folder, "w2v_8s.onnx")))
        trunk = speech.weights_of(onnx.load(os.path.join(folder, self.TRUNK)))
        head = speech.weights_of(onnx.load(os.path.join(folder, self.HEAD)))
        np.testing.assert_array_equal(w8["bank"], trunk["bank"])
        for k in ("a", "b", "bias"):
            np.testing.assert_array_equal(w8[k], head[k])


class Measures(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.w = speech.weights_of(onnx.load(os.path.join(speech_folder(), "w2v_8s.onnx")))

    def test_band_energy_peaks_at_the_band_of_a_tone(self):
        t = np.arange(speech.SAMPLES_WIN) / speech.RATE
        freqs = speech.mel_frequencies(speech.BANDS)
        for hz in (300.0, 1200.0, 4000.0):
            with self.subTest(hz=hz):
                e = speech_ref.energies(self.w, speech_ref.normalise(np.sin(2 * np.pi * hz * t)))
                peak = freqs[int(np.argmax(e[:, 200]))]
                self.assertLess(abs(peak - hz), max(0.05 * hz, 60.0))   # 160 taps: 100 Hz wide

    def test_loudness_channel_follows_the_level_within_a_window(self):
        rng = np.random.default_rng(3)
        x = rng.normal(0.0, 1.0, speech.SAMPLES_WIN)
        x[16000:] *= 0.1       # the second second 20 dB quieter
        x[24000:] = 0.0        # and the last half second silent
        emb = speech_ref.project(self.w, speech_ref.energies(self.w, speech_ref.normalise(x)).T)
        loud = emb[:, 0, speech.LOUDNESS_CHANNEL]
        self.assertGreater(loud[100] - loud[300], 3.0)    # 20 dB is log(100) = 4.6 in energy
        self.assertGreater(loud[300] - loud[390], 1.0)
        # Silent samples normalise to a tiny constant (minus the mean): near the floor.
        self.assertAlmostEqual(loud[390], np.log(speech.EPS) - speech.CENTRE, delta=0.05)
        self.assertTrue(np.allclose(emb[:, :, speech.LOUDNESS_CHANNEL], loud[:, None]))

    def test_frame_250_maps_through_the_window_100_frames_earlier(self):
        end = (248 + 8 + 12) * 640
        p = speech_ref.trunk_position(248, 250, end)
        self.assertAlmostEqual(p, (100 * 640 - (end - 32000)) / 80 + 150 * 1598 / 199)
        self.assertGreaterEqual(p, 0)
        self.assertLess(p, 400)

    def test_short_windows_agree_with_the_8s_encoder_on_speech(self):
        a = utterance("fox").astype(np.float64)
        legacy = speech_ref.utterance_features(self.w, a)
        short = speech_ref.short_window_features(self.w, a)[:len(legacy)]
        loud = (legacy[:, 0, 0], short[:, 0, 0])
        # The windows differ (2 s against 8 s, so their normalisation differs by a gain, which
        # shifts the log energies); the loudness contours still match.
        self.assertGreater(np.corrcoef(*loud)[0, 1], 0.97)
        self.assertLess(np.abs(loud[0] - loud[1]).max(), 1.2)

    def test_silence_gives_the_floor_everywhere(self):
        emb = speech_ref.encode_8s(self.w, speech_ref.normalise(np.zeros(speech.SAMPLES_8S)))
        self.assertEqual(emb.shape, (12, 200, 768))
        self.assertTrue(np.allclose(emb[:, :, 0], np.log(speech.EPS) - speech.CENTRE))
        self.assertTrue(np.allclose(emb, emb[:, :1, :]))


class Utterances(unittest.TestCase):
    def test_three_forms_of_each_sentence_agree(self):
        root = os.path.join(bakeenv.FIXTURES, "utterances")
        for name, text in utterances.SENTENCES.items():
            with self.subTest(name=name):
                f32 = utterance(name)
                s16 = np.fromfile(os.path.join(root, name + ".s16"), dtype="<i2")
                with wave.open(os.path.join(root, name + ".wav")) as w:
                    self.assertEqual((w.getframerate(), w.getnchannels(), w.getsampwidth()),
                                     (16000, 1, 2))
                    pcm = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")
                np.testing.assert_array_equal(pcm, s16)
                np.testing.assert_allclose(s16 / 32768.0, f32, atol=1 / 32768.0)
                with open(os.path.join(root, name + ".txt")) as f:
                    self.assertEqual(f.read(), text + "\n")
                self.assertGreater(np.sqrt(np.mean(f32 ** 2)), 0.02)

    def test_rendering_again_gives_the_same_samples(self):
        with tempfile.TemporaryDirectory() as tmp:
            utterances.write(tmp)
            for name in utterances.SENTENCES:
                with self.subTest(name=name):
                    np.testing.assert_array_equal(
                        np.fromfile(os.path.join(tmp, name + ".f32"), dtype="<f4"), utterance(name))

    def test_resampling_keeps_a_tone(self):
        t = np.arange(22050) / 22050.0
        y = utterances.resample(np.sin(2 * np.pi * 440 * t), 22050, 16000)
        self.assertEqual(len(y), 16000)
        ref = np.sin(2 * np.pi * 440 * np.arange(16000) / 16000.0)
        self.assertLess(np.abs(y - ref)[800:-800].max(), 1e-3)


class Reproducible(unittest.TestCase):
    def test_two_bakes_of_a_speech_folder_are_byte_identical_and_the_seed_changes_them(self):
        with tempfile.TemporaryDirectory() as tmp:
            paths = [os.path.join(tmp, n) for n in ("a", "b", "c")]
            for path, seed in zip(paths, ("1", "1", "2")):
                subprocess.run(["/usr/bin/python3", os.path.join(bakeenv.BAKE_DIR, "le-bake"),
                                "--preset", "test", "--out", os.path.join(path, "bundle"),
                                "--seed", seed, "--speech", os.path.join(path, "speech")],
                               check=True, capture_output=True)
            for name in sorted(os.listdir(os.path.join(paths[0], "speech"))):
                with self.subTest(file=name):
                    a, b, c = (read(os.path.join(p, "speech", name)) for p in paths)
                    self.assertEqual(a, b)
                    self.assertNotEqual(a, c)


if __name__ == "__main__":
    unittest.main()
