// The teeth borrow on a running pipeline, on its own thread and inline on the producer: the attach
// and its refusals, an utterance delivered whole through the borrow, interrupts that drop the held
// frame, and the teeth exports without a borrow.
#include "support/scoped_env.h"
#include "teeth_host.h"
#include "utt_host.h"

namespace le::test {
namespace {

// test-crop128: the 64-pixel test bundle's bank cannot tell its compose geometry apart on purpose.
constexpr const char* kTeethBundle = "test-crop128";

class UttTeeth : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ctx = openSession(kTeethBundle);
    ASSERT_TRUE(ctx);
    bytes = frameBytesOf(ctx.get());
    le_utt_opts opts = optsFor(dir);
    opts.idleEndSeconds = -1;
    utt.reset(le_utt_create(ctx.get(), &opts));
    ASSERT_TRUE(utt) << le_utt_last_error();
    ASSERT_EQ(waitReady(utt.get()), 1) << le_utt_last_error();
  }
  ScopedEnv w2v{"W2V_ONNX", (fixture("speech") + "/w2v_8s.onnx").c_str()};
  ScopedEnv thread{"LE_UTT_TEETH_THREAD", GetParam()};
  std::string dir = fixture(kTeethBundle);
  CtxPtr ctx;
  UttPtr utt;
  size_t bytes = 0;
};

TEST_P(UttTeeth, AnUtteranceIsDeliveredWholeThroughTheBorrow) {
  std::string err;
  ASSERT_EQ(attachTeeth(utt.get(), fixture(kTeethBundle), &err), 0) << err;
  char geometry[32] = "";
  EXPECT_EQ(le_utt_tessera_geometry(utt.get(), geometry, sizeof geometry), 1);
  EXPECT_STREQ(geometry, "v1");
  const auto pcm = sentencePcm("fox");
  ASSERT_EQ(le_utt_push_audio(utt.get(), pcm.data(), int(pcm.size())), 1);
  le_utt_end_utterance(utt.get());
  // Speech, the ramp, then idle: the idle frame drains the frame the borrow held.
  const auto got = pullUntil(utt.get(), bytes, 600, [](auto& v) { return v.back().kind == 0 && countKind(v, 1) > 0; });
  const int speech = countKind(got, 1);
  ASSERT_GT(speech, 10);
  int frameNo = -1;
  for (size_t i = 1; i < got.size(); ++i) {
    EXPECT_EQ(got[i].seq, got[i - 1].seq + 1) << "nothing lost or repeated";
    if (got[i].kind == 1) EXPECT_EQ(got[i].frameNo, ++frameNo);
  }
  EXPECT_EQ(countKind(got, 2), 6) << "the ramp follows the last speech frame";
  int64_t borrowed = 0, refused = -1;
  char text[256] = "x";
  EXPECT_EQ(le_utt_tessera_stats(utt.get(), &borrowed, &refused, text, sizeof text), 1) << text;
  EXPECT_GE(borrowed, speech);
  EXPECT_EQ(refused, 0);
  EXPECT_STREQ(text, "");
  double average = -1, last = -1;
  int64_t count = 0;
  EXPECT_EQ(le_utt_tessera_synth_w(utt.get(), &average, &last, &count), 1);
  EXPECT_GT(count, 0);
  EXPECT_EQ(average, 0.0) << "the synthesis weight takes no part in the blend";
}

TEST_P(UttTeeth, AnInterruptDropsTheHeldFrame) {
  ASSERT_EQ(attachTeeth(utt.get(), fixture(kTeethBundle)), 0);
  const auto pcm = sentencePcm("story");
  ASSERT_EQ(le_utt_push_audio(utt.get(), pcm.data(), int(pcm.size())), 1);
  const auto before = pullUntil(utt.get(), bytes, 400, [](auto& got) { return countKind(got, 1) == 5; });
  ASSERT_EQ(countKind(before, 1), 5);
  le_utt_interrupt(utt.get());
  const auto after = pullUntil(utt.get(), bytes, 20, [](auto& got) { return got.back().kind == 0; });
  ASSERT_FALSE(after.empty());
  EXPECT_EQ(countKind(after, 1), 0) << "no speech frame of the interrupted utterance comes after the interrupt";
  EXPECT_EQ(after.back().kind, 0);
  // The borrow serves the next utterance from a clean state.
  ASSERT_EQ(le_utt_push_audio(utt.get(), pcm.data(), 16000), 1);
  le_utt_end_utterance(utt.get());
  const auto next = pullUntil(utt.get(), bytes, 400, [](auto& v) { return v.back().kind == 0 && countKind(v, 1) > 0; });
  EXPECT_GT(countKind(next, 1), 0);
  EXPECT_EQ(le_utt_tessera_stats(utt.get(), nullptr, nullptr, nullptr, 0), 1);
}

INSTANTIATE_TEST_SUITE_P(Stage, UttTeeth, testing::Values("1", "0"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param) == "1" ? "TeethThread" : "Inline";
                         });

TEST(UttTeethAttach, RefusesBeforeReadingAndNamesTheCanvas) {
  ScopedEnv w2v{"W2V_ONNX", (fixture("speech") + "/w2v_8s.onnx").c_str()};
  CtxPtr ctx = openSession("test");
  ASSERT_TRUE(ctx);
  const std::string dir = fixture("test");
  le_utt_opts opts = optsFor(dir);
  UttPtr utt(le_utt_create(ctx.get(), &opts));
  ASSERT_TRUE(utt) << le_utt_last_error();
  // No borrow: the exports say so.
  char text[128] = "untouched";
  EXPECT_EQ(le_utt_tessera_geometry(utt.get(), text, sizeof text), 0);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(le_utt_tessera_stats(utt.get(), nullptr, nullptr, text, sizeof text), 0);
  EXPECT_EQ(le_utt_tessera_synth_w(utt.get(), nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(le_utt_tessera_geometry(nullptr, text, sizeof text), 0);
  // n_donors 0 is refused before any member is read: one byte stands for every array.
  const uint8_t byte = 0;
  const double one = 0;
  const int32_t stamp = 0;
  char err[256] = "";
  EXPECT_EQ(le_utt_tessera_attach(utt.get(), &byte, 0, &one, &one, &one, &stamp, &byte, 1, "", "", err, sizeof err), 1);
  EXPECT_STREQ(err, "le_utt_tessera_attach: n_donors <= 0");
  EXPECT_EQ(le_utt_tessera_attach(nullptr, &byte, 1, &one, &one, &one, &stamp, &byte, 1, "", "", err, sizeof err), 1);
  EXPECT_STREQ(err, "le_utt_tessera_attach: null session");
  EXPECT_EQ(le_utt_tessera_attach(utt.get(), &byte, 1, nullptr, &one, &one, &stamp, &byte, 1, "", "", err, sizeof err),
            1);
  EXPECT_STREQ(err,
               "le_utt_tessera_attach: a required member is null \xe2\x80\x94 this ABI has no partial-attach state");
  // A 128-pixel bank on a 64-pixel pipeline.
  std::string message;
  EXPECT_EQ(attachTeeth(utt.get(), fixture("test-crop128"), &message), 1);
  EXPECT_EQ(message, "le_utt_tessera_attach: bank canvas 128x128 != this bundle's render crop 64");
  EXPECT_EQ(le_utt_tessera_stats(utt.get(), nullptr, nullptr, text, sizeof text), 0) << "nothing was armed";
}

}  // namespace
}  // namespace le::test
