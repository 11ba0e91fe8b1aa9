// Live use of the motion generator through the public header: frames do not depend on push sizes,
// frames handed out before finish are final, readiness follows the reference, eager speculation
// never leaks into the final timeline and brings the first frame earlier, reset starts afresh.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "motion_fixture.h"

namespace le::test {
namespace {

// The frames of a sentence pulled only after finish, eager off.
MotionFrames baseline(const std::string& name) {
  MotionHandle h(motionDir("motion-test"));
  EXPECT_NE(h.m, nullptr) << le_motion_last_error();
  return runUtterance(h.m, sentence(name), 1 << 30, false);
}

void expectSameFrames(const MotionFrames& a, const MotionFrames& b, const std::string& what) {
  ASSERT_EQ(a.count(), b.count()) << what;
  EXPECT_EQ(a.rows, b.rows) << what;
  EXPECT_EQ(a.target, b.target) << what;
  for (size_t t = 0; t < a.count(); ++t)
    for (size_t i = 0; i < 63; ++i)
      ASSERT_EQ(a.keypoints[t * 63 + i], b.keypoints[t * 63 + i]) << what << ": frame " << t << " value " << i;
}

class MotionPushSize : public ::testing::TestWithParam<size_t> {};

TEST_P(MotionPushSize, FramesPulledWhileStreamingEqualTheFinalOnes) {
  static const MotionFrames expected = baseline("story");
  MotionHandle h(motionDir("motion-test"));
  ASSERT_NE(h.m, nullptr) << le_motion_last_error();
  size_t beforeFinish = 0;
  const MotionFrames got = runUtterance(h.m, sentence("story"), GetParam(), true, &beforeFinish);
  EXPECT_GT(beforeFinish, 200u) << "several chunks are final before the end of the audio";
  expectSameFrames(got, expected, "push " + std::to_string(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Sizes, MotionPushSize, ::testing::Values(160, 641, 4480, 16000, 100003));

TEST(MotionReadiness, FramesReadyBeforeFinishFollowTheReference) {
  const std::vector<int32_t> ready = readRaw<int32_t>(motionRef("story", "ready.i32"));
  const std::vector<float> audio = sentence("story");
  MotionHandle h(motionDir("motion-test"));
  ASSERT_NE(h.m, nullptr) << le_motion_last_error();
  ASSERT_EQ(ready.size(), (audio.size() + 639) / 640);
  for (size_t j = 0; j < ready.size(); ++j) {
    const size_t n = std::min<size_t>(640, audio.size() - 640 * j);
    ASSERT_EQ(le_motion_push(h.m, audio.data() + 640 * j, int(n)), 1);
    ASSERT_EQ(le_motion_avail(h.m), ready[j]) << "after " << 640 * j + n << " samples";
  }
}

TEST(MotionReadiness, WindowZeroNeeds4480Samples) {
  const std::filesystem::path dump =
      std::filesystem::temp_directory_path() / ("le_motion_window0_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dump);
  ::setenv("LE_MOTION_DUMP", dump.c_str(), 1);
  MotionHandle h(motionDir("motion-test"));
  ::unsetenv("LE_MOTION_DUMP");
  ASSERT_NE(h.m, nullptr) << le_motion_last_error();
  const std::vector<float> audio = sentence("fox");
  le_motion_push(h.m, audio.data(), 4479);
  le_motion_avail(h.m);
  EXPECT_FALSE(std::filesystem::exists(dump / "mel0.bin"));
  le_motion_push(h.m, audio.data() + 4479, 1);
  le_motion_avail(h.m);
  EXPECT_TRUE(std::filesystem::exists(dump / "mel0.bin"));
  std::filesystem::remove_all(dump);
}

class MotionEager : public ::testing::TestWithParam<int> {};

TEST_P(MotionEager, FinalFramesEqualTheEagerOffOnes) {
  static const MotionFrames expected = baseline("story");
  MotionHandle h(motionDir("motion-test"));
  ASSERT_NE(h.m, nullptr) << le_motion_last_error();
  le_motion_set_eager(h.m, GetParam());
  // Speculate all along (avail after every push) without pulling, then pull the finished utterance.
  expectSameFrames(runUtterance(h.m, sentence("story"), 640, false), expected, "eager");
}

TEST_P(MotionEager, FinalTimelineEqualsTheEagerOffOneWhilePullingSpeculativeFrames) {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("le_motion_eager_" + std::to_string(::getpid()));
  std::vector<float> finals[2];
  for (int eager : {0, GetParam()}) {
    const std::filesystem::path dump = root / std::to_string(eager);
    ::setenv("LE_MOTION_DUMP", dump.c_str(), 1);
    MotionHandle h(motionDir("motion-test"));
    ::unsetenv("LE_MOTION_DUMP");
    ASSERT_NE(h.m, nullptr) << le_motion_last_error();
    le_motion_set_eager(h.m, eager);
    size_t beforeFinish = 0;
    const MotionFrames got = runUtterance(h.m, sentence("story"), 640, true, &beforeFinish);
    EXPECT_EQ(got.count(), size_t(le_motion_total(h.m)));
    if (eager) EXPECT_GT(beforeFinish, got.count() - 20) << "speculative frames follow the audio closely";
    finals[eager != 0] = readRaw<float>((dump / "final.bin").string());
  }
  ASSERT_FALSE(finals[0].empty());
  EXPECT_EQ(finals[0], finals[1]);
  std::filesystem::remove_all(root);
}

// Samples pushed, 640 at a time, before the first frame is ready.
size_t samplesBeforeFirstFrame(int eager) {
  const std::vector<float> audio = sentence("story");
  MotionHandle h(motionDir("motion-test"));
  le_motion_set_eager(h.m, eager);
  for (size_t at = 0; at < audio.size(); at += 640) {
    le_motion_push(h.m, audio.data() + at, int(std::min<size_t>(640, audio.size() - at)));
    if (le_motion_avail(h.m) > 0) return at + 640;
  }
  return audio.size();
}

TEST_P(MotionEager, FirstFrameComesEarlier) {
  const size_t off = samplesBeforeFirstFrame(0), on = samplesBeforeFirstFrame(GetParam());
  EXPECT_EQ(off, 52480u) << "eager off: the first chunk needs 80 conditioning rows, window 75 sample 52480";
  EXPECT_LE(on, 2u * 640u);
  std::printf("[ first frame ] eager %d after %zu samples (%.0f ms of audio); eager off after %zu (%.0f ms)\n",
              GetParam(), on, on / 16.0, off, off / 16.0);
}

INSTANTIATE_TEST_SUITE_P(Values, MotionEager, ::testing::Values(3, -1),
                         [](const auto& info) { return info.param > 0 ? std::string("fixed3") : std::string("adaptive"); });

TEST(MotionEagerOff, SwitchingOffDiscardsSpeculationAtOnce) {
  static const MotionFrames expected = baseline("story");
  const std::vector<float> audio = sentence("story");
  MotionHandle h(motionDir("motion-test"));
  ASSERT_NE(h.m, nullptr) << le_motion_last_error();
  le_motion_set_eager(h.m, 1);
  const size_t half = 640 * 160;  // two committed chunks (150 frames); a third only speculative
  le_motion_push(h.m, audio.data(), int(half));
  EXPECT_GT(le_motion_avail(h.m), 150);
  le_motion_set_eager(h.m, 0);
  MotionFrames got;
  pullReady(h.m, got);
  EXPECT_LT(got.count(), 140u) << "only committed frames remain";
  le_motion_push(h.m, audio.data() + half, int(audio.size() - half));
  le_motion_finish(h.m);
  pullReady(h.m, got);
  expectSameFrames(got, expected, "eager switched off mid-utterance");
}

TEST(MotionReset, ASecondUtteranceStartsFromTheInitialState) {
  const std::vector<float> audio = sentence("counting");
  MotionHandle h(motionDir("motion-test"));
  ASSERT_NE(h.m, nullptr) << le_motion_last_error();
  const MotionFrames first = runUtterance(h.m, audio, 4000, true);
  le_motion_reset(h.m, 0, 1, 1);
  EXPECT_EQ(le_motion_total(h.m), -1);
  expectSameFrames(runUtterance(h.m, audio, 7000, true), first, "after reset");
}

TEST(MotionReset, NegativeStartContinuesTheWalkAndStartsAreClamped) {
  const std::vector<float> audio(640 * 5, 0.0f);
  MotionHandle h(motionDir("motion-test"));
  ASSERT_NE(h.m, nullptr) << le_motion_last_error();
  const MotionFrames a = runUtterance(h.m, audio, 640, false);  // rows 0..4
  le_motion_reset(h.m, -1, -1, 1);
  const MotionFrames b = runUtterance(h.m, audio, 640, false);
  EXPECT_EQ(b.rows, (std::vector<int32_t>{5, 4, 3, 2, 1}));
  le_motion_reset(h.m, 99, 1, 0);
  const MotionFrames c = runUtterance(h.m, audio, 640, false);
  EXPECT_EQ(c.rows, (std::vector<int32_t>{11, 10, 9, 8, 7}));
  EXPECT_EQ(a.rows, (std::vector<int32_t>{0, 1, 2, 3, 4}));
}

}  // namespace
}  // namespace le::test
