#include "driver/ff_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "driver/driver_cursor.h"
#include "simd/half.h"
#include "driver/movie_decoder_build.h"
#include "test_media.h"
#include "test_util.h"

namespace le::driver {
namespace {

using test::DriverMedia;
using test::driverMedia;
using test::errorOf;
using test::ScopedEnv;

constexpr int kNT = DriverMedia::kNT, kW = DriverMedia::kW, kH = DriverMedia::kH;
constexpr size_t kFrame = size_t(kW) * kH * 3;

std::vector<std::vector<uint8_t>> readAll(Source& src) {
  std::vector<std::vector<uint8_t>> frames;
  std::vector<uint8_t> buf(size_t(src.frameBytes()));
  while (src.next(buf.data())) frames.push_back(buf);
  return frames;
}

float toFloat(uint16_t h) {
  float f;
  le::halfToFloat(&h, &f, 1);
  return f;
}

// The conversion agrees with FFmpeg's own decoding of the member, frame by frame.
TEST(FfSource, DriverFramesMatchFfmpegsOwnDecoding) {
  const auto reference = test::readBytes(driverMedia().h264ByFfmpeg());
  auto src = openMp4(driverMedia().h264(), kNT, kW, kH);
  const auto frames = readAll(*src);
  ASSERT_EQ(frames.size(), size_t(kNT));
  for (int i = 0; i < kNT; ++i) {
    const test::Diff d = test::diff(frames[i].data(), reference.data() + i * kFrame, kFrame);
    EXPECT_LT(d.mean, 1.0) << "frame " << i;
    EXPECT_LE(d.max, 3) << "frame " << i;
  }
}

TEST(FfSource, PriorPlanesHoldLevelsOver255MatchingThePattern) {
  constexpr int kS = DriverMedia::kSide;
  const auto truth = test::readBytes(driverMedia().priorRgb());
  auto src = openPriorHevc(driverMedia().prior(), kNT, kS);
  ASSERT_EQ(src->frameBytes(), int64_t(kS) * kS * 3 * 2);
  const auto frames = readAll(*src);
  ASSERT_EQ(frames.size(), size_t(kNT));
  const size_t plane = size_t(kS) * kS;
  std::vector<uint8_t> levels(plane * 3);
  for (int i = 0; i < kNT; ++i) {
    const uint16_t* planes = reinterpret_cast<const uint16_t*>(frames[i].data());
    for (size_t p = 0; p < plane; ++p) {
      for (int c = 0; c < 3; ++c) {
        const float v = toFloat(planes[c * plane + p]) * 255.0f;
        const float level = std::round(v);
        ASSERT_NEAR(v, level, 0.07f);  // every value is some level / 255
        levels[p * 3 + c] = uint8_t(level);
      }
    }
    const test::Diff d = test::diff(levels.data(), truth.data() + i * plane * 3, plane * 3);
    EXPECT_LT(d.mean, 2.0) << "frame " << i;
  }
}

TEST(FfSource, SeekIsFrameExactInBothDirections) {
  auto src = openMp4(driverMedia().h264(), kNT, kW, kH);
  const auto frames = readAll(*src);
  std::vector<uint8_t> buf(kFrame);
  for (int target : {5, 4, 0, 11, 3, 3, 7}) {
    src->seek(target);
    ASSERT_TRUE(src->next(buf.data()));
    EXPECT_EQ(buf, frames[target]) << "seek to " << target;
  }
}

TEST(FfSource, RewindAfterTheEndDeliversTheMemberAgain) {
  auto src = openMp4(driverMedia().h264(), kNT, kW, kH);
  const auto first = readAll(*src);
  std::vector<uint8_t> buf(kFrame);
  EXPECT_FALSE(src->next(buf.data()));
  src->rewind();
  EXPECT_EQ(readAll(*src), first);
}

TEST(FfSource, NamesTheLoadedDecoderAndCountsItsMemory) {
  auto drv = openMp4(driverMedia().h264(), kNT, kW, kH);
  auto pri = openPriorHevc(driverMedia().prior(), kNT, DriverMedia::kSide);
  if (drv->name().find("cuvid") == std::string::npos) {
    EXPECT_EQ(drv->name(), "mp4/libavcodec " + libavcodecVersion() + " h264");
    std::vector<uint8_t> buf(kFrame);
    ASSERT_TRUE(drv->next(buf.data()));
    const int64_t pictures = int64_t(kW) * kH * 3 / 2 * (4 + 5);
    EXPECT_GT(drv->residentBytes(), pictures);  // plus the largest packet seen
    EXPECT_LT(drv->residentBytes(), pictures + int64_t(kFrame));
  }
  EXPECT_EQ(pri->name(), "hevc444/libavcodec " + libavcodecVersion() + " hevc");
}

TEST(FfSource, DecoderBuildReportsLoadedAndCompiledVersions) {
  const unsigned v = avcodec_version();
  const std::string loaded = std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xff) +
                             "." + std::to_string(v & 0xff);
  const std::string built = std::to_string(LIBAVCODEC_VERSION_MAJOR) + "." +
                            std::to_string(LIBAVCODEC_VERSION_MINOR) + "." +
                            std::to_string(LIBAVCODEC_VERSION_MICRO);
  EXPECT_EQ(movieDecoderBuild(), "libavcodec " + loaded + " (built against " + built + ") / " +
                                     avcodec_configuration());
}

struct Refusal {
  const char* label;
  std::function<void()> act;
  std::function<std::string()> message;
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.label; }

class FfSourceRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(FfSourceRefusal, SaysWhatIsWrong) {
  EXPECT_EQ(errorOf(GetParam().act), GetParam().message());
}

void firstFrame(std::unique_ptr<Source> src) {
  std::vector<uint8_t> buf(size_t(src->frameBytes()));
  src->next(buf.data());
}

INSTANTIATE_TEST_SUITE_P(
    Members, FfSourceRefusal,
    ::testing::Values(
        Refusal{"wrongSize", [] { openMp4(driverMedia().h264(), kNT, 100, kH); },
                [] {
                  return "le_driver: " + driverMedia().h264() +
                         " is 96x64, the manifest says 100x64 — refusing to rescale the driver";
                }},
        Refusal{"wrongCount", [] { openMp4(driverMedia().h264(), kNT + 1, kW, kH); },
                [] {
                  return "le_driver: " + driverMedia().h264() +
                         " carries 12 frames, the manifest says NT=13 — member/manifest "
                         "mismatch, refusing";
                }},
        Refusal{"missingFile", [] { openMp4(driverMedia().dir + "/none.mp4", kNT, kW, kH); },
                [] {
                  return "le_driver: " + driverMedia().dir + "/none.mp4 is not a readable container";
                }},
        Refusal{"noVideo", [] { openMp4(driverMedia().audioOnly(), kNT, kW, kH); },
                [] { return "le_driver: " + driverMedia().audioOnly() + " has no video stream"; }},
        Refusal{"seekOutside", [] { openMp4(driverMedia().h264(), kNT, kW, kH)->seek(kNT); },
                [] { return std::string("le_driver: seek outside the member"); }},
        Refusal{"driverYuv444",
                [] { firstFrame(openMp4(driverMedia().h264Yuv444(), kNT, kW, kH)); },
                [] {
                  return "le_driver: " + driverMedia().h264Yuv444() +
                         " decoded to yuv444p, not the 4:2:0 layout the canvas conversion is "
                         "written for (yuv420p / nv12) — refusing rather than pasting onto a "
                         "different pixel domain";
                }},
        Refusal{"priorYuv420",
                [] {
                  firstFrame(openPriorHevc(driverMedia().priorYuv420(), kNT, DriverMedia::kSide));
                },
                [] {
                  return "le_driver: " + driverMedia().priorYuv420() +
                         " decoded to yuv420p, not the yuv444p a warp prior is authored in — a "
                         "subsampled prior is a different mouth, refusing";
                }}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(FfSource, HardwareDecoderOffIsSaidForEveryOpenedMember) {
  ScopedEnv off("LE_DRIVER_HWDEC", "0");
  ::testing::internal::CaptureStderr();
  auto drv = openMp4(driverMedia().h264(), kNT, kW, kH);
  auto pri = openPriorHevc(driverMedia().prior(), kNT, DriverMedia::kSide);
  const std::string err = ::testing::internal::GetCapturedStderr();
  const std::string line =
      "[le-driver] LE_DRIVER_HWDEC=0 — h264_cuvid not attempted; the software decoder is the one "
      "decoder on this fleet (same samples)\n";
  const size_t first = err.find(line);
  ASSERT_NE(first, std::string::npos) << err;
  EXPECT_NE(err.find(line, first + 1), std::string::npos) << err;
  EXPECT_EQ(drv->name(), "mp4/libavcodec " + libavcodecVersion() + " h264");
}

// Without the variable the hardware decoder is tried for H.264 drivers when this libavcodec has
// one; where it cannot open, the software decoder takes over and says so. Priors never try it.
TEST(FfSource, HardwareDecoderFallsBackToSoftware) {
  ScopedEnv unset("LE_DRIVER_HWDEC", std::nullopt);
  ::testing::internal::CaptureStderr();
  auto drv = openMp4(driverMedia().h264(), kNT, kW, kH);
  auto pri = openPriorHevc(driverMedia().prior(), kNT, DriverMedia::kSide);
  const std::string err = ::testing::internal::GetCapturedStderr();
  const std::string refused = "[le-driver] h264_cuvid refused " + driverMedia().h264() +
                              " — falling back to the software h264 decoder (same samples, "
                              "more CPU)\n";
  const bool registered = avcodec_find_decoder_by_name("h264_cuvid") != nullptr;
  if (drv->name().find("cuvid") != std::string::npos) GTEST_SKIP() << "a hardware decoder opened";
  EXPECT_EQ(err.find(refused) != std::string::npos, registered) << err;
  EXPECT_EQ(err.find("[le-driver]"), err.rfind("[le-driver]")) << "one line at most: " << err;
}

TEST(FfSource, ShortMovieFailsTheCursorAtItsMissingFrame) {
  auto cursor = DriverCursor::over(openMp4(driverMedia().shortMkv(), kNT, kW, kH), 2, 3);
  std::vector<uint8_t> buf(kFrame);
  for (int i = 0; i < kNT - 1; ++i) ASSERT_EQ(cursor->pull(buf.data()), i);
  const std::string expected = "le_driver: " + cursor->name() +
                               " ended after 11 frames, the manifest says NT=12 — a short driver "
                               "is a session that stops part way through the loop, refusing";
  EXPECT_EQ(errorOf([&] { cursor->pull(buf.data()); }), expected);
  EXPECT_EQ(errorOf([&] { cursor->pullAt(0, buf.data()); }), expected);
}

// Looping and backward jumps through the cursor reproduce the member's frames byte for byte.
TEST(FfSource, CursorLoopsAndSeeksTheMovieFrameExactly) {
  auto plain = openMp4(driverMedia().h264(), kNT, kW, kH);
  const auto frames = readAll(*plain);
  auto cursor = DriverCursor::over(openMp4(driverMedia().h264(), kNT, kW, kH), 2, 2);
  std::vector<uint8_t> buf(kFrame);
  for (int k = 0; k < 2 * kNT + 3; ++k) {
    const int si = cursor->pull(buf.data());
    ASSERT_EQ(si, k % kNT);
    ASSERT_EQ(buf, frames[si]);
  }
  for (int target : {9, 8, 1, 10}) {
    ASSERT_EQ(cursor->pullAt(target, buf.data()), target);
    ASSERT_EQ(buf, frames[target]);
  }
  EXPECT_EQ(cursor->seeks(), 4);
}

}  // namespace
}  // namespace le::driver
