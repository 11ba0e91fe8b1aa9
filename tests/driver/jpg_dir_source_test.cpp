#include "driver/jpg_dir_source.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "driver/driver_cursor.h"
#include "support/temp_dir.h"
#include "test_media.h"
#include "test_util.h"

namespace le::driver {
namespace {

using test::DriverMedia;
using test::driverMedia;
using test::errorOf;

constexpr int kNT = DriverMedia::kNT, kW = DriverMedia::kW, kH = DriverMedia::kH;
constexpr size_t kFrame = size_t(kW) * kH * 3;

TEST(JpgDirSource, DeliversEveryFrameThenEnds) {
  const auto truth = test::readBytes(driverMedia().rgb());
  auto src = openJpgDir(driverMedia().jpgDir(), kNT, kW, kH);
  EXPECT_EQ(src->name(), "jpg/turbo");
  EXPECT_EQ(src->residentBytes(), 0);  // no file touched yet
  std::vector<uint8_t> buf(kFrame);
  uintmax_t largestFile = 0;
  for (int i = 0; i < kNT; ++i) {
    ASSERT_TRUE(src->next(buf.data()));
    EXPECT_LT(test::diff(buf.data(), truth.data() + i * kFrame, kFrame).mean, 3.0) << i;
    largestFile = std::max(largestFile, std::filesystem::file_size(JpgDirSource::framePath(driverMedia().jpgDir(), i)));
  }
  EXPECT_GE(src->residentBytes(), int64_t(largestFile));  // the compressed frame's buffer
  EXPECT_FALSE(src->next(buf.data()));
  src->seek(7);
  ASSERT_TRUE(src->next(buf.data()));
  EXPECT_LT(test::diff(buf.data(), truth.data() + 7 * kFrame, kFrame).mean, 3.0);
  src->rewind();
  ASSERT_TRUE(src->next(buf.data()));
  EXPECT_LT(test::diff(buf.data(), truth.data(), kFrame).mean, 3.0);
}

TEST(JpgDirSource, RefusesAFrameOfAnotherSize) {
  auto src = openJpgDir(driverMedia().jpgDir(), kNT, kW, kH + 2);
  std::vector<uint8_t> buf(size_t(src->frameBytes()));
  EXPECT_EQ(errorOf([&] { src->next(buf.data()); }),
            "le_driver: " + driverMedia().jpgDir() +
                "/frame_000000.jpg is 96x64, the manifest says 96x66 — refusing");
}

TEST(JpgDirSource, MissingFrameAndOutOfRangeSeekThrow) {
  auto src = openJpgDir(driverMedia().dir + "/nowhere", kNT, kW, kH);
  std::vector<uint8_t> buf(kFrame);
  EXPECT_EQ(errorOf([&] { src->next(buf.data()); })
                .rfind("le_driver: cannot decode " + driverMedia().dir +
                           "/nowhere/frame_000000.jpg (", 0),
            0u);
  EXPECT_EQ(errorOf([&] { src->seek(kNT); }), "le_driver: seek outside the member");
  EXPECT_EQ(errorOf([&] { src->seek(-1); }), "le_driver: seek outside the member");
}

// A frame file claiming gigabytes (sparse here) is refused before a buffer of its size exists.
TEST(JpgDirSource, FrameFilePastTheLimitIsRefusedBeforeItIsRead) {
  const le::test::TempDir scratch;
  const std::string dir = scratch.path();
  const std::string frame = JpgDirSource::framePath(dir, 0);
  std::filesystem::copy_file(JpgDirSource::framePath(driverMedia().jpgDir(), 0), frame,
                             std::filesystem::copy_options::overwrite_existing);
  std::filesystem::resize_file(frame, uintmax_t(1) << 34);
  auto src = openJpgDir(dir, 1, kW, kH);
  std::vector<uint8_t> buf(kFrame);
  EXPECT_EQ(errorOf([&] { src->next(buf.data()); }),
            "le_driver: cannot decode " + frame +
                " (it holds 17179869184 bytes, more than the limit of 268435456 for a frame file)");
  EXPECT_EQ(src->residentBytes(), 0);
}

// A PNG file under a frame's name is decoded too (by stb_image), losslessly.
TEST(JpgDirSource, DecodesPngFramesUnderTheFrameNames) {
  const auto truth = test::readBytes(driverMedia().rgb());
  const std::string dir = testing::TempDir() + "/png_frames_" + std::to_string(::getpid());
  std::filesystem::create_directories(dir);
  test::run("ffmpeg -nostdin -hide_banner -loglevel error -y -f rawvideo -pix_fmt rgb24 -s " +
            std::to_string(kW) + "x" + std::to_string(kH) + " -i " + driverMedia().rgb() +
            " -frames:v 2 -c:v png -f image2 -start_number 0 " + dir + "/frame_%06d.jpg");
  auto src = openJpgDir(dir, 2, kW, kH);
  std::vector<uint8_t> buf(kFrame);
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(src->next(buf.data()));
    EXPECT_EQ(test::diff(buf.data(), truth.data() + i * kFrame, kFrame).max, 0) << i;
  }
  std::filesystem::remove_all(dir);
}

// The JPEG frames and the H.264 movie of the same footage agree within the codecs' error: the
// error each codec makes on the pattern (the H.264 one as FFmpeg's own decoder reports it, its
// 4:2:0 chroma included) plus one level.
TEST(JpgDirSource, AgreesWithTheH264MemberOfTheSameFrames) {
  const auto truth = test::readBytes(driverMedia().rgb());
  const auto h264Reference = test::readBytes(driverMedia().h264ByFfmpeg());
  auto jpg = DriverCursor::over(openJpgDir(driverMedia().jpgDir(), kNT, kW, kH), 2, 11);
  auto mp4 = DriverCursor::over(openMp4(driverMedia().h264(), kNT, kW, kH), 2, 11);
  for (int k = 0; k < kNT + 2; ++k) {
    int a = -1, b = -1;
    const uint8_t* fa = jpg->pull(&a);
    const uint8_t* fb = mp4->pull(&b);
    ASSERT_EQ(a, b);
    const uint8_t* t = truth.data() + a * kFrame;
    const double codecError = test::diff(t, fa, kFrame).mean +
                              test::diff(t, h264Reference.data() + a * kFrame, kFrame).mean;
    EXPECT_LE(test::diff(fa, fb, kFrame).mean, codecError + 1.0) << "frame " << a;
  }
}

}  // namespace
}  // namespace le::driver
