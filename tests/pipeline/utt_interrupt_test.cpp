// Interrupts: undelivered frames are dropped and the person ramps back to idle from the last frame
// the host saw.
#include "support/scoped_env.h"
#include "utt_host.h"

namespace le::test {
namespace {

class UttInterrupt : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx = openSession();
    bytes = frameBytesOf(ctx.get());
    le_utt_opts opts = optsFor(dir);
    opts.idleEndSeconds = -1;
    utt.reset(le_utt_create(ctx.get(), &opts));
    ASSERT_TRUE(utt) << le_utt_last_error();
    ASSERT_EQ(waitReady(utt.get()), 1) << le_utt_last_error();
  }
  ScopedEnv w2v{"W2V_ONNX", (fixture("speech") + "/w2v_8s.onnx").c_str()};
  std::string dir = fixture("test");
  CtxPtr ctx;
  UttPtr utt;
  size_t bytes = 0;
};

TEST_F(UttInterrupt, DuringSpeechDropsTheRestAndRampsFromTheLastPulledFrame) {
  const auto pcm = sentencePcm("story");
  ASSERT_EQ(le_utt_push_audio(utt.get(), pcm.data(), int(pcm.size())), 1);
  const auto before = pullUntil(utt.get(), bytes, 400, [](auto& got) { return countKind(got, 1) == 5; });
  ASSERT_EQ(countKind(before, 1), 5);
  // Let the ring fill with frames the host will never see.
  while (le_utt_frames_available(utt.get()) < 3) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  le_utt_interrupt(utt.get());
  const auto after = pullUntil(utt.get(), bytes, 20, [](auto& got) { return got.back().kind == 0; });
  ASSERT_EQ(after.size(), 5u) << "four ramp frames, then idle";
  const int NT = le_nt(ctx.get());
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(after[i].kind, 2);
    EXPECT_EQ(after[i].idx, (before.back().idx + 1 + int(i)) % NT);
  }
  EXPECT_GT(after[0].seq, before.back().seq + 1) << "the undelivered frames were dropped";
  for (size_t i = 1; i < after.size(); ++i) EXPECT_EQ(after[i].seq, after[i - 1].seq + 1);
}

TEST_F(UttInterrupt, WhileIdleContinuesAfterTheLastPulledFrame) {
  const auto before = pullUntil(utt.get(), bytes, 3, [](auto&) { return false; });
  while (le_utt_frames_available(utt.get()) < 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  le_utt_interrupt(utt.get());
  const auto after = pullUntil(utt.get(), bytes, 2, [](auto&) { return false; });
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].kind, 0);
  EXPECT_EQ(after[0].idx, before.back().idx + 1);
}

TEST_F(UttInterrupt, BeforeAnyPullKeepsIdling) {
  le_utt_interrupt(utt.get());
  const auto after = pullUntil(utt.get(), bytes, 2, [](auto&) { return false; });
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].kind, 0);
  le_utt_stats stats{};
  le_utt_get_stats(utt.get(), &stats);
  EXPECT_EQ(stats.state, 0);
}

}  // namespace
}  // namespace le::test
