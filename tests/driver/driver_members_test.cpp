#include "driver/driver_members.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "bundle/manifest.h"
#include "driver/driver_cursor.h"
#include "driver/movie_decoder_build.h"
#include "test_media.h"
#include "test_util.h"

namespace le::driver {
namespace {

namespace fs = std::filesystem;
using test::DriverMedia;
using test::driverMedia;
using test::errorOf;
using test::ScopedEnv;

// A bundle directory holding the members a case asks for, removed with the object.
class Bundle {
 public:
  explicit Bundle(const std::string& extraKeys = "") {
    std::string tmpl = (fs::temp_directory_path() / "le-driver-bundle-XXXXXX").string();
    root_ = mkdtemp(tmpl.data());
    std::ofstream(root_ + "/manifest.json")
        << "{\"format\": \"le-bundle-v0\", \"agent\": \"test\", \"NT\": 12, \"W\": 96, "
           "\"H\": 64, \"crop\": 64, \"amount\": 1.3, \"sigma\": 2.0, \"ksize\": 13, "
           "\"frames\": 0, \"M_src_w\": 96, \"M_src_h\": 64"
        << extraKeys << "}";
  }
  ~Bundle() { fs::remove_all(root_); }

  // The JPEG frames 0..count-1 under dir.
  Bundle& jpg(const std::string& dir = "target_frames", int count = DriverMedia::kNT) {
    fs::create_directories(root_ + "/" + dir);
    for (int i = 0; i < count; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "/frame_%06d.jpg", i);
      fs::copy_file(driverMedia().jpgDir() + name, root_ + "/" + dir + name);
    }
    return *this;
  }
  // A copy, not a link: a member linked out of the bundle is refused.
  Bundle& member(const std::string& from, const std::string& name) {
    fs::copy_file(from, root_ + "/" + name);
    return *this;
  }
  Bundle& movie(const std::string& name = "target_frames.mp4") {
    return member(driverMedia().h264(), name);
  }
  Manifest manifest() const { return loadManifest(root_); }
  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

std::string mp4Name() { return "mp4/libavcodec " + libavcodecVersion() + " h264"; }

struct Choice {
  const char* label;
  std::function<void(Bundle&)> stage;
  const char* preferMp4;  // nullptr: unset
  std::string keys;       // extra manifest keys
  std::string backend;    // "jpg" or "mp4"
  std::vector<std::string> lines;    // stderr must hold each
  std::vector<std::string> noLines;  // and none of these
};

void PrintTo(const Choice& c, std::ostream* os) { *os << c.label; }

const std::string kJpgLine =
    "[le-driver] target_frames/ (raw jpg, 12 frames) — read one frame per pull\n";
const std::string kNotUsed =
    "[le-driver] LE_DRIVER_PREFER_MP4=1 — target_frames/ is populated and NOT used; "
    "target_frames.mp4 is the member this consumer reads\n";
const std::string kInPlace = "[le-driver] target_frames.mp4 decoded IN PLACE (";

class DriverMemberChoice : public ::testing::TestWithParam<Choice> {};

TEST_P(DriverMemberChoice, PlaysTheChosenMemberAndSaysSo) {
  const Choice& c = GetParam();
  Bundle b(c.keys);
  c.stage(b);
  ScopedEnv prefer("LE_DRIVER_PREFER_MP4",
                   c.preferMp4 ? std::optional<std::string>(c.preferMp4) : std::nullopt);
  ScopedEnv hw("LE_DRIVER_HWDEC", "0");
  ::testing::internal::CaptureStderr();
  auto cursor = DriverCursor::open(b.manifest(), 0, -1);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(cursor->name(), c.backend == "jpg" ? "jpg/turbo" : mp4Name());
  for (const std::string& line : c.lines) EXPECT_NE(err.find(line), std::string::npos) << err;
  for (const std::string& line : c.noLines) EXPECT_EQ(err.find(line), std::string::npos) << err;
  int si = -1;
  cursor->pull(&si);
  EXPECT_EQ(si, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Bundles, DriverMemberChoice,
    ::testing::Values(
        Choice{"populatedDirectoryWins", [](Bundle& b) { b.jpg().movie(); }, nullptr, "", "jpg",
               {kJpgLine}, {kNotUsed, kInPlace}},
        Choice{"directoryWithoutLastFrameIsNotPopulated",
               [](Bundle& b) { b.jpg("target_frames", DriverMedia::kNT - 1).movie(); }, nullptr,
               "", "mp4",
               {kInPlace + mp4Name() + ", 12 frames 96x64, look-ahead 1, history 0) — no frame "
                                       "of the driver is expanded ahead of the paste\n"},
               {kJpgLine}},
        Choice{"preferMp4WithBoth", [](Bundle& b) { b.jpg().movie(); }, "1", "", "mp4",
               {kNotUsed, kInPlace}, {kJpgLine}},
        Choice{"preferMp4WithDirectoryOnly", [](Bundle& b) { b.jpg(); }, "1", "", "jpg",
               {kJpgLine}, {kNotUsed}},
        Choice{"preferMp4OnlyWhenExactlyOne", [](Bundle& b) { b.jpg().movie(); }, "yes", "",
               "jpg", {kJpgLine}, {kNotUsed}},
        Choice{"manifestNamesBothMembers",
               [](Bundle& b) { b.jpg("frames_a").jpg().movie("drv.mp4"); }, "1",
               R"(, "target_frames": "frames_a", "target_frames_mp4": "drv.mp4")", "mp4",
               {"[le-driver] LE_DRIVER_PREFER_MP4=1 — frames_a/ is populated and NOT used; "
                "drv.mp4 is the member this consumer reads\n",
                "[le-driver] drv.mp4 decoded IN PLACE ("},
               {}},
        Choice{"emptyOrNonStringNamesKeepTheDefaults",
               [](Bundle& b) { b.jpg("target_frames", 3).movie(); }, nullptr,
               R"(, "target_frames": "", "target_frames_mp4": 7)", "mp4", {kInPlace}, {}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(DriverMemberChoice, RefusesABundleWithoutDriverVideo) {
  Bundle b;
  b.jpg("target_frames", 5);
  EXPECT_EQ(errorOf([&] { DriverCursor::open(b.manifest(), 2, 11); }),
            "this bundle carries neither a populated target_frames/ nor target_frames.mp4 (" +
                b.root() +
                "/target_frames.mp4) — there is no driver video to play. REFUSING to create a "
                "session.");
}

TEST(PriorMemberChoice, PlaysTheDescriptiveMemberAndSaysSo) {
  Bundle b;
  b.member(driverMedia().prior(), "source_frames.hevc");
  ScopedEnv hw("LE_DRIVER_HWDEC", std::nullopt);
  ::testing::internal::CaptureStderr();
  auto cursor = DriverCursor::openPrior(b.manifest(), 2, 11);
  const std::string err = ::testing::internal::GetCapturedStderr();
  const std::string backend = "hevc444/libavcodec " + libavcodecVersion() + " hevc";
  EXPECT_EQ(cursor->name(), backend);
  EXPECT_EQ(cursor->frameBytes(), 64 * 64 * 3 * 2);
  EXPECT_NE(err.find("Zentrova: identity source ready — 12 frames 64x64, played straight from "
                     "P_hevc.mov (" + backend + "); nothing is unpacked to disk\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(err.find("[le-driver]"), std::string::npos) << err;
}

TEST(PriorMemberChoice, ManifestNameOverridesAndMissingMemberIsRefused) {
  Bundle named(R"(, "P_hevc": "prior_x.mov")");
  named.member(driverMedia().prior(), "prior_x.mov");
  EXPECT_EQ(DriverCursor::openPrior(named.manifest(), 2, 11)->NT(), 12);

  Bundle none(R"(, "P_hevc": "prior_y.mov")");
  EXPECT_EQ(errorOf([&] { DriverCursor::openPrior(none.manifest(), 2, 11); }),
            "this bundle carries neither a raw P.f16 nor prior_y.mov (" + none.root() +
                "/prior_y.mov) — there is no warp prior to play. REFUSING to create a session.");
}

}  // namespace
}  // namespace le::driver
