"""The motion directories: every member at its size, the variants break exactly what they name,
the info records give back the person, the graphs compute their numpy forms, and the numpy
reference of the pipeline (frontend, chunked timeline, emitted frames) behaves as the engine must:
the mouth follows speech, frames ready before finish are final."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import numpy as np

import bakeenv
import onnx_eval

import bundle        # noqa: E402  (the baker's modules, on the path through bakeenv)
import motion        # noqa: E402
import motion_nets   # noqa: E402
import motion_ref    # noqa: E402
import presets       # noqa: E402
import speech_audio  # noqa: E402


def motion_fixture(name):
    path = os.path.join(bakeenv.FIXTURES, name)
    if not os.path.isdir(path):
        raise FileNotFoundError("fixture %s not baked (build the le_fixtures target)" % path)
    return path


def member_floats(nt, n_src, n_emo):
    return {
        "hubert_stft_window.bin": 512, "hubert_stft_binmat.bin": 20560,
        "hubert_fmean.bin": 1024, "hubert_fstd.bin": 1024, "emo.bin": n_emo * 8,
        "ch_xs_info.bin": 328, "ch_sc.bin": 63, "ch_eye_open.bin": 2, "ch_eye_ball.bin": 6,
        "v_min_max.bin": 530, "src_xs_info.bin": n_src * 328, "xs_target.bin": nt * 63,
    }


def meta_value(text, key):
    """A meta value found as the reader finds it: the quoted key, the next colon, a number."""
    at = text.find('"%s"' % key)
    if at < 0:
        return "missing"
    colon = text.find(":", at)
    if colon < 0:
        return "bad"
    return float(text[colon + 1:].lstrip().split(",")[0].split("}")[0].split("\n")[0])


def lip_gap(ref):
    """Opening of the inner lips (row 12 y - row 6 y) over the target's, per frame."""
    kp, tg = ref["keypoints"].reshape(-1, 21, 3), ref["target"].reshape(-1, 21, 3)
    return (kp[:, 12, 1] - kp[:, 6, 1]) - (tg[:, 12, 1] - tg[:, 6, 1])


class Members(unittest.TestCase):
    def test_every_member_holds_its_float_count(self):
        for name, nt in (("motion-test", 12), ("motion-demo", 100)):
            root = motion_fixture(name)
            with open(os.path.join(root, "meta.json")) as f:
                meta = json.load(f)
            self.assertEqual((meta["nt"], meta["n_src"]), (nt, nt), name)
            for member, floats in member_floats(nt, nt, meta["n_emo"]).items():
                with self.subTest(directory=name, member=member):
                    self.assertEqual(os.path.getsize(os.path.join(root, member)), 4 * floats)

    def test_variants_break_exactly_what_they_name(self):
        base = motion_fixture("motion-test")
        cases = {
            "nsrc": {"src_xs_info.bin": 13 * 328 * 4},
            "wrong-size": {"v_min_max.bin": 529 * 4},
            "missing-file": {"ch_eye_ball.bin": None},
            "short-read": {"hubert_fstd.bin": "dir"},
            "no-key": {}, "bad-key": {}, "delta-pitch": {},
        }
        for variant, broken in cases.items():
            root = motion_fixture("motion-test-" + variant)
            for member in sorted(os.listdir(base)):
                path = os.path.join(root, member)
                with self.subTest(variant=variant, member=member):
                    want = broken.get(member, os.path.getsize(os.path.join(base, member)))
                    if want is None:
                        self.assertFalse(os.path.exists(path))
                    elif want == "dir":
                        self.assertTrue(os.path.isdir(path))
                    elif member != "meta.json":
                        self.assertEqual(os.path.getsize(path), want)

    def test_meta_keys_read_as_the_reader_reads_them(self):
        cases = {  # fixture -> key -> value, "missing" or "bad"
            "motion-test": {"nt": 12, "n_src": 12, "n_emo": 3, "s_bridge": 0.75,
                            "delta_pitch": "missing"},
            "motion-test-nsrc": {"nt": 12, "n_src": 13},
            "motion-test-no-key": {"nt": 12, "s_bridge": "missing"},
            "motion-test-bad-key": {"n_emo": 3, "s_bridge": "bad"},
            "motion-test-delta-pitch": {"s_bridge": 0.75, "delta_pitch": 4.0},
        }
        for name, keys in cases.items():
            with open(os.path.join(motion_fixture(name), "meta.json")) as f:
                text = f.read()
            for key, want in keys.items():
                with self.subTest(fixture=name, key=key):
                    self.assertEqual(meta_value(text, key), want)

    def test_window_and_mel_bank(self):
        d = motion_ref.MotionDir(motion_fixture("motion-test"))
        n = np.arange(512)
        np.testing.assert_allclose(d.window, 0.5 - 0.5 * np.cos(2 * np.pi * n / 512), atol=1e-7)
        peaks = d.binmat.argmax(axis=0)
        self.assertTrue(np.all(d.binmat >= 0) and np.all(d.binmat.max(axis=0) <= 1.0))
        self.assertTrue(np.all(np.diff(peaks) >= 0), "band centres rise with the band")
        self.assertTrue(np.all(d.binmat.sum(axis=0) > 0), "no empty band")
        self.assertLess(peaks[-1], 257)


