// A pipeline without speech: its creation, its refusals, idle frames and the pull contract.
#include <filesystem>

#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "utt_host.h"

namespace le::test {
namespace {

TEST(UttCreate, RefusesMissingArgumentsWithTheirTexts) {
  le_utt_opts opts{};
  EXPECT_EQ(le_utt_create(nullptr, &opts), nullptr);
  EXPECT_STREQ(le_utt_last_error(), "le_utt_create: NULL ctx/opts");
  CtxPtr ctx = openSession();
  EXPECT_EQ(le_utt_create(ctx.get(), nullptr), nullptr);
  EXPECT_STREQ(le_utt_last_error(), "le_utt_create: NULL ctx/opts");
  EXPECT_EQ(le_utt_create(ctx.get(), &opts), nullptr);
  EXPECT_STREQ(le_utt_last_error(), "le_utt_create: opts.motion_dir required");
  EXPECT_EQ(le_utt_open(ctx.get(), nullptr), nullptr);
  EXPECT_STREQ(le_utt_last_error(), "le_utt_create: opts.motion_dir required");
}

TEST(UttCreate, NullHandlesAreHarmless) {
  le_utt_destroy(nullptr);
  EXPECT_EQ(le_utt_ready(nullptr), -1);
  EXPECT_EQ(le_utt_frames_available(nullptr), 0);
  le_utt_stats stats{};
  le_utt_get_stats(nullptr, &stats);
  le_utt_end_utterance(nullptr);
  le_utt_interrupt(nullptr);
  EXPECT_EQ(le_utt_render_status(nullptr, nullptr, 0, nullptr), 0);
  int16_t pcm[4] = {};
  EXPECT_EQ(le_utt_push_audio(nullptr, pcm, 4), 0);
  EXPECT_STREQ(le_utt_last_error(), "le_utt_push_audio: bad args");
  uint8_t byte;
  EXPECT_EQ(le_utt_pull_frame(nullptr, &byte, 1, nullptr), 0);
  EXPECT_STREQ(le_utt_last_error(), "le_utt_pull_frame: bad args");
}

// The engine is created in the background: a motion directory it cannot open is reported by
// le_utt_ready, with the engine's own text, while idle frames still flow.
TEST(UttCreate, EngineFailureShowsInReadyWithTheEnginesText) {
  TempDir empty;
  CtxPtr ctx = openSession();
  UttPtr utt(le_utt_open(ctx.get(), empty.path().c_str()));
  ASSERT_TRUE(utt) << le_utt_last_error();
  EXPECT_EQ(waitReady(utt.get()), -1);
  EXPECT_EQ(std::string(le_utt_last_error()).rfind("le_motion_create: ", 0), 0u) << le_utt_last_error();
  Pulled p;
  EXPECT_TRUE(pullOne(utt.get(), p, frameBytesOf(ctx.get())));
  EXPECT_EQ(p.info.kind, 0);
}

// LE_STEADY_MODEL names the chunk renderer whatever the options say; a model the bundle lacks is a
// warning of the warm-up, and the pipeline still gets ready.
TEST(UttCreate, SteadyModelVariableReplacesTheOption) {
  ScopedEnv steady("LE_STEADY_MODEL", "b98");
  CtxPtr ctx = openSession();
  const std::string dir = fixture("motion-test");
  le_utt_opts opts = optsFor(dir);
  opts.steadyModel = "b24_fp32";
  UttPtr utt(le_utt_create(ctx.get(), &opts));
  ASSERT_TRUE(utt) << le_utt_last_error();
  ASSERT_EQ(waitReady(utt.get()), 1) << le_utt_last_error();
  char text[512];
  EXPECT_EQ(le_utt_render_status(utt.get(), text, sizeof text, nullptr), 0);
  EXPECT_NE(std::string(text).find("model_b98.onnx"), std::string::npos) << text;
}

class UttIdle : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx = openSession();
    utt.reset(le_utt_open(ctx.get(), fixture("motion-test").c_str()));
    ASSERT_TRUE(utt) << le_utt_last_error();
  }
  CtxPtr ctx;
  UttPtr utt;
};

