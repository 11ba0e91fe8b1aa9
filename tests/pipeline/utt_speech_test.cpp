// Speech through the pipeline on both engines: utterances, frame numbers, the ramp back to the
// idle pose, how an utterance ends, and what the frames show.
#include <algorithm>
#include <filesystem>
#include <numeric>

#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "utt_host.h"

namespace le::test {
namespace {

struct EngineCase {
  const char* name;
  const char* motionDir;  // fixture holding the engine's members and xs_target.bin
};

// The audio-to-expression engine reads its speech encoder from W2V_ONNX.
class UttSpeech : public ::testing::TestWithParam<EngineCase> {
 protected:
  void SetUp() override {
    ctx = openSession();
    ASSERT_TRUE(ctx);
    bytes = frameBytesOf(ctx.get());
  }
  UttPtr open(le_utt_opts opts) {
    const std::string dir = fixture(GetParam().motionDir);
    opts.motion_dir = dir.c_str();
    UttPtr utt(le_utt_create(ctx.get(), &opts));
    EXPECT_TRUE(utt) << le_utt_last_error();
    if (utt) EXPECT_EQ(waitReady(utt.get()), 1) << le_utt_last_error();
    return utt;
  }
  // Pushes a sentence at once, ends it, and pulls until `idleAfter` idle frames follow speech.
  std::vector<le_utt_frame_info> speak(le_utt* utt, const std::vector<int16_t>& pcm, int idleAfter = 2,
                                       std::vector<std::vector<uint8_t>>* frames = nullptr, bool end = true) {
    EXPECT_EQ(le_utt_push_audio(utt, pcm.data(), int(pcm.size())), 1);
    if (end) le_utt_end_utterance(utt);
    return pullUntil(
        utt, bytes, 2000,
        [&](const std::vector<le_utt_frame_info>& got) {
          if (countKind(got, 1) == 0) return false;
          int idle = 0;
          for (auto it = got.rbegin(); it != got.rend() && it->kind == 0; ++it) ++idle;
          return idle >= idleAfter;
        },
        frames);
  }
  ScopedEnv w2v{"W2V_ONNX", (fixture("speech") + "/w2v_8s.onnx").c_str()};
  CtxPtr ctx;
  size_t bytes = 0;
};

std::vector<le_utt_frame_info> ofKind(const std::vector<le_utt_frame_info>& v, int kind) {
  std::vector<le_utt_frame_info> out;
  std::copy_if(v.begin(), v.end(), std::back_inserter(out), [&](const auto& i) { return i.kind == kind; });
  return out;
}

TEST_P(UttSpeech, UtteranceIsSpeechFramesThenARampThenIdle) {
  UttPtr utt = open({});
  const auto pcm = sentencePcm("counting");
  const auto got = speak(utt.get(), pcm);
  const auto speech = ofKind(got, 1);
  ASSERT_EQ(speech.size(), (pcm.size() + 639) / 640);
  for (size_t i = 0; i < speech.size(); ++i) EXPECT_EQ(speech[i].frameNo, int(i));
  const auto firstSpeech = std::find_if(got.begin(), got.end(), [](auto& i) { return i.kind == 1; });
  const auto ramp = ofKind(got, 2);
  ASSERT_EQ(ramp.size(), 6u);
  const int NT = le_nt(ctx.get());
  EXPECT_EQ(ramp[0].idx, (speech.back().idx + 1) % NT);
  for (size_t i = 1; i < ramp.size(); ++i) EXPECT_EQ(ramp[i].idx, (ramp[i - 1].idx + 1) % NT);
  EXPECT_EQ(got.back().idx, (ramp.back().idx + 2) % NT) << "idle resumes after the ramp";
  EXPECT_TRUE(std::all_of(got.begin(), firstSpeech, [](auto& i) { return i.kind == 0; }));
  for (size_t i = 1; i < got.size(); ++i) EXPECT_EQ(got[i].seq, got[i - 1].seq + 1);
  le_utt_stats stats{};
  le_utt_get_stats(utt.get(), &stats);
  EXPECT_EQ(stats.utterancesStarted, 1);
  EXPECT_EQ(stats.speechFramesPulled, int64_t(speech.size()));
  EXPECT_GT(stats.lastLatencyMs, 0.0);
  EXPECT_GT(stats.renderMsEma, 0.0);
  speak(utt.get(), pcm);
  le_utt_get_stats(utt.get(), &stats);
  EXPECT_EQ(stats.utterancesStarted, 2);
  char text[256];
  EXPECT_EQ(le_utt_render_status(utt.get(), text, sizeof text, nullptr), 0) << text;
}

// The ramp ends exactly on the idle pose: its last frame is the frame rendered with the idle pose
// as both source and driving keypoints.
TEST_P(UttSpeech, LastRampFrameIsTheIdlePose) {
  UttPtr utt = open({});
  std::vector<std::vector<uint8_t>> frames;
  const auto got = speak(utt.get(), sentencePcm("counting"), 1, &frames);
  size_t last = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    if (got[i].kind == 2) last = i;
  }
  ASSERT_EQ(got[last].kind, 2);
  utt.reset();
  const int t = got[last].idx;
  const auto xsTarget = readFloats(fixture(GetParam().motionDir) + "/xs_target.bin");
  const float* pose = xsTarget.data() + size_t(t) * LE_HOST_KP_FLOATS;
  const float* crop = le_render_kp_crop(ctx.get(), t, pose, pose);
  ASSERT_NE(crop, nullptr) << le_last_error();
  std::vector<uint8_t> expected(bytes);
  ASSERT_EQ(le_paste_crop(ctx.get(), t, crop, expected.data(), bytes), 1) << le_last_error();
  EXPECT_EQ(expected, frames[last]);
}

// Speech frames differ from the same frame rendered in the idle pose where the mouth moves; loud
// frames move it more than quiet ones.
TEST_P(UttSpeech, MouthMotionFollowsTheSpeechEnvelope) {
  UttPtr utt = open({});
  const auto pcm = sentencePcm("fox");
  std::vector<std::vector<uint8_t>> frames;
  const auto got = speak(utt.get(), pcm, 1, &frames);
  utt.reset();
  const auto xsTarget = readFloats(fixture(GetParam().motionDir) + "/xs_target.bin");
  std::vector<std::vector<uint8_t>> idlePose(size_t(le_nt(ctx.get())));
  std::vector<double> motion, loudness;
  for (size_t i = 0; i < got.size(); ++i) {
    if (got[i].kind != 1) continue;
    auto& still = idlePose[size_t(got[i].idx)];
    if (still.empty()) {
      const float* pose = xsTarget.data() + size_t(got[i].idx) * LE_HOST_KP_FLOATS;
      still.resize(bytes);
      ASSERT_EQ(le_paste_crop(ctx.get(), got[i].idx, le_render_kp_crop(ctx.get(), got[i].idx, pose, pose),
                              still.data(), bytes),
                1)
          << le_last_error();
    }
    double diff = 0;
    for (size_t b = 0; b < bytes; ++b) diff += std::abs(int(frames[i][b]) - int(still[b]));
    motion.push_back(diff);
    double energy = 0;
    const size_t from = size_t(got[i].frameNo) * 640;
    for (size_t s = from; s < std::min(pcm.size(), from + 640); ++s) energy += double(pcm[s]) * pcm[s];
    loudness.push_back(std::sqrt(energy / 640));
  }
  ASSERT_GT(motion.size(), 20u);
  // The loudest third of the frames against the quietest third.
  std::vector<size_t> order(motion.size());
  std::iota(order.begin(), order.end(), size_t(0));
  std::sort(order.begin(), order.end(), [&](size_t x, size_t y) { return loudness[x] < loudness[y]; });
  const size_t third = order.size() / 3;
  double quiet = 0, loud = 0;
  for (size_t i = 0; i < third; ++i) {
    quiet += motion[order[i]];
    loud += motion[order[order.size() - 1 - i]];
  }
  EXPECT_GT(loud, 1.25 * quiet) << "loud frames move the face more than quiet ones: " << loud / double(third)
                                << " against " << quiet / double(third);
}

// Hybrid mode collects the engine's answers on later turns instead of waiting for them.
TEST_P(UttSpeech, HybridModeDeliversTheWholeUtterance) {
  le_utt_opts opts{};
  opts.eager = -2;
  UttPtr utt = open(opts);
  const auto pcm = sentencePcm("fox");
  const auto got = speak(utt.get(), pcm);
  const auto speech = ofKind(got, 1);
  ASSERT_EQ(speech.size(), (pcm.size() + 639) / 640);
  for (size_t i = 0; i < speech.size(); ++i) EXPECT_EQ(speech[i].frameNo, int(i));
  EXPECT_EQ(countKind(got, 2), 6);
}

TEST_P(UttSpeech, SteadyModelDashRendersEveryFrameAlone) {
  le_utt_opts opts{};
  opts.steadyModel = "-";
  UttPtr utt = open(opts);
  const auto pcm = sentencePcm("counting");
  const auto speech = ofKind(speak(utt.get(), pcm), 1);
  EXPECT_EQ(speech.size(), (pcm.size() + 639) / 640);
}

TEST_P(UttSpeech, ZeroIdleEndEndsTheUtteranceAfterTheDefaultSilence) {
  UttPtr utt = open({});
  const auto pcm = sentencePcm("counting");
  const auto got = speak(utt.get(), pcm, 1, nullptr, false);
  EXPECT_EQ(countKind(got, 1), int((pcm.size() + 639) / 640));
  EXPECT_EQ(countKind(got, 2), 6);
}

TEST_P(UttSpeech, NegativeIdleEndWaitsForTheHostsEnd) {
  le_utt_opts opts{};
  opts.idleEndSeconds = -1;
  UttPtr utt = open(opts);
  const auto pcm = sentencePcm("counting");
  ASSERT_EQ(le_utt_push_audio(utt.get(), pcm.data(), int(pcm.size())), 1);
  pullUntil(utt.get(), bytes, 400, [&](auto& got) { return countKind(got, 1) > 0; });
  // A second and a half of silence later the utterance is still open: no ramp, no idle frame.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  std::vector<le_utt_frame_info> during;
  Pulled p;
  while (std::chrono::steady_clock::now() < deadline) {
    if (le_utt_pull_frame(utt.get(), p.frame.data(), p.frame.size(), &p.info) == 1) during.push_back(p.info);
    if (p.frame.empty()) p.frame.resize(bytes);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(countKind(during, 0) + countKind(during, 2), 0);
  le_utt_end_utterance(utt.get());
  const auto after = pullUntil(utt.get(), bytes, 50, [](auto& got) { return got.back().kind == 0; });
  EXPECT_EQ(countKind(after, 2), 6);
}

// With an idle pose table of another size than the session's frames the utterance goes straight
// back to idle frames. (The audio-to-expression engine walks any table; half of it here.)
TEST_P(UttSpeech, NoRampWithAnIdlePoseTableOfTheWrongSize) {
  if (std::string(GetParam().name) != "a2x") GTEST_SKIP() << "the motion generator needs its full table";
  TempDir dir;
  for (const auto& e : std::filesystem::directory_iterator(fixture(GetParam().motionDir))) {
    if (e.is_regular_file() && e.path().filename() != "xs_target.bin") {
      std::filesystem::copy_file(e.path(), dir / e.path().filename());
    }
  }
  const auto table = readFloats(fixture(GetParam().motionDir) + "/xs_target.bin");
  std::ofstream(dir / "xs_target.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(table.data()), std::streamsize(table.size() / 2 * sizeof(float)));
  le_utt_opts opts{};
  opts.motion_dir = dir.path().c_str();
  UttPtr utt(le_utt_create(ctx.get(), &opts));
  ASSERT_TRUE(utt) << le_utt_last_error();
  ASSERT_EQ(waitReady(utt.get()), 1) << le_utt_last_error();
  const auto got = speak(utt.get(), sentencePcm("counting"));
  EXPECT_GT(countKind(got, 1), 0);
  EXPECT_EQ(countKind(got, 2), 0);
}

INSTANTIATE_TEST_SUITE_P(Engines, UttSpeech,
                         ::testing::Values(EngineCase{"motion", "motion-test"}, EngineCase{"a2x", "test"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace le::test