class Records(unittest.TestCase):
    def setUp(self):
        self.d = motion_ref.MotionDir(motion_fixture("motion-test"))

    def test_records_give_back_the_persons_keypoints(self):
        for s in range(self.d.nt):
            xs, xd, target, _kp = motion_ref.emit(self.d, self.d.initial_motion(),
                                                  self.d.initial_motion()[202:], s)
            np.testing.assert_allclose(xs, target, atol=2e-6, err_msg="row %d" % s)
            np.testing.assert_allclose(xd, xs, atol=1e-12)

    def test_pose_logits_peak_at_the_head_pose(self):
        who = bundle.Person(presets.make_config("test"))
        head = motion.head_poses(who.poses)
        for s in range(self.d.nt):
            rec = self.d.src[s]
            for key, logits in (("pitch", rec[126:192]), ("roll", rec[192:258]),
                                ("yaw", rec[262:328])):
                with self.subTest(row=s, angle=key):
                    self.assertAlmostEqual(motion_ref.bin66(logits), head[key][s], places=4)
                    self.assertEqual(int(np.argmax(logits)),
                                     int(np.round((head[key][s] + 97.5) / 3)))

    def test_template_is_record_zero_rescaled(self):
        t, r0 = self.d.template, self.d.src[0]
        self.assertAlmostEqual(t[258], motion.TEMPLATE_SCALE, places=6)
        np.testing.assert_array_equal(np.delete(t, 258), np.delete(r0, 258))
        np.testing.assert_array_equal(self.d.sc, r0[63:126])

    def test_bin66_and_rotation_edge_cases(self):
        self.assertAlmostEqual(motion_ref.bin66(np.zeros(66)), 0.0, places=9)
        np.testing.assert_allclose(motion_ref.rotation(0, 0, 0), np.eye(3), atol=1e-12)
        np.testing.assert_allclose(motion_ref.rotation(0, 90, 0)[0], [0, 0, -1], atol=1e-7)


    def test_target_row_walk(self):
        cases = {  # (start, direction, loop) -> rows of frames 0..7 with nt = 4
            (0, 1, False): [0, 1, 2, 3, 2, 1, 0, 1],
            (0, 1, True): [0, 1, 2, 3, 0, 1, 2, 3],
            (0, -1, True): [0, 3, 2, 1, 0, 3, 2, 1],
            (2, -1, False): [2, 1, 0, 1, 2, 3, 2, 1],
        }
        for (start, direction, loop), want in cases.items():
            with self.subTest(start=start, direction=direction, loop=loop):
                self.assertEqual([motion_ref.target_row(t, 4, start, direction, loop)
                                  for t in range(8)], want)


