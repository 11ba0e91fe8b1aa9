// Failures inside the pipeline's threads: recorded, described, never a crash or a silent frame.
#include <filesystem>

#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "utt_host.h"

namespace le::test {
namespace {

std::string status(le_utt* utt, int* code = nullptr, int64_t* count = nullptr) {
  char text[512];
  const int r = le_utt_render_status(utt, text, sizeof text, count);
  if (code) *code = r;
  return text;
}

// A pipeline asked for a steady model the bundle lacks (b99), warmed up.
class UttWithoutSteadyModel : public testing::Test {
 protected:
  void SetUp() override {
    ctx = openSession();
    le_utt_opts opts = optsFor(motionDir);
    opts.steadyModel = "b99";
    utt.reset(le_utt_create(ctx.get(), &opts));
    ASSERT_TRUE(utt) << le_utt_last_error();
    ASSERT_EQ(waitReady(utt.get()), 1);
  }

  const std::string motionDir = fixture("motion-test");
  CtxPtr ctx;
  UttPtr utt;
};

// A chunk renderer that cannot be built is a warning: speech renders frame by frame.
TEST_F(UttWithoutSteadyModel, IsANonFatalWarmUpFailure) {
  int code = 1;
  int64_t count = 0;
  const std::string text = status(utt.get(), &code, &count);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(text.rfind("ep=cpu warm-up: ", 0), 0u) << text;
  EXPECT_NE(text.find("model_b99.onnx"), std::string::npos) << text;
  const auto pcm = sentencePcm("counting");
  le_utt_push_audio(utt.get(), pcm.data(), int(pcm.size()));
  le_utt_end_utterance(utt.get());
  const auto got = pullUntil(utt.get(), frameBytesOf(ctx.get()), 400, [](auto& v) { return v.back().kind == 2; });
  EXPECT_EQ(countKind(got, 1), int((pcm.size() + 639) / 640));
}

// Status texts are cut to the caller's buffer and always terminated.
TEST_F(UttWithoutSteadyModel, StatusTextIsCutToTheBuffer) {
  char text[6] = "xxxxx";
  EXPECT_EQ(le_utt_render_status(utt.get(), text, sizeof text, nullptr), 0);
  EXPECT_STREQ(text, "ep=cp");
  EXPECT_EQ(le_utt_render_status(utt.get(), text, 0, nullptr), 0);
}

// A driver frame that stops decoding mid-run cannot be delivered: the failure is fatal for the
// status and the host gets no frame in its place.
TEST(UttFailures, BrokenDriverFrameIsAFatalFailureNotACrash) {
  TempDir dir;
  const std::string bundle = dir / "bundle";
  std::filesystem::copy(fixture("test"), bundle, std::filesystem::copy_options::recursive);
  std::ofstream(bundle + "/target_frames/frame_000003.jpg", std::ios::trunc) << "not a jpeg";
  CtxPtr ctx(le_create(bundle.c_str(), "b1", 2, ""));
  ASSERT_TRUE(ctx) << le_last_error();
  UttPtr utt(le_utt_open(ctx.get(), fixture("motion-test").c_str()));
  ASSERT_TRUE(utt) << le_utt_last_error();
  const auto got = pullUntil(utt.get(), frameBytesOf(ctx.get()), 3, [](auto&) { return false; });
  ASSERT_EQ(got.size(), 3u);
  Pulled p;
  EXPECT_FALSE(pullOne(utt.get(), p, frameBytesOf(ctx.get()), 1.5)) << "frame 3 cannot be made";
  int code = 0;
  const std::string text = status(utt.get(), &code);
  EXPECT_EQ(code, -1);
  EXPECT_EQ(text.rfind("ep=cpu paste: le_driver: cannot decode ", 0), 0u) << text;
}

}  // namespace
}  // namespace le::test
