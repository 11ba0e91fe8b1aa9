// The live path through the C interface on baked bundles: the frames do not depend on push sizes,
// readiness advances in blocks, totals and pulls behave at their edges.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "audio/a2x_host.h"
#include "support/scoped_env.h"

namespace le::test {
namespace {

struct ModeCase {
  const char* name;
  const char* speech;
};

class A2xPushSizes : public testing::TestWithParam<ModeCase> {};

// Every push size gives the same bytes as pushing one sample at a time.
TEST_P(A2xPushSizes, FramesAreIdenticalWhateverThePushSizes) {
  ScopedEnv w2v("W2V_ONNX", encoderOf(GetParam().speech).c_str());
  const std::vector<float> speech = utterance("fox");
  A2xPtr a = openA2x(fixture("test"));
  ASSERT_TRUE(a);
  const Pulled reference = runLive(a.get(), speech, 1);
  ASSERT_EQ(reference.frames(), (speech.size() + 639) / 640);
  for (size_t pushSize : {size_t(160), size_t(641), size_t(5120), speech.size()}) {
    le_a2x_reset(a.get(), 0, 1, 1);
    const Pulled got = runLive(a.get(), speech, pushSize);
    ASSERT_EQ(got.frames(), reference.frames()) << pushSize;
    EXPECT_EQ(got.rows, reference.rows) << pushSize;
    EXPECT_EQ(0, std::memcmp(got.kp.data(), reference.kp.data(), got.kp.size() * sizeof(float)))
        << "push size " << pushSize << ": largest difference " << maxAbsDiff(got.kp, reference.kp);
  }
  EXPECT_STREQ(le_a2x_last_error(), "");
}

INSTANTIATE_TEST_SUITE_P(Frontends, A2xPushSizes,
                         testing::Values(ModeCase{"ShortWindow", "speech"}, ModeCase{"Legacy", "speech-legacy"}),
                         [](const testing::TestParamInfo<ModeCase>& info) { return info.param.name; });

// Legacy windows and no right context: the test bundle's look-ahead is 2 frames (2 layers x 1).
TEST(A2xReadiness, ABlockCountsFromIts4481stSample) {
  ScopedEnv w2v("W2V_ONNX", encoderOf("speech-legacy").c_str());
  ScopedEnv right("LE_A2X_W2V_RIGHT", "0");
  A2xPtr a = openA2x(fixture("test"));
  ASSERT_TRUE(a);
  const std::vector<float> speech = utterance("fox");
  ASSERT_EQ(le_a2x_push(a.get(), speech.data(), 4480), 1);
  EXPECT_EQ(le_a2x_avail(a.get()), 0);
  ASSERT_EQ(le_a2x_push(a.get(), speech.data() + 4480, 1), 1);
  EXPECT_EQ(le_a2x_avail(a.get()), 6);
  for (int have = 4481; have < 9600;) {
    const int add = std::min(37, 9600 - have);
    ASSERT_EQ(le_a2x_push(a.get(), speech.data() + have, add), 1);
    have += add;
    ASSERT_EQ(le_a2x_avail(a.get()), 6) << have;
  }
  EXPECT_STREQ(le_a2x_last_error(), "");
}

TEST(A2xStream, TotalIsUnknownUntilFinishThenCountsThePartialFrame) {
  ScopedEnv w2v("W2V_ONNX", encoderOf("speech").c_str());
  A2xPtr a = openA2x(fixture("test"));
  ASSERT_TRUE(a);
  const std::vector<float> speech = utterance("hello");
  le_a2x_push(a.get(), speech.data(), 641);
  EXPECT_EQ(le_a2x_total(a.get()), -1);
  le_a2x_finish(a.get());
  EXPECT_EQ(le_a2x_total(a.get()), 2);
  Pulled out;
  pullReady(a.get(), out, 8);
  EXPECT_EQ(out.frames(), 2u);
  int32_t row = -7;
  EXPECT_EQ(le_a2x_pull(a.get(), &row, nullptr, nullptr, 0), 0);
  EXPECT_EQ(row, -7);
  EXPECT_EQ(le_a2x_pull(a.get(), &row, nullptr, nullptr, 4), 0);
}

TEST(A2xStream, ResetWithANegativeStartContinuesTheWalk) {
  ScopedEnv w2v("W2V_ONNX", encoderOf("speech").c_str());
  A2xPtr a = openA2x(fixture("test"));
  ASSERT_TRUE(a);
  const int nt = le_a2x_nt(a.get());
  ASSERT_GE(nt, 2);
  EXPECT_EQ(le_a2x_reset(a.get(), 1, -1, 0), -1);
  const std::vector<float> speech = utterance("hello");
  const Pulled first = runLive(a.get(), speech, 5120);
  ASSERT_GT(first.frames(), 3u);
  // The walk bounces: row(t) = |1 - t| folded into [0, nt - 1].
  EXPECT_EQ(first.rows[0], 1);
  EXPECT_EQ(first.rows[1], 0);
  EXPECT_EQ(first.rows[2], 1);
  const int period = 2 * (nt - 1);
  const int g = int((1 - int64_t(first.frames())) % period + period) % period;
  const int next = g <= nt - 1 ? g : period - g;
  EXPECT_EQ(le_a2x_reset(a.get(), -1, 1, 1), 1);
  const Pulled second = runLive(a.get(), speech, 5120);
  ASSERT_FALSE(second.rows.empty());
  EXPECT_EQ(second.rows[0], next);
}

TEST(A2xStream, NullObjectAndBadArgumentsAreRefusedWithoutACrash) {
  EXPECT_EQ(le_a2x_push(nullptr, nullptr, 5), 0);
  EXPECT_STREQ(le_a2x_last_error(), "le_a2x_push: bad args");
  EXPECT_EQ(le_a2x_avail(nullptr), 0);
  EXPECT_EQ(le_a2x_pull(nullptr, nullptr, nullptr, nullptr, 5), 0);
  EXPECT_EQ(le_a2x_total(nullptr), 0);
  EXPECT_EQ(le_a2x_reset(nullptr, 0, 1, 1), 0);
  EXPECT_EQ(le_a2x_nt(nullptr), 0);
  EXPECT_EQ(le_a2x_width(nullptr), 0);
  le_a2x_finish(nullptr);
  le_a2x_set_eager(nullptr, 1);
  le_a2x_destroy(nullptr);
  EXPECT_EQ(le_a2x_create(nullptr, 1), nullptr);
  EXPECT_STREQ(le_a2x_last_error(), "le_a2x_create: NULL bundle");
  EXPECT_EQ(le_a2x_w2v8_lazy(), 1);
}

}  // namespace
}  // namespace le::test