class Networks(unittest.TestCase):
    def setUp(self):
        self.root = motion_fixture("motion-test")
        self.d = motion_ref.MotionDir(self.root)
        self.ref = motion_ref.reference(self.d, speech_audio.load(
            os.path.join(motion_fixture("sentences"), "fox.f32")))

    def test_graphs_declare_the_names_and_shapes(self):
        import onnx
        want = {
            "hubert_student.onnx": ([("mel", [1, 80, 21])], ("feats", [1, 20, 1024])),
            "lmdm.onnx": ([("kp_cond", [1, 265]), ("aud_cond", [1, 80, 1103])],
                          ("pred", [1, 80, 265])),
            "stitch.onnx": ([("xs", [1, 63]), ("xd", [1, 63])], ("xd_stitched", [1, 63])),
        }

        def described(v):
            t = v.type.tensor_type
            self.assertEqual(t.elem_type, onnx.TensorProto.FLOAT)
            return (v.name, [dim.dim_value for dim in t.shape.dim])

        for name, (inputs, output) in want.items():
            model = onnx.load(os.path.join(self.root, name))
            onnx.checker.check_model(model, full_check=True)
            with self.subTest(network=name):
                self.assertEqual([described(v) for v in model.graph.input], inputs)
                self.assertEqual([described(v) for v in model.graph.output], [output])

    def test_graphs_compute_their_numpy_forms(self):
        rng = np.random.default_rng(3)
        mel = self.ref["mel"][3]
        got = onnx_eval.run(os.path.join(self.root, "hubert_student.onnx"), mel=mel[None])
        np.testing.assert_allclose(got["feats"][0], motion_ref.student(self.d.student_w, mel),
                                   atol=1e-9)
        state = self.d.initial_motion() + rng.normal(0, 0.05, 265)
        rows = self.ref["cond"][:80]
        got = onnx_eval.run(os.path.join(self.root, "lmdm.onnx"), kp_cond=state[None],
                            aud_cond=rows[None])
        np.testing.assert_allclose(got["pred"][0], motion_ref.lmdm(self.d.lmdm_w, state, rows),
                                   atol=1e-9)
        xs, xd = self.ref["xs"][40], self.ref["xd"][40]
        got = onnx_eval.run(os.path.join(self.root, "stitch.onnx"), xs=xs[None], xd=xd[None])
        np.testing.assert_allclose(got["xd_stitched"][0], motion_ref.stitch(self.d.stitch_w, xs, xd),
                                   atol=1e-12)

    def test_feature_zero_is_the_speech_energy(self):
        for w in (0, 3, 10):
            mel = self.ref["mel"][w]
            energy = (0.5 * (mel[:, :20] + mel[:, 1:])).mean(axis=0)
            np.testing.assert_allclose(self.ref["feat"][w][:, 0], energy, atol=1e-5)

    def test_stitching_is_a_small_correction(self):
        xs, xd = self.ref["xs"], self.ref["xd"]
        still = np.array([motion_ref.stitch(self.d.stitch_w, a, a) for a in xs])
        np.testing.assert_array_equal(still, xs)
        moved = np.array([motion_ref.stitch(self.d.stitch_w, a, b) for a, b in zip(xs, xd)])
        self.assertLessEqual(np.abs(moved - xd).max(), motion_nets.A_STITCH)
        self.assertGreater(np.abs(moved - xd).max(), 0.0)

    def test_motion_pose_logits_hold_the_persons_pose(self):
        rec = self.d.src[0]
        for t in (0, 40, len(self.ref["final"]) - 1):
            m = self.ref["final"][t]
            for part, logits in ((m[1:67], rec[126:192]), (m[67:133], rec[262:328]),
                                 (m[133:199], rec[192:258])):
                self.assertAlmostEqual(motion_ref.bin66(part), motion_ref.bin66(logits), places=3)

    def test_state_carries_over_and_fades(self):
        rows = self.ref["cond"][:80]
        base = motion_ref.lmdm(self.d.lmdm_w, self.d.initial_motion(), rows)
        state = self.d.initial_motion().copy()
        state[202:] += 0.1
        shifted = motion_ref.lmdm(self.d.lmdm_w, state, rows)
        np.testing.assert_allclose((shifted - base)[:, 202:].mean(axis=1),
                                   0.1 * motion_nets.CARRY ** (np.arange(80) + 1.0), atol=1e-12)
        np.testing.assert_allclose((shifted - base)[:, :202], 0.0, atol=1e-12)


