// Refusals of values that would otherwise crash or poison every frame, on copies of the test motion
// directory with one value changed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "motion_fixture.h"

namespace le::test {
namespace {

struct Patch {
  const char* name;
  const char* file;
  size_t floatIndex;  // value replaced (ignored for meta.json)
  float value;
  const char* meta;   // replaces meta.json when set
  std::string error;  // "$DIR" stands for the copy's path
};

class MotionPatchedDir : public ::testing::TestWithParam<Patch> {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("le_motion_patch_" + std::string(GetParam().name) + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::copy(motionDir("motion-test"), dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_P(MotionPatchedDir, CreateRefusesTheValue) {
  const Patch& p = GetParam();
  if (p.meta) {
    std::ofstream(dir_ / "meta.json", std::ios::trunc) << p.meta;
  } else {
    std::fstream f(dir_ / p.file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(p.floatIndex * sizeof(float)));
    f.write(reinterpret_cast<const char*>(&p.value), sizeof p.value);
  }
  MotionHandle h(dir_.string());
  EXPECT_EQ(h.m, nullptr);
  std::string expected = p.error;
  if (const size_t at = expected.find("$DIR"); at != std::string::npos) expected.replace(at, 4, dir_.string());
  EXPECT_EQ(le_motion_last_error(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MotionPatchedDir,
    ::testing::Values(
        Patch{"source_scale_zero", "src_xs_info.bin", 258, 0.0f, nullptr,
              "le_motion_create: le_motion: src_xs_info.bin record 0 has scale 0"},
        Patch{"minimum_above_maximum", "v_min_max.bin", 7, 1e9f, nullptr,
              "le_motion_create: le_motion: $DIR/v_min_max.bin: minimum above maximum in dimension 7"},
        Patch{"no_emotion_rows", nullptr, 0, 0, R"({"nt": 12, "n_src": 12, "n_emo": 0, "s_bridge": 0.75})",
              "le_motion_create: meta.json: bad n_emo"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace le::test