// The pipeline's threads own the session's director and cursor: one pipeline per session at a
// time.
TEST_F(UttIdle, ASecondPipelineOnTheSessionIsRefusedUntilTheFirstIsGone) {
  const std::string dir = fixture("motion-test");
  EXPECT_EQ(le_utt_open(ctx.get(), dir.c_str()), nullptr);
  EXPECT_STREQ(le_utt_last_error(), "le_utt_create: the session already runs a pipeline; destroy it first");
  utt.reset();
  UttPtr again(le_utt_open(ctx.get(), dir.c_str()));
  EXPECT_TRUE(again) << le_utt_last_error();
}

TEST_F(UttIdle, ReadyTurnsOneWithoutAudio) {
  EXPECT_EQ(le_utt_ready(utt.get()), 0);
  EXPECT_EQ(waitReady(utt.get()), 1);
}

// Idle frames are the driver video itself, frame after frame, looping over NT.
TEST_F(UttIdle, IdleFramesAreTheDriverFramesInOrder) {
  const int NT = le_nt(ctx.get());
  const size_t bytes = frameBytesOf(ctx.get());
  std::vector<std::vector<uint8_t>> frames;
  const auto infos = pullUntil(utt.get(), bytes, size_t(2 * NT + 3), [](auto&) { return false; }, &frames);
  ASSERT_EQ(infos.size(), size_t(2 * NT + 3));
  for (size_t i = 0; i < infos.size(); ++i) {
    EXPECT_EQ(infos[i].seq, int64_t(i));
    EXPECT_EQ(infos[i].kind, 0);
    EXPECT_EQ(infos[i].idx, int(i) % NT);
    EXPECT_EQ(infos[i].frameNo, -1);
  }
  le_utt_stats stats{};
  le_utt_get_stats(utt.get(), &stats);
  EXPECT_EQ(stats.framesPulled, int64_t(infos.size()));
  EXPECT_EQ(stats.speechFramesPulled, 0);
  EXPECT_EQ(stats.state, 0);
  utt.reset();
  for (size_t i = 0; i < infos.size(); ++i) {
    const uint8_t* driver = le_target_frame(ctx.get(), infos[i].idx);
    ASSERT_NE(driver, nullptr) << le_last_error();
    EXPECT_EQ(std::memcmp(driver, frames[i].data(), bytes), 0) << "frame " << i;
  }
}

TEST_F(UttIdle, ShortBufferKeepsTheFrameForTheNextPull) {
  const size_t bytes = frameBytesOf(ctx.get());
  while (le_utt_frames_available(utt.get()) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::vector<uint8_t> out(bytes);
  le_utt_frame_info info{};
  EXPECT_EQ(le_utt_pull_frame(utt.get(), out.data(), bytes - 1, &info), 0);
  EXPECT_STREQ(le_utt_last_error(), "le_utt_pull_frame: buffer too small");
  ASSERT_EQ(le_utt_pull_frame(utt.get(), out.data(), bytes, &info), 1);
  EXPECT_EQ(info.seq, 0);
  // Only creation clears the text; a later success leaves it.
  EXPECT_STREQ(le_utt_last_error(), "le_utt_pull_frame: buffer too small");
}

TEST_F(UttIdle, PushAcceptsZeroSamplesAndRefusesBadOnes) {
  int16_t pcm[2] = {};
  EXPECT_EQ(le_utt_push_audio(utt.get(), pcm, 0), 1);
  EXPECT_EQ(le_utt_push_audio(utt.get(), nullptr, 2), 0);
  EXPECT_STREQ(le_utt_last_error(), "le_utt_push_audio: bad args");
  EXPECT_EQ(le_utt_push_audio(utt.get(), pcm, -1), 0);
  char text[8] = "x";
  int64_t fails = -1;
  EXPECT_EQ(le_utt_render_status(utt.get(), text, sizeof text, &fails), 0);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(fails, 0);
}

}  // namespace
}  // namespace le::test
