// The driver and prior members of baked bundles, opened the way a session opens them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "bundle/manifest.h"
#include "driver/driver_cursor.h"
#include "driver/jpg_dir_source.h"
#include "driver/load_image.h"
#include "simd/half.h"
#include "test_util.h"

namespace le {
namespace {

using test::errorOf;
using test::ScopedEnv;

Manifest fixture(const std::string& name) {
  return loadManifest(std::string(LE_TEST_FIXTURES) + "/" + name);
}

float toFloat(uint16_t h) {
  float f;
  le::halfToFloat(&h, &f, 1);
  return f;
}

TEST(BakedDriver, JpegAndH264MembersOfTheSameDriverAgree) {
  const Manifest m = fixture("test");
  auto jpg = DriverCursor::open(m, 2, 11);
  std::unique_ptr<DriverCursor> mp4;
  {
    ScopedEnv prefer("LE_DRIVER_PREFER_MP4", "1");
    mp4 = DriverCursor::open(m, 2, 11);
  }
  ASSERT_EQ(jpg->name(), "jpg/turbo");
  ASSERT_NE(mp4->name(), "jpg/turbo");
  const size_t n = size_t(jpg->frameBytes());
  for (int k = 0; k < m.NT + 1; ++k) {
    int a = -1, b = -1;
    const uint8_t* fa = jpg->pull(&a);
    const uint8_t* fb = mp4->pull(&b);
    ASSERT_EQ(a, k % m.NT);
    ASSERT_EQ(b, a);
    const test::Diff d = test::diff(fa, fb, n);
    EXPECT_LT(d.mean, 2.0) << "frame " << a;
    EXPECT_LT(d.max, 64) << "frame " << a;
  }
}

// libjpeg-turbo's decode of the baked JPEG frames differs from stb_image's only by the two
// decoders' rounding of the inverse DCT and colour conversion.
TEST(BakedDriver, TurboAndStbDecodesOfTheJpegFramesDifferByRoundingOnly) {
  const Manifest m = fixture("test");
  const std::string dir = m.root + "/target_frames";
  auto turbo = driver::openJpgDir(dir, m.NT, m.W, m.H);
  std::vector<uint8_t> ours(size_t(turbo->frameBytes()));
  double sum = 0;
  int worst = 0;
  for (int i = 0; i < m.NT; ++i) {
    ASSERT_TRUE(turbo->next(ours.data()));
    const std::string path = driver::JpgDirSource::framePath(dir, i);
    const std::vector<uint8_t> file = test::readBytes(path);
    const ImageRGB stb = decodeImageRGB(file.data(), file.size(), path);
    const test::Diff d = test::diff(ours.data(), stb.rgb.get(), ours.size());
    sum += d.mean;
    worst = std::max(worst, d.max);
  }
  EXPECT_LT(sum / m.NT, 0.1);  // 0.03 on this bundle and on the demo bundle's 1280x720 frames
  EXPECT_LE(worst, 3);
}

// A bundle carrying its prior both raw and as a movie: the played frames agree with the raw ones
// within the codec's error, plane for plane.
TEST(BakedPrior, PlayedMovieAgreesWithTheRawPrior) {
  const Manifest m = fixture("test-with-hevc");
  const std::vector<uint8_t> raw = test::readBytes(m.root + "/P.f16");
  const size_t frameValues = size_t(m.crop) * m.crop * 3;
  ASSERT_EQ(raw.size(), size_t(m.NT) * frameValues * 2);
  auto prior = DriverCursor::openPrior(m, 2, 11);
  ASSERT_EQ(prior->frameBytes(), int64_t(frameValues * 2));
  for (int i : {0, 1, 5, 11, 3}) {
    int si = -1;
    const uint16_t* played = reinterpret_cast<const uint16_t*>(prior->pullAt(i, &si));
    const uint16_t* stored = reinterpret_cast<const uint16_t*>(raw.data()) + i * frameValues;
    double sum = 0, worst = 0;
    for (size_t k = 0; k < frameValues; ++k) {
      const double e = std::abs(toFloat(played[k]) - toFloat(stored[k])) * 255.0;
      sum += e;
      worst = std::max(worst, e);
    }
    EXPECT_LT(sum / double(frameValues), 1.5) << "frame " << i;
    EXPECT_LT(worst, 48.0) << "frame " << i;  // FFmpeg's own decode reaches 40 at sharp edges
  }
}

struct Plays {
  const char* fixture;
  const char* preferMp4;
  bool movie;  // the video member plays, else the JPEG directory
};

void PrintTo(const Plays& p, std::ostream* os) { *os << p.fixture; }

class BakedDriverPlays : public ::testing::TestWithParam<Plays> {};

TEST_P(BakedDriverPlays, FromTheChosenMember) {
  const Plays& p = GetParam();
  ScopedEnv prefer("LE_DRIVER_PREFER_MP4",
                   p.preferMp4 ? std::optional<std::string>(p.preferMp4) : std::nullopt);
  const Manifest m = fixture(p.fixture);
  auto cursor = DriverCursor::open(m, 2, 11);
  EXPECT_EQ(cursor->name() != "jpg/turbo", p.movie);
  std::vector<uint8_t> frame(size_t(cursor->frameBytes()));
  for (int k = 0; k < m.NT + 1; ++k) ASSERT_EQ(cursor->pull(frame.data()), k % m.NT);
}

INSTANTIATE_TEST_SUITE_P(Bundles, BakedDriverPlays,
                         ::testing::Values(Plays{"test", nullptr, false},
                                           Plays{"test-descriptive", "1", true},
                                           Plays{"test-mp4-only", nullptr, true},
                                           Plays{"test-imx.imx", nullptr, false}),
                         [](const auto& info) {
                           std::string name = info.param.fixture;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

struct Refusal {
  const char* fixture;
  const char* preferMp4;
  bool prior;        // the prior cursor, else the driver cursor
  bool atFirstPull;  // the member opens and its first frame is refused
  std::string (*message)(const std::string& root);
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.fixture; }

class BakedDriverRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(BakedDriverRefusal, NamesTheMemberAndWhy) {
  const Refusal& r = GetParam();
  ScopedEnv prefer("LE_DRIVER_PREFER_MP4",
                   r.preferMp4 ? std::optional<std::string>(r.preferMp4) : std::nullopt);
  const Manifest m = fixture(r.fixture);
  const auto open = [&] {
    return r.prior ? DriverCursor::openPrior(m, 2, 11) : DriverCursor::open(m, 2, 11);
  };
  if (r.atFirstPull) {
    auto cursor = open();
    int si;
    EXPECT_EQ(errorOf([&] { cursor->pull(&si); }), r.message(m.root));
  } else {
    EXPECT_EQ(errorOf([&] { open(); }), r.message(m.root));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bundles, BakedDriverRefusal,
    ::testing::Values(
        Refusal{"test-short-driver", nullptr, false, false,
                [](const std::string& root) {
                  return "le_driver: " + root +
                         "/target_frames.mp4 carries 10 frames, the manifest says NT=12 — "
                         "member/manifest mismatch, refusing";
                }},
        // The first frame's header is read when the cursor opens, before its ring is sized.
        Refusal{"test-wrong-size-driver", nullptr, false, false,
                [](const std::string& root) {
                  return "le_driver: " + root +
                         "/target_frames/frame_000000.jpg is 128x120, the manifest says 160x120 "
                         "— refusing";
                }},
        Refusal{"test-wrong-size-driver", "1", false, false,
                [](const std::string& root) {
                  return "le_driver: " + root +
                         "/target_frames.mp4 is 128x120, the manifest says 160x120 — refusing "
                         "to rescale the driver";
                }},
        Refusal{"test-prior-yuv420", nullptr, true, true,
                [](const std::string& root) {
                  return "le_driver: " + root +
                         "/P_hevc.mov decoded to yuv420p, not the yuv444p a warp prior is "
                         "authored in — a subsampled prior is a different mouth, refusing";
                }},
        Refusal{"test-no-prior", nullptr, true, false, [](const std::string& root) {
                  return "this bundle carries neither a raw P.f16 nor P_hevc.mov (" + root +
                         "/P_hevc.mov) — there is no warp prior to play. REFUSING to create a "
                         "session.";
                }}),
    [](const auto& info) {
      std::string name = std::string(info.param.fixture) + (info.param.preferMp4 ? "_mp4" : "");
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

}  // namespace
}  // namespace le
