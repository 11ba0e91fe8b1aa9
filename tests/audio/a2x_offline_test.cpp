// Offline motion (le_a2x_deltas) against the live paths on espeak-ng speech, and its results at
// the edges.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "audio/a2x_host.h"
#include "support/scoped_env.h"

namespace le::test {
namespace {

std::vector<float> offline(le_a2x* a, const std::vector<float>& speech) {
  const int frames = int((speech.size() + 639) / 640);
  std::vector<float> out(size_t(frames) * 63);
  EXPECT_EQ(le_a2x_deltas(a, speech.data(), int(speech.size()), out.data(), frames), frames) << le_a2x_last_error();
  return out;
}

// Pushed whole and finished before the first pull, the live 8 s windows are the offline windows
// and the encoder sees the same context for every frame: the two agree to float rounding (the
// encoder's chunks differ, 64 frames live and 24 offline). Only the live encoder's stop at the end
// of the positional table (48 rows in the test bundle) takes the look-ahead from the last
// `look-ahead` (2) frames before it; the decoder carries that small change on, fading.
class A2xLiveAfterFinish : public testing::TestWithParam<const char*> {};

TEST_P(A2xLiveAfterFinish, AgreesWithOfflineToFloatRounding) {
  constexpr size_t kUncut = 48 - 2;
  ScopedEnv w2v("W2V_ONNX", encoderOf("speech-legacy").c_str());
  const std::vector<float> speech = utterance(GetParam());
  A2xPtr a = openA2x(fixture("test"));
  ASSERT_TRUE(a);
  le_a2x_push(a.get(), speech.data(), int(speech.size()));
  le_a2x_finish(a.get());
  Pulled live;
  pullReady(a.get(), live, 64);
  const std::vector<float> want = offline(a.get(), speech);
  const std::vector<float> got = motionOf(live);
  ASSERT_EQ(got.size(), want.size());
  const size_t uncut = std::min(got.size(), kUncut * 63);
  const float before = maxAbsDiff(std::vector<float>(got.begin(), got.begin() + uncut),
                                  std::vector<float>(want.begin(), want.begin() + uncut));
  const float all = maxAbsDiff(got, want);
  std::printf("%s: live legacy (finished) vs offline: max |diff| %.3g before the table end, %.3g in all\n",
              GetParam(), before, all);
  EXPECT_LT(before, 1e-6f);
  EXPECT_LT(all, 1e-3f);
}

INSTANTIATE_TEST_SUITE_P(Utterances, A2xLiveAfterFinish, testing::Values("hello", "fox", "long"),
                         [](const testing::TestParamInfo<const char*>& info) { return paramName(info.param); });

struct LiveCase {
  const char* name;
  const char* speech;
  float bound;
  float laterBound;
};

class A2xLiveVsOffline : public testing::TestWithParam<LiveCase> {};

// Pulling as audio arrives, a window sees only the audio that has arrived, and each window is
// normalised over its whole length, zeros included. The speech encoder measures loudness relative
// to its window, so the mouth opens wider where a window is partly empty: a 2 s short window at
// the start of the utterance, and every 8 s window before finish (the legacy path takes each frame
// from a window that is still filling). Measured on the test bundle: short window 25 % of the
// largest motion at the start and 18 % after 2 s; legacy 75 % and 36 %.
TEST_P(A2xLiveVsOffline, StaysClose) {
  ScopedEnv w2v("W2V_ONNX", encoderOf(GetParam().speech).c_str());
  const std::vector<float> speech = utterance("long");
  A2xPtr a = openA2x(fixture("test"));
  ASSERT_TRUE(a);
  const std::vector<float> got = motionOf(runLive(a.get(), speech, 320));
  const std::vector<float> want = offline(a.get(), speech);
  ASSERT_EQ(got.size(), want.size());
  float peak = 0;
  for (float v : want) peak = std::max(peak, std::fabs(v));
  // Past the first 2 s every short window is full of speech.
  const size_t settled = 50 * 63;
  const float diff = maxAbsDiff(got, want);
  const float later = maxAbsDiff(std::vector<float>(got.begin() + settled, got.end()),
                                 std::vector<float>(want.begin() + settled, want.end()));
  std::printf("%s live vs offline: max |diff| %.4g, after 2 s %.4g (largest offline motion %.4g)\n", GetParam().name,
              diff, later, peak);
  EXPECT_LT(diff, GetParam().bound * peak);
  EXPECT_LT(later, GetParam().laterBound * peak);
}

INSTANTIATE_TEST_SUITE_P(Frontends, A2xLiveVsOffline,
                         testing::Values(LiveCase{"ShortWindow", "speech", 0.4f, 0.3f},
                                         LiveCase{"Legacy", "speech-legacy", 0.9f, 0.5f}),
                         [](const testing::TestParamInfo<LiveCase>& info) { return info.param.name; });

TEST(A2xOffline, ResultsAtTheEdges) {
  ScopedEnv w2v("W2V_ONNX", encoderOf("speech").c_str());
  const std::vector<float> speech = utterance("hello");
  A2xPtr a = openA2x(fixture("test"));
  ASSERT_TRUE(a);
  const int frames = int((speech.size() + 639) / 640);
  std::vector<float> out(size_t(frames) * 63, 42.0f), wn(static_cast<size_t>(frames));
  EXPECT_EQ(le_a2x_deltas(a.get(), speech.data(), 0, out.data(), frames), 0);
  EXPECT_EQ(le_a2x_deltas(a.get(), speech.data(), int(speech.size()), out.data(), frames - 1), -2);
  EXPECT_EQ(std::string(le_a2x_last_error()).rfind("le_a2x_deltas: ", 0), 0u);
  for (float v : out) ASSERT_EQ(v, 42.0f);
  EXPECT_EQ(le_a2x_deltas_wn(a.get(), speech.data(), int(speech.size()), out.data(), wn.data(), frames), -3);
  EXPECT_STREQ(le_a2x_last_error(), "le_a2x_deltas_wn: encoder declares no wn output");
  EXPECT_EQ(le_a2x_deltas(nullptr, speech.data(), int(speech.size()), out.data(), frames), -1);
}

// The wn output: the live pull and the offline call hand out the encoder's per-frame values.
TEST(A2xOffline, WnComesThroughLiveAndOffline) {
  ScopedEnv w2v("W2V_ONNX", encoderOf("speech-legacy").c_str());
  const std::vector<float> speech = utterance("hello");
  A2xPtr a = openA2x(fixture("test-a2x-wn"));
  ASSERT_TRUE(a);
  EXPECT_EQ(le_a2x_width(a.get()), 1);
  const int frames = int((speech.size() + 639) / 640);
  std::vector<float> out(size_t(frames) * 63), wn(size_t(frames), -1.0f);
  ASSERT_EQ(le_a2x_deltas_wn(a.get(), speech.data(), int(speech.size()), out.data(), wn.data(), frames), frames);
  le_a2x_push(a.get(), speech.data(), int(speech.size()));
  le_a2x_finish(a.get());
  Pulled live;
  pullReady(a.get(), live, 64);
  ASSERT_EQ(live.wn.size(), wn.size());
  EXPECT_LT(maxAbsDiff(live.wn, wn), 1e-5f);
  for (float v : wn) {
    EXPECT_GT(v, 0.0f);
    EXPECT_LT(v, 1.0f);
  }
}

}  // namespace
}  // namespace le::test
