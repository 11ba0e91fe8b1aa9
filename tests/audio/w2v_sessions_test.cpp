// Finding the short-window pair beside the encoder, and the CUDA option's rules.
#include "audio/w2v_options.h"
#include "audio/w2v_sessions.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace le::w2v {
namespace {

using le::test::ScopedEnv;
using le::test::TempDir;
using le::test::writeFile;

TEST(W2vPairSearch, TakesTheFirstRowWhoseTwoFilesOpen) {
  TempDir dir;
  writeFile(dir / "w2v_trunk32.onnx", "t");
  writeFile(dir / "w2v_head32.onnx", "h");
  writeFile(dir / "audio_encoder_fp16_window_trunk.onnx", "t");  // its head is missing
  std::string trunk, head;
  ASSERT_TRUE(findPairBeside(dir / "enc.onnx", trunk, head));
  EXPECT_EQ(trunk, dir / "w2v_trunk32.onnx");
  EXPECT_EQ(head, dir / "w2v_head32.onnx");

  writeFile(dir / "audio_encoder_fp16_window_head.onnx", "h");
  ASSERT_TRUE(findPairBeside(dir / "enc.onnx", trunk, head));
  EXPECT_EQ(trunk, dir / "audio_encoder_fp16_window_trunk.onnx");
  EXPECT_EQ(head, dir / "audio_encoder_fp16_window_head.onnx");
}

TEST(W2vPairSearch, APathWithoutASlashSearchesTheCurrentDirectory) {
  TempDir dir;
  writeFile(dir / "w2v_trunk32.onnx", "t");
  writeFile(dir / "w2v_head32.onnx", "h");
  char old[4096];
  ASSERT_TRUE(getcwd(old, sizeof old));
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  std::string trunk, head;
  const bool found = findPairBeside("enc.onnx", trunk, head);
  ASSERT_EQ(chdir(old), 0);
  EXPECT_TRUE(found);
  EXPECT_EQ(trunk, "./w2v_trunk32.onnx");
  EXPECT_FALSE(findPairBeside("", trunk, head));
}

struct MemCase {
  const char* value;
  uint64_t mib;
};

class W2vCudaMemory : public testing::TestWithParam<MemCase> {};

TEST_P(W2vCudaMemory, LimitIsTheVariableWhenPositiveElse3072) {
  ScopedEnv mem("LE_A2X_CUDA_MEM_MIB", GetParam().value);
  EXPECT_EQ(cudaMemLimitMib(), GetParam().mib);
}

INSTANTIATE_TEST_SUITE_P(Values, W2vCudaMemory,
                         testing::Values(MemCase{nullptr, 3072}, MemCase{"0", 3072}, MemCase{"-5", 3072},
                                         MemCase{"abc", 3072}, MemCase{"512", 512}, MemCase{"1", 1}),
                         [](const testing::TestParamInfo<MemCase>& info) {
                           return info.param.value ? "value" + std::to_string(info.index) : std::string("unset");
                         });

TEST(W2vCuda, AppliesOnlyToTheSpeechEncodersWhenAskedWithExactly1) {
  {
    ScopedEnv cuda("LE_A2X_CUDA", "1");
    EXPECT_TRUE(cudaApplies("w2v"));
    EXPECT_FALSE(cudaApplies("enc/dec"));
  }
  for (const char* value : {"0", "11", "yes", ""}) {
    ScopedEnv cuda("LE_A2X_CUDA", value);
    EXPECT_FALSE(cudaApplies("w2v")) << value;
  }
}

TEST(W2vCuda, ARuntimeWithoutCudaRefusesTheOptionsInsteadOfCrashing) {
  ScopedEnv cuda("LE_A2X_CUDA", "1");
  EXPECT_THROW(encoderSessionOptions(1, "w2v"), std::exception);
  EXPECT_NO_THROW(encoderSessionOptions(1, "enc/dec"));
}

}  // namespace
}  // namespace le::w2v