class Frontend(unittest.TestCase):
    def test_reflect_padding_mirrors_without_the_edge_sample(self):
        span = np.arange(motion_ref.SPAN, dtype=np.float64)
        frames = motion_ref.padded_frames(span, np.ones(512))
        np.testing.assert_array_equal(frames[0][:257], np.arange(256, -1, -1))
        last = frames[20]   # padded samples 6400 .. 6911; the span ends at 6736
        np.testing.assert_array_equal(last[:336], 6144 + np.arange(336))
        np.testing.assert_array_equal(last[336:], 6478 - np.arange(176))
        self.assertEqual(frames.shape, (21, 512))

    def test_span_is_zero_outside_the_audio(self):
        audio = np.ones(3000)
        span = motion_ref.audio_span(audio, 0)
        self.assertTrue(np.all(span[:2000] == 0) and np.all(span[2000:5000] == 1)
                        and np.all(span[5000:] == 0))

    def test_window_threshold(self):
        for w in (0, 5, 10, 75):
            with self.subTest(window=w):
                self.assertFalse(motion_ref.window_ready(4479 + 640 * w, w))
                self.assertTrue(motion_ref.window_ready(4480 + 640 * w, w))


class Timeline(unittest.TestCase):
    def test_first_chunk_is_smoothed_from_unsmoothed_values(self):
        pred = np.zeros((80, 265))
        pred[:, 0] = np.arange(80) ** 2
        pred[:, 202] = np.arange(80) ** 2
        tl = motion_ref.add_chunk(None, pred)
        self.assertAlmostEqual(tl[0, 0], 0.5)
        self.assertAlmostEqual(tl[5, 0], (16 + 25 + 36) / 3)
        self.assertAlmostEqual(tl[79, 0], (78 ** 2 + 79 ** 2) / 2)
        np.testing.assert_array_equal(tl[:, 202], pred[:, 202])

    def test_later_chunk_cross_fades_ten_frames_and_appends_seventy(self):
        first = motion_ref.add_chunk(None, np.ones((80, 265)))
        tl = motion_ref.add_chunk(first, np.full((80, 265), 3.0))
        self.assertEqual(len(tl), 150)
        k = np.arange(10)
        np.testing.assert_allclose(tl[70:80, 202], 1 + 2 * k / 10)
        np.testing.assert_allclose(tl[80:, 202], 3.0)
        np.testing.assert_allclose(tl[:70, :], 1.0)
        faded = np.concatenate([np.ones(70), 1 + 2 * k / 10, np.full(70, 3.0)])
        smoothed = [faded[max(0, i - 1):i + 2].mean() for i in range(150)]
        np.testing.assert_allclose(tl[70:81, 0], smoothed[70:81])
        np.testing.assert_allclose(tl[81:, 0], 3.0)

    def test_final_timeline_is_cut_smoothed_and_clamped(self):
        d = motion_ref.MotionDir(motion_fixture("motion-test"))
        ref = motion_ref.reference(d, speech_audio.load(
            os.path.join(motion_fixture("sentences"), "story.f32")))
        final, post = ref["final"], ref["res_post"]
        self.assertEqual(len(final), ref["total"])
        self.assertTrue(np.all(final >= d.v_min) and np.all(final <= d.v_max))
        lip = 202 + 3 * 12 + 1
        self.assertTrue(np.any(final[:, lip] == d.v_max[lip]), "loud frames saturate the lip")
        np.testing.assert_array_equal(final[:, 202:], np.clip(post[:, 202:], d.v_min[202:],
                                                              d.v_max[202:]))
        np.testing.assert_array_equal(ref["lmdm0_kp"], d.initial_motion())

    def test_frames_ready_before_finish_are_final(self):
        d = motion_ref.MotionDir(motion_fixture("motion-test"))
        audio = speech_audio.load(os.path.join(motion_fixture("sentences"), "story.f32"))
        final = motion_ref.reference(d, audio)["final"]
        readies = set()
        for n in (52479, 52480, 100000, 150000, len(audio) - 1):
            streamed = motion_ref.committed_frames(d, audio, n)
            readies.add(len(streamed))
            np.testing.assert_array_equal(streamed, final[:len(streamed)], err_msg="n=%d" % n)
        self.assertGreaterEqual(len(readies), 4, "several chunks run before the end")


