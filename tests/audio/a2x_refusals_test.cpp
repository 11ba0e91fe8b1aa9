// Every refusal of creation, of the frontend and of the offline call, reached from a baked variant
// or an environment setting, read through le_a2x_last_error; and the diagnostic lines of the
// frontend's choices.
#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "audio/a2x_host.h"
#include "le/le.h"
#include "support/scoped_env.h"
#include "support/log_capture.h"

namespace le::test {
namespace {

struct RefusalCase {
  const char* name;
  const char* bundle;
  const char* w2v;  // speech folder, a path, or nullptr to unset W2V_ONNX
  std::vector<std::pair<const char*, const char*>> env;
  const char* error;
};

class A2xCreateRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(A2xCreateRefusal, NamesTheReason) {
  const RefusalCase& c = GetParam();
  const std::string w2v = c.w2v && c.w2v[0] != '/' ? encoderOf(c.w2v) : (c.w2v ? c.w2v : "");
  ScopedEnv encoder("W2V_ONNX", c.w2v ? w2v.c_str() : nullptr);
  std::vector<std::unique_ptr<ScopedEnv>> env;
  for (const auto& [name, value] : c.env) {
    const std::string v = std::string(value).find("speech/") == 0 ? fixture(value) : value;
    env.push_back(std::make_unique<ScopedEnv>(name, v.c_str()));
  }
  A2xPtr a(le_a2x_create(fixture(c.bundle).c_str(), 1));
  EXPECT_FALSE(a);
  EXPECT_EQ(std::string(le_a2x_last_error()), std::string(c.error));
}

const char* const kWindowTrunk = "speech/audio_encoder_fp16_window_trunk.onnx";
const char* const kWindowHead = "speech/audio_encoder_fp16_window_head.onnx";

INSTANTIATE_TEST_SUITE_P(
    Variants, A2xCreateRefusal,
    testing::Values(
        RefusalCase{"NoLeft", "test-a2x-no-left", "speech", {},
                    "le_a2x_create: meta lacks causal window/left (not a streaming a2x)"},
        RefusalCase{"Norm125", "test-a2x-norm125", "speech", {}, "le_a2x_create: pos/norm/xs_target read failed"},
        RefusalCase{"PosShort", "test-a2x-pos-short", "speech", {}, "le_a2x_create: pos/norm/xs_target read failed"},
        RefusalCase{"NoW2v", "test", nullptr, {}, "le_a2x_create: $W2V_ONNX not set"},
        RefusalCase{"W2vMissing", "test", "/nonexistent/w2v_8s.onnx", {}, "le_a2x_create: shared w2v load failed"},
        RefusalCase{"PrimeWithoutThe8sEncoder",
                    "test-a2x-silence-prime",
                    "/nonexistent/w2v_8s.onnx",
                    {{"LE_A2X_W2V_WIN_ONNX", kWindowTrunk}, {"LE_A2X_W2V_HEAD_ONNX", kWindowHead}},
                    "le_a2x_create: shared w2v load failed (silence_prime)"},
        RefusalCase{"CudaOnACpuRuntime", "test", "speech", {{"LE_A2X_CUDA", "1"}},
                    "le_a2x_create: shared w2v load failed"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

TEST(A2xCreate, AMissingMetaNamesTheRoot) {
  ScopedEnv encoder("W2V_ONNX", encoderOf("speech").c_str());
  A2xPtr a(le_a2x_create(fixture("test-a2x-no-meta").c_str(), 1));
  EXPECT_FALSE(a);
  EXPECT_EQ(std::string(le_a2x_last_error()), "le_a2x_create: a2x_meta.json missing in " + fixture("test-a2x-no-meta"));
}

class A2xExtendRefusal : public testing::TestWithParam<std::pair<const char*, const char*>> {};

// A trunk too short for the frame positions, or a right context that pushes them before the
// trunk window, fails the computation; pulling hands out nothing and says why.
TEST_P(A2xExtendRefusal, TrunkPositionOutOfRange) {
  ScopedEnv encoder("W2V_ONNX", encoderOf(GetParam().first).c_str());
  ScopedEnv right("LE_A2X_W2V_RIGHT", GetParam().second);
  A2xPtr a = openA2x(fixture("test"));
  ASSERT_TRUE(a);
  const std::vector<float> speech = utterance("fox");
  const Pulled p = runLive(a.get(), speech, 5120);
  EXPECT_EQ(p.frames(), 0u);
  EXPECT_STREQ(le_a2x_last_error(), "le_a2x extend: w2v_win: trunk pos out of range");
}

INSTANTIATE_TEST_SUITE_P(Settings, A2xExtendRefusal,
                         testing::Values(std::make_pair("speech-short-trunk", "12"), std::make_pair("speech", "60")),
                         [](const auto& info) { return paramName(std::string(info.param.first) + "_right" + info.param.second); });

TEST(A2xPreload, NeedsAPathOrTheVariable) {
  ScopedEnv encoder("W2V_ONNX", nullptr);
  EXPECT_EQ(le_a2x_preload_w2v(nullptr), 0);
  EXPECT_STREQ(le_a2x_last_error(), "le_a2x_preload_w2v: no path and $W2V_ONNX unset");
  EXPECT_EQ(le_a2x_preload_w2v(""), 0);
}

TEST(A2xPreload, ASecondPathKeepsTheFirstEncoder) {
  ScopedEnv encoder("W2V_ONNX", nullptr);
  EXPECT_EQ(le_a2x_preload_w2v(encoderOf("speech").c_str()), 1);
  EXPECT_EQ(le_a2x_preload_w2v("/nonexistent/w2v_8s.onnx"), 1);
  EXPECT_STREQ(le_a2x_last_error(), "");
}

struct LineCase {
  const char* name;
  const char* bundle;
  const char* speech;
  std::vector<std::pair<const char*, const char*>> env;
  std::vector<const char*> lines;
  int width;
};

class A2xFrontendLines : public testing::TestWithParam<LineCase> {};

TEST_P(A2xFrontendLines, CreationSucceedsAndSaysWhatItServes) {
  const LineCase& c = GetParam();
  LogCapture log;
  ScopedEnv encoder("W2V_ONNX", encoderOf(c.speech).c_str());
  std::vector<std::unique_ptr<ScopedEnv>> env;
  for (const auto& [name, value] : c.env) env.push_back(std::make_unique<ScopedEnv>(name, value));
  A2xPtr a = openA2x(fixture(c.bundle));
  ASSERT_TRUE(a);
  EXPECT_EQ(le_a2x_width(a.get()), c.width);
  for (const char* line : c.lines) EXPECT_TRUE(log.saw(line)) << line << " not among:\n" << log.all();
  const Pulled p = runLive(a.get(), utterance("hello"), 2000);
  EXPECT_EQ(p.frames(), (utterance("hello").size() + 639) / 640);
  EXPECT_STREQ(le_a2x_last_error(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Variants, A2xFrontendLines,
    testing::Values(
        LineCase{"ShortWindow", "test", "speech", {},
                 {"[le_a2x] live cadence: block-320 (one trunk window per 8 frames), push-size invariant, threads=1",
                  "[le_a2x] short-window w2v frontend loaded (LT=400) trunk="},
                 0},
        LineCase{"LegacyNames", "test", "speech-legacy-names", {}, {"w2v_trunk32.onnx ("}, 0},
        LineCase{"DynamicTrunkAxis", "test", "speech-lt-dynamic", {}, {"short-window w2v frontend loaded (LT="}, 0},
        LineCase{"HeadUnsetSearchesBeside", "test", "speech", {{"LE_A2X_W2V_WIN_ONNX", "/nonexistent/trunk.onnx"}},
                 {"audio_encoder_fp16_window_trunk.onnx ("}, 0},
        LineCase{"Legacy", "test", "speech-legacy", {}, {"short-window audio frontend NOT DEPLOYED"}, 0},
        LineCase{"WidthMismatch", "test-a2x-width-mismatch", "speech", {},
                 {"[le_a2x] WARNING: a2x_meta width=1 but the encoder declares 1 output(s)"}, 0},
        LineCase{"SilencePrime", "test-a2x-silence-prime", "speech", {},
                 {"[le_a2x] silence-primed AR state cached (20 frames)"}, 0},
        LineCase{"SilencePrimeCapped", "test", "speech", {{"LE_A2X_SILENCE_PRIME", "500"}},
                 {"[le_a2x] silence-primed AR state cached (200 frames)"}, 0},
        LineCase{"Wn", "test-a2x-wn", "speech", {}, {"short-window w2v frontend loaded"}, 1}),
    [](const testing::TestParamInfo<LineCase>& info) { return info.param.name; });

TEST(A2xCuda, AskingForCudaNeverTouchesTheBundlesOwnNetworks) {
  // With the 8 s encoder loaded before the variable is set, creation needs no new encoder session:
  // the encoder and decoder open on the CPU whatever LE_A2X_CUDA says.
  ScopedEnv encoder("W2V_ONNX", encoderOf("speech-legacy").c_str());
  ASSERT_EQ(le_a2x_preload_w2v(nullptr), 1);
  ScopedEnv cuda("LE_A2X_CUDA", "1");
  A2xPtr a = openA2x(fixture("test"));
  EXPECT_TRUE(a);
}

}  // namespace
}  // namespace le::test
