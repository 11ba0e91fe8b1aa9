// The motion directory reader: meta.json keys and the exact-size rule of the raw tables.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/motion_dir.h"
#include "audio/speech_frontend.h"

namespace le::audio {
namespace {

struct MetaCase {
  const char* name;
  const char* text;
  const char* error;  // nullptr: parses
};

class Meta : public ::testing::TestWithParam<MetaCase> {};

TEST_P(Meta, ParsesOrNamesTheFault) {
  const MetaCase& c = GetParam();
  if (!c.error) {
    EXPECT_NO_THROW(parseMotionMeta(c.text));
    return;
  }
  try {
    parseMotionMeta(c.text);
    FAIL() << "parsed";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), c.error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Meta,
    ::testing::Values(
        MetaCase{"complete", R"({"nt": 12, "n_src": 12, "n_emo": 3, "s_bridge": 0.5, "delta_pitch": 2})", nullptr},
        MetaCase{"missing_n_emo", R"({"nt": 12, "n_src": 12, "s_bridge": 0.5})", "meta.json: missing n_emo"},
        MetaCase{"missing_s_bridge", R"({"nt": 12, "n_src": 12, "n_emo": 1})", "meta.json: missing s_bridge"},
        MetaCase{"no_colon", R"({"nt": 12, "n_src": 12, "n_emo": 1, "s_bridge")", "meta.json: bad s_bridge"},
        MetaCase{"n_src_differs", R"({"nt": 12, "n_src": 11, "n_emo": 1, "s_bridge": 1})",
                 "le_motion: n_src != nt unsupported"},
        MetaCase{"zero_emotions", R"({"nt": 12, "n_src": 12, "n_emo": 0, "s_bridge": 1})", "meta.json: bad n_emo"},
        MetaCase{"fractional_nt", R"({"nt": 2.5, "n_src": 2.5, "n_emo": 1, "s_bridge": 1})", "meta.json: bad nt"},
        // Found by fuzzing: an infinite or NaN gain was read and turned every stitched keypoint into NaN.
        MetaCase{"s_bridge_past_float_range", R"({"nt": 12, "n_src": 12, "n_emo": 3, "s_bridge": 1e309})",
                 "meta.json: bad s_bridge"},
        MetaCase{"s_bridge_nan", R"({"nt": 12, "n_src": 12, "n_emo": 3, "s_bridge": nan})", "meta.json: bad s_bridge"},
        MetaCase{"delta_pitch_inf", R"({"nt": 1, "n_src": 1, "n_emo": 1, "s_bridge": 1, "delta_pitch": -inf})",
                 "meta.json: bad delta_pitch"},
        MetaCase{"s_bridge_largest_float", R"({"nt": 1, "n_src": 1, "n_emo": 1, "s_bridge": 3.4028234e38})",
                 nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Meta, DeltaPitchDefaultsToZeroAndValuesAreRead) {
  const MotionMeta m = parseMotionMeta(R"({"s_bridge": -0.25, "n_emo": 4, "n_src": 7, "nt": 7})");
  EXPECT_EQ(m.nt, 7);
  EXPECT_EQ(m.nEmo, 4);
  EXPECT_FLOAT_EQ(m.sBridge, -0.25f);
  EXPECT_EQ(m.deltaPitch, 0.0f);
}

class ExactFloats : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("le_motion_dir_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string writeBytes(const char* name, size_t bytes) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << std::string(bytes, '\0');
    return path;
  }

  std::string error(const std::string& path, size_t expected) {
    try {
      readExactFloats(path, expected);
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return "";
  }

  std::filesystem::path dir_;
};

TEST_F(ExactFloats, EachFaultHasItsMessage) {
  const std::string missing = (dir_ / "absent.bin").string();
  EXPECT_EQ(error(missing, 2), "cannot open " + missing);
  const std::string shorter = writeBytes("short.bin", 8);
  EXPECT_EQ(error(shorter, 3), shorter + ": 2 floats, expected 3");
  const std::string longer = writeBytes("long.bin", 16);
  EXPECT_EQ(error(longer, 3), longer + ": 4 floats, expected 3");
  const std::string ragged = writeBytes("ragged.bin", 13);
  EXPECT_EQ(error(ragged, 3), ragged + ": 3.25 floats, expected 3");
  const std::string directory = (dir_ / "a_directory.bin").string();
  std::filesystem::create_directory(directory);
  EXPECT_EQ(error(directory, 3), directory + " is a directory, not a regular file");
}

// A FIFO in a table's place used to block the engine's creation until a writer came, and a link to
// /dev/zero was read for as many floats as meta.json claimed.
TEST_F(ExactFloats, FifoAndDeviceAreRefusedWithoutReading) {
  const std::string fifo = (dir_ / "fifo.bin").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(error(fifo, 3), fifo + " is a special file, not a regular file");
  const std::string zero = (dir_ / "zero.bin").string();
  std::filesystem::create_symlink("/dev/zero", zero);
  EXPECT_EQ(error(zero, size_t(1) << 40), zero + " is a special file, not a regular file");
}

TEST_F(ExactFloats, ReadsTheLittleEndianValues) {
  const std::string path = (dir_ / "v.bin").string();
  const float values[3] = {1.5f, -2.0f, 3.25f};
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(values), sizeof values);
  EXPECT_EQ(readExactFloats(path, 3), std::vector<float>(values, values + 3));
}

TEST(WindowThreshold, WindowWNeeds4480Plus640WSamples) {
  for (int64_t w : {0, 5, 10, 75, 1000}) {
    EXPECT_FALSE(windowAudioReady(4479 + 640 * w, w)) << w;
    EXPECT_TRUE(windowAudioReady(4480 + 640 * w, w)) << w;
  }
}

}  // namespace
}  // namespace le::audio