class Speech(unittest.TestCase):
    def test_mouth_opens_with_speech_and_stays_closed_in_silence(self):
        for case in ("fox", "counting", "story", "fox-delta-pitch"):
            root = os.path.join(motion_fixture("motion-ref"), case)
            with open(os.path.join(root, "info.json")) as f:
                total = json.load(f)["total"]
            ref = {k: np.fromfile(os.path.join(root, k + ".f32"), "<f4").reshape(total, 63)
                   for k in ("keypoints", "target")}
            energy = np.fromfile(os.path.join(root, "cond.f32"), "<f4").reshape(-1, 1103)[:total, 0]
            gap = lip_gap(ref)
            closed = gap[energy < -15]   # the pitch tilt of delta-pitch moves the lips a little
            with self.subTest(case=case):
                self.assertLess(closed.max() - closed.min(), 1e-3)
                self.assertLess(np.abs(closed).max(), 1e-3)
                self.assertGreater((gap[energy > -3] - closed.mean()).min(), 0.02)
                self.assertGreater(np.corrcoef(energy, gap)[0, 1], 0.9)

    def test_sentences_hold_the_same_samples_twice(self):
        root = motion_fixture("sentences")
        for name in speech_audio.SENTENCES:
            with self.subTest(sentence=name):
                wav, raw = (speech_audio.load(os.path.join(root, name + ext))
                            for ext in (".wav", ".f32"))
                np.testing.assert_array_equal(wav, raw)
                lead = int(speech_audio.SILENCE * speech_audio.RATE)
                self.assertTrue(np.all(raw[:lead] == 0) and np.all(raw[-lead:] == 0))
                self.assertGreater(np.abs(raw).max(), 0.1)
                with open(os.path.join(root, name + ".wav"), "rb") as f:
                    header = f.read(44)
                channels, rate, bits = (int.from_bytes(header[a:b], "little")
                                        for a, b in ((22, 24), (24, 28), (34, 36)))
                self.assertEqual((channels, rate, bits), (1, 16000, 16))


class Reproducible(unittest.TestCase):
    def test_same_seed_same_bytes_and_the_cli_reproduces_the_fixture(self):
        tmp = tempfile.mkdtemp()
        try:
            for run in ("a", "b"):
                motion.write(presets.make_config("test", 1), os.path.join(tmp, run))
            for member in sorted(os.listdir(os.path.join(tmp, "a"))):
                with open(os.path.join(tmp, "a", member), "rb") as f1, \
                        open(os.path.join(tmp, "b", member), "rb") as f2, \
                        open(os.path.join(motion_fixture("motion-test"), member), "rb") as f3:
                    first = f1.read()
                    self.assertEqual(first, f2.read(), member)
                    self.assertEqual(first, f3.read(), member)
            subprocess.run([sys.executable, "-B", os.path.join(bakeenv.BAKE_DIR, "motion_ref.py"),
                            "--wav", os.path.join(motion_fixture("sentences"), "fox.wav"),
                            "--motion", os.path.join(tmp, "a"), "--out", os.path.join(tmp, "ref")],
                           check=True, capture_output=True)
            baked = os.path.join(motion_fixture("motion-ref"), "fox")
            for name in sorted(os.listdir(baked)):
                with open(os.path.join(baked, name), "rb") as f1, \
                        open(os.path.join(tmp, "ref", name), "rb") as f2:
                    self.assertEqual(f1.read(), f2.read(), name)
        finally:
            shutil.rmtree(tmp)


if __name__ == "__main__":
    unittest.main()
