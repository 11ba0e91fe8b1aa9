// Pipelined paste: the paste thread delivers the same frames as the producer's own paste, and the
// stage report says what it measured.
#include <mutex>

#include "support/scoped_env.h"
#include "utt_host.h"

namespace le::test {
namespace {

struct LogCapture {
  LogCapture() { le_log_set(&LogCapture::sink, this); }
  ~LogCapture() { le_log_set(nullptr, nullptr); }
  static void sink(const char* line, void* self) {
    auto* me = static_cast<LogCapture*>(self);
    std::lock_guard<std::mutex> lock(me->mu);
    me->lines.emplace_back(line);
  }
  std::string find(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(mu);
    for (const auto& l : lines) {
      if (l.rfind(prefix, 0) == 0) return l;
    }
    return "";
  }
  std::mutex mu;
  std::vector<std::string> lines;
};

// Runs one utterance with LE_UTT_PIPELINE_PASTE set to `pipelined` and returns the speech frames.
std::vector<std::vector<uint8_t>> speechFrames(const char* pipelined, const std::string& motionDir) {
  ScopedEnv paste("LE_UTT_PIPELINE_PASTE", pipelined);
  CtxPtr ctx = openSession();
  UttPtr utt(le_utt_open(ctx.get(), motionDir.c_str()));
  EXPECT_EQ(waitReady(utt.get()), 1) << le_utt_last_error();
  const auto pcm = sentencePcm("counting");
  le_utt_push_audio(utt.get(), pcm.data(), int(pcm.size()));
  le_utt_end_utterance(utt.get());
  std::vector<std::vector<uint8_t>> frames, speech;
  const auto got = pullUntil(
      utt.get(), frameBytesOf(ctx.get()), 400,
      [](auto& v) { return countKind(v, 1) > 0 && v.back().kind == 0; }, &frames);
  for (size_t i = 0; i < got.size(); ++i) {
    if (got[i].kind == 1) speech.push_back(frames[i]);
  }
  return speech;
}

class UttPasteStage : public ::testing::Test {
 protected:
  ScopedEnv w2v{"W2V_ONNX", (fixture("speech") + "/w2v_8s.onnx").c_str()};
  ScopedEnv report{"LE_UTT_STAGE_REPORT", "1"};
};

TEST_F(UttPasteStage, PasteThreadDeliversTheSameFramesAsTheProducer) {
  LogCapture log;
  const auto pipelined = speechFrames("1", fixture("test"));
  const std::string line = log.find("[le_utt-stage] pipe=0 jobsB=0 jobsC=");
  EXPECT_NE(line, "");
  EXPECT_NE(line.find(" over " + std::to_string(pipelined.size()) + " speech frames"), std::string::npos) << line;
  const auto plain = speechFrames("0", fixture("test"));
  ASSERT_FALSE(plain.empty());
  EXPECT_EQ(pipelined, plain);
}

TEST_F(UttPasteStage, WithoutThePasteThreadTheReportMeasuredNothing) {
  LogCapture log;
  const auto plain = speechFrames("0", fixture("test"));
  const std::string line = log.find("[le_utt-stage] MEASURED NOTHING");
  EXPECT_NE(line.find("(pipe=0 jobsB=0 jobsC=0, " + std::to_string(plain.size()) + " speech frames delivered)"),
            std::string::npos)
      << line;
}

// The motion generator's default is the producer's own paste; the variable turns the thread on.
TEST_F(UttPasteStage, VariableTurnsThePasteThreadOnForTheMotionGenerator) {
  LogCapture log;
  const auto frames = speechFrames("1", fixture("motion-test"));
  EXPECT_FALSE(frames.empty());
  EXPECT_NE(log.find("[le_utt-stage] pipe=0 jobsB=0 jobsC="), "");
}

}  // namespace
}  // namespace le::test
