// Sessions and prior rows as a host sees them, on baked bundles.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/session.h"
#include "le/le.h"
#include "pool/pool.h"
#include "support/temp_dir.h"

using le::test::TempDir;
using le::test::writeFile;

namespace {

std::string fixture(const std::string& name) { return std::string(LE_TEST_FIXTURES) + "/" + name; }

// A private copy of a baked bundle that a test may damage.
std::string copyOf(const std::string& name, const TempDir& dir) {
  std::string to = dir / name;
  std::filesystem::copy(fixture(name), to, std::filesystem::copy_options::recursive);
  return to;
}

std::string createError(const std::string& bundle) {
  testing::internal::CaptureStderr();
  le_ctx* ctx = le_create(bundle.c_str(), "b1", 0, nullptr);
  testing::internal::GetCapturedStderr();
  le_destroy(ctx);
  return ctx ? "" : le_last_error();
}

}  // namespace

class SessionOpens : public testing::TestWithParam<const char*> {};

TEST_P(SessionOpens, EveryBundleFormGivesTheSameDimensions) {
  testing::internal::CaptureStderr();
  le_ctx* ctx = le_create(fixture(GetParam()).c_str(), "b1", 0, nullptr);
  testing::internal::GetCapturedStderr();
  ASSERT_NE(ctx, nullptr) << le_last_error();
  EXPECT_STREQ(le_last_error(), "");
  EXPECT_EQ(le_nt(ctx), 12);
  EXPECT_EQ(le_width(ctx), 160);
  EXPECT_EQ(le_height(ctx), 120);
  EXPECT_EQ(le_crop(ctx), 64);
  EXPECT_EQ(le_drive_frames(ctx), 8);
  le_destroy(ctx);
}

INSTANTIATE_TEST_SUITE_P(Forms, SessionOpens,
                         testing::Values("test", "test-descriptive", "test-imx.imx", "test-imx", "test-mp4-only",
                                         "test-hevc-prior", "test-featsynth", "test-manifest-aliases"));

TEST(Session, ArgumentsThreadsAndExecutionProvider) {
  EXPECT_EQ(le_create(fixture("test").c_str(), nullptr, 0, nullptr), nullptr);
  EXPECT_STREQ(le_last_error(), "le_create: NULL bundle_dir/model_key");
  EXPECT_EQ(le_create(nullptr, "b1", 0, nullptr), nullptr);
  EXPECT_STREQ(le_last_error(), "le_create: NULL bundle_dir/model_key");

  le_ctx* dflt = le_create(fixture("test").c_str(), "b1", 0, nullptr);
  ASSERT_NE(dflt, nullptr);
  EXPECT_STREQ(le_last_error(), "");
  EXPECT_EQ(dflt->threads, le::pool::threads());
  EXPECT_FALSE(dflt->threadsExplicit);
  EXPECT_EQ(dflt->ep, "");
  EXPECT_EQ(dflt->modelKey, "b1");
  EXPECT_EQ(dflt->frame.size(), 160u * 120u * 3u);
  le_ctx* three = le_create(fixture("test").c_str(), "b4", 3, "cpu");
  ASSERT_NE(three, nullptr);
  EXPECT_EQ(three->threads, le::pool::capAtHardware(3));
  EXPECT_TRUE(three->threadsExplicit);
  EXPECT_EQ(three->ep, "cpu");
  le_destroy(three);
  le_destroy(dflt);

  EXPECT_EQ(le_nt(nullptr), 0);
  EXPECT_EQ(le_width(nullptr), 0);
  EXPECT_EQ(le_height(nullptr), 0);
  EXPECT_EQ(le_crop(nullptr), 0);
  EXPECT_EQ(le_drive_frames(nullptr), 0);
  le_destroy(nullptr);
}

size_t processThreads() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<size_t>(std::distance(begin(tasks), end(tasks)));
}

class SessionThreadRequest : public testing::TestWithParam<int> {};

// A director's intra-op pool is built whole at its first run; thousands of threads took minutes
// and gigabytes before the first frame and again at le_destroy.
TEST_P(SessionThreadRequest, HugeRequestIsCappedAtTheHardwareThreads) {
  const unsigned hw = std::thread::hardware_concurrency();
  const int cap = hw > 0 ? static_cast<int>(hw) : GetParam();
  le_log_set([](const char*, void*) {}, nullptr);
  std::unique_ptr<le_ctx, void (*)(le_ctx*)> ctx(le_create(fixture("test").c_str(), "b1", GetParam(), nullptr),
                                                 &le_destroy);
  le_log_set(nullptr, nullptr);
  ASSERT_NE(ctx, nullptr) << le_last_error();
  // Checked before rendering: an uncapped director would take minutes to build its threads.
  ASSERT_EQ(ctx->threads, cap);
  EXPECT_TRUE(ctx->threadsExplicit);
  const size_t before = processThreads();
  const std::vector<float> kp(LE_HOST_KP_FLOATS, 0.1f);
  le_log_set([](const char*, void*) {}, nullptr);
  EXPECT_NE(le_render_kp_crop(ctx.get(), 0, kp.data(), kp.data()), nullptr) << le_last_error();
  le_log_set(nullptr, nullptr);
  EXPECT_LE(processThreads(), before + size_t(cap) + 4);
}

INSTANTIATE_TEST_SUITE_P(Requests, SessionThreadRequest, testing::Values(4000, 100000));

TEST(Session, ThreadBudgetIsSetThroughTheApi) {
  const int dflt = le_threads();
  EXPECT_EQ(dflt, le::pool::threads());
  EXPECT_EQ(le_set_threads(1), 1);
  EXPECT_EQ(le_threads(), 1);
  le_ctx* ctx = le_create(fixture("test").c_str(), "b1", 0, nullptr);
  ASSERT_NE(ctx, nullptr) << le_last_error();
  EXPECT_EQ(ctx->threads, 1);
  le_destroy(ctx);
  EXPECT_EQ(le_set_threads(1 << 30), le::pool::capAtHardware(1 << 30));
  EXPECT_EQ(le_set_threads(0), dflt);
  EXPECT_EQ(le_threads(), dflt);
}

TEST(Session, LoadFailuresReachTheHostAsText) {
  EXPECT_EQ(createError("/nonexistent"), "le_create: cannot open /nonexistent/manifest.json");
  const std::string noPrior = fixture("test-no-prior");
  EXPECT_EQ(createError(noPrior),
            "le_create: this bundle carries neither P.f16 nor fs_red.f16, and its manifest names no P_hevc member "
            "to play one from \xe2\x80\x94 the renderer has no warp prior and le::Identity would hand it a null "
            "pointer. REFUSING to create a session.");
  EXPECT_EQ(createError(fixture("test-no-stamp")).rfind("le_create: " + fixture("test-no-stamp") +
                                                           "/manifest.json declares no paste-space stamp",
                                                       0),
            0u);
  // The error of a failed creation is cleared by the next successful one.
  le_ctx* ok = le_create(fixture("test").c_str(), "b1", 0, nullptr);
  EXPECT_STREQ(le_last_error(), "");
  le_destroy(ok);
}

// One damaged copy of the test bundle per refusal; le_create reports each with its exact text.
struct Damage {
  const char* name;
  std::function<void(const std::string& bundle)> apply;
  std::function<std::string(const std::string& bundle)> expect;
};

void setManifestKey(const std::string& bundle, const std::string& from, const std::string& to) {
  std::string text = le::test::readFile(bundle + "/manifest.json");
  const size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  writeFile(bundle + "/manifest.json", text.replace(at, from.size(), to));
}

const std::string kDash = "\xe2\x80\x94";

const Damage kDamages[] = {
    {"ShortMask", [](const std::string& b) { writeFile(b + "/mask_512.u8", std::string(64 * 64 - 1, '\xff')); },
     [](const std::string&) { return std::string("le_create: mask read failed"); }},
    {"NoMask", [](const std::string& b) { std::filesystem::remove(b + "/mask_512.u8"); },
     [](const std::string&) { return std::string("le_create: mask read failed"); }},
    {"EvenKsize", [](const std::string& b) { setManifestKey(b, "\"ksize\": 13", "\"ksize\": 12"); },
     [](const std::string&) { return std::string("le_create: paste: ksize must be odd"); }},
    {"SiOutOfRange", [](const std::string& b) { writeFile(b + "/drive/si.i32", std::string(8 * 4, '\x7f')); },
     [](const std::string&) { return std::string("le_create: drive: si out of range"); }},
    {"LongDriveTable", [](const std::string& b) { writeFile(b + "/drive/xd.f32", std::string(8 * LE_HOST_KP_FLOATS * 4 + 4, 0)); },
     [](const std::string& b) {
       return "le_create: size mismatch " + b +
              "/drive/xd.f32: the file holds 2020 bytes, the manifest's frames 8 (x 63 floats) needs 2016";
     }},
    {"LongPooled", [](const std::string& b) { writeFile(b + "/pooled64.f16", std::string(12 * 131072 + 1, 0)); },
     [](const std::string& b) {
       return "le_create: size mismatch " + b +
              "/pooled64.f16: the file holds 1572865 bytes, the manifest's NT 12 (x 131072 bytes) needs 1572864";
     }},
    {"ShortM", [](const std::string& b) { writeFile(b + "/M.f32", std::string(12 * 6 * 4 - 4, 0)); },
     [](const std::string& b) {
       return "le_create: size mismatch " + b + "/M.f32: the file holds 284 bytes, the manifest's NT 12 (x 6 floats) needs 288";
     }},
    {"MissingHevcPrior",
     [](const std::string& b) {
       std::filesystem::remove(b + "/P.f16");
       setManifestKey(b, "\"agent\"", "\"P_hevc\": \"gone.mov\", \"agent\"");
     },
     [](const std::string& b) {
       return "le_create: this bundle's manifest names P_hevc 'gone.mov' and the file is not there (" + b +
              "/gone.mov) " + kDash + " the renderer has no warp prior. REFUSING to create a session.";
     }},
    {"NoDriverVideo",
     [](const std::string& b) {
       std::filesystem::remove_all(b + "/target_frames");
       std::filesystem::remove(b + "/target_frames.mp4");
     },
     [](const std::string& b) {
       return "le_create: this bundle carries neither a populated target_frames/ nor target_frames.mp4 (" + b +
              "/target_frames.mp4) " + kDash + " there is no driver video to play. REFUSING to create a session.";
     }},
    {"DriverMovieOfAnotherSize",
     [](const std::string& b) {
       std::filesystem::remove_all(b + "/target_frames");
       std::filesystem::copy_file(fixture("test-wrong-size-driver") + "/target_frames.mp4", b + "/target_frames.mp4",
                                  std::filesystem::copy_options::overwrite_existing);
     },
     [](const std::string& b) {
       return "le_create: le_driver: " + b + "/target_frames.mp4 is 128x120, the manifest says 160x120 " + kDash +
              " refusing to rescale the driver";
     }},
    // A tiny manifest declaring huge counts is refused by comparing them with the members' sizes,
    // before anything is allocated for them.
    {"HugeFrames", [](const std::string& b) { setManifestKey(b, "\"frames\": 8", "\"frames\": 40000000"); },
     [](const std::string&) {
       return std::string("le_create: manifest: frames 40000000 exceeds the limit of 2160000 frames (a day of video "
                          "at 25 fps)");
     }},
    {"HugeNT", [](const std::string& b) { setManifestKey(b, "\"NT\": 12", "\"NT\": 2000000000"); },
     [](const std::string&) {
       return std::string("le_create: manifest: NT 2000000000 exceeds the limit of 2160000 frames (a day of video "
                          "at 25 fps)");
     }},
    {"NTPastTheMembers", [](const std::string& b) { setManifestKey(b, "\"NT\": 12", "\"NT\": 2000000"); },
     [](const std::string& b) {
       return "le_create: size mismatch " + b +
              "/pooled64.f16: the file holds 1572864 bytes, the manifest's NT 2000000 (x 131072 bytes) needs "
              "262144000000";
     }},
    {"HugeW", [](const std::string& b) { setManifestKey(b, "\"W\": 160", "\"W\": 2000000000"); },
     [](const std::string&) {
       return std::string("le_create: manifest: W 2000000000 is larger than 16384, the largest image side a bundle "
                          "may declare");
     }},
    {"WOfNoDriverFrame", [](const std::string& b) { setManifestKey(b, "\"W\": 160", "\"W\": 16000"); },
     [](const std::string& b) {
       return "le_create: le_driver: " + b + "/target_frames/frame_000000.jpg is 160x120, the manifest says 16000x120 " +
              kDash + " refusing";
     }},
    // Numbers JSON cannot hold, which the scanner would still read.
    {"InfiniteAmount", [](const std::string& b) { setManifestKey(b, "\"amount\": 1.3", "\"amount\": inf"); },
     [](const std::string&) { return std::string("le_create: manifest: amount is not a finite number"); }},
    {"NanSigma", [](const std::string& b) { setManifestKey(b, "\"sigma\": 2.0", "\"sigma\": nan"); },
     [](const std::string&) { return std::string("le_create: manifest: sigma is not a finite number"); }},
    // Member names from the manifest stay inside the bundle.
    {"DriverDirectoryLeavesTheBundle",
     [](const std::string& b) { setManifestKey(b, "\"agent\"", "\"target_frames\": \"../../etc\", \"agent\""); },
     [](const std::string&) {
       return std::string("le_create: bundle: refusing member '../../etc': a '..' component would leave the bundle "
                          "root");
     }},
    {"DriverMovieIsADevice",
     [](const std::string& b) { setManifestKey(b, "\"agent\"", "\"target_frames_mp4\": \"/dev/zero\", \"agent\""); },
     [](const std::string&) {
       return std::string("le_create: bundle: refusing member '/dev/zero': a member name is a path relative to the "
                          "bundle root, not an absolute one");
     }},
    {"PriorMovieLeavesTheBundle",
     [](const std::string& b) {
       std::filesystem::remove(b + "/P.f16");
       setManifestKey(b, "\"agent\"", "\"P_hevc\": \"../../../etc/passwd\", \"agent\"");
     },
     [](const std::string&) {
       return std::string("le_create: bundle: refusing member '../../../etc/passwd': a '..' component would leave "
                          "the bundle root");
     }},
    {"MaskIsALinkOut",
     [](const std::string& b) {
       std::filesystem::remove(b + "/mask_512.u8");
       std::filesystem::create_symlink("/dev/zero", b + "/mask_512.u8");
     },
     [](const std::string& b) {
       return "le_create: bundle: refusing member 'mask_512.u8': it resolves to /dev/zero, outside the bundle directory " +
              std::filesystem::canonical(b).string() + " (a link leaves the bundle)";
     }},
    {"DriverFrameIsALinkOut",
     [](const std::string& b) {
       const std::string frame = b + "/target_frames/frame_000000.jpg";
       std::filesystem::rename(frame, b + "/../frame_000000.jpg");
       std::filesystem::create_symlink("../../frame_000000.jpg", frame);
     },
     [](const std::string& b) {
       return "le_create: bundle: refusing member 'target_frames/frame_000000.jpg': it resolves to " +
              std::filesystem::canonical(b + "/../frame_000000.jpg").string() + ", outside the bundle directory " +
              std::filesystem::canonical(b).string() + " (a link leaves the bundle)";
     }},
    {"ZeroStamp", [](const std::string& b) { setManifestKey(b, "\"M_src_w\": 160", "\"M_src_w\": 0"); },
     [](const std::string&) {
       return std::string("le_create: manifest: bad paste-space stamp (M_src_w/M_src_h must be > 0)");
     }},
};

class SessionRefuses : public testing::TestWithParam<Damage> {};

TEST_P(SessionRefuses, DamagedBundleWithItsExactText) {
  TempDir dir;
  const std::string bundle = copyOf("test", dir);
  GetParam().apply(bundle);
  EXPECT_EQ(createError(bundle), GetParam().expect(bundle));
}

INSTANTIATE_TEST_SUITE_P(Damages, SessionRefuses, testing::ValuesIn(kDamages),
                         [](const testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

// The compositor pastes crops of at most 1024 pixels a side; a bundle declaring more is refused
// when the session opens, not at every paste. A bundle without a raw prior carries no member sized
// by the crop but the mask, so only the compositor can refuse it.
TEST(Session, CropOverTheCompositorsLimitIsRefusedAtCreate) {
  TempDir dir;
  const std::string bundle = copyOf("test-featsynth", dir);
  std::filesystem::remove(bundle + "/P.f16");
  setManifestKey(bundle, "\"crop\": 64", "\"crop\": 2048");
  writeFile(bundle + "/mask_512.u8", std::string(2048 * 2048, '\xff'));
  EXPECT_EQ(createError(bundle),
            "le_create: paste: side > 1024: a face crop of 2048 pixels is larger than the compositor pastes");
}

TEST(Session, MaskLongerThanCropSquaredIsRead) {
  TempDir dir;
  std::string bundle = copyOf("test", dir);
  writeFile(bundle + "/mask_512.u8", std::string(64 * 64 + 1, '\xff'));
  EXPECT_EQ(createError(bundle), "");
}

// Run under AddressSanitizer, this finds anything a creation leaves behind, failed or not.
TEST(Session, HundredCreateDestroyCyclesIncludingFailures) {
  TempDir dir;
  std::string broken = copyOf("test", dir);
  writeFile(broken + "/mask_512.u8", "short");
  const std::string good = fixture("test"), prior = fixture("test-hevc-prior");
  for (int i = 0; i < 100; ++i) {
    const std::string& bundle = i % 3 == 0 ? good : i % 3 == 1 ? prior : broken;
    le_ctx* ctx = le_create(bundle.c_str(), "b1", 1, nullptr);
    EXPECT_EQ(ctx != nullptr, i % 3 != 2) << i << " " << le_last_error();
    le_destroy(ctx);
  }
}

TEST(Prior, RowsOfAPlayedPrior) {
  EXPECT_EQ(le_prior_open(nullptr, 2, 2), nullptr);
  EXPECT_STREQ(le_last_error(), "le_prior_open: NULL bundle_dir");
  EXPECT_STREQ(le_prior_backend(nullptr), "");
  EXPECT_EQ(le_prior_row_bytes(nullptr), 0u);
  le_prior_close(nullptr);

  le_prior* prior = le_prior_open(fixture("test-hevc-prior").c_str(), 0, -5);
  ASSERT_NE(prior, nullptr) << le_last_error();
  const size_t bytes = le_prior_row_bytes(prior);
  EXPECT_EQ(bytes, 64u * 64u * 3u * 2u);
  EXPECT_STRNE(le_prior_backend(prior), "");

  std::vector<uint8_t> row(bytes, 0xAB);
  EXPECT_EQ(le_prior_row(prior, 3, row.data(), bytes - 1), 0);
  EXPECT_EQ(std::string(le_last_error()),
            "le_prior_row: cap " + std::to_string(bytes - 1) + " < row bytes " + std::to_string(bytes));
  EXPECT_EQ(row, std::vector<uint8_t>(bytes, 0xAB));
  EXPECT_EQ(le_prior_row(prior, 3, nullptr, bytes), 0);
  EXPECT_STREQ(le_last_error(), "le_prior_row: NULL prior/out");

  EXPECT_EQ(le_prior_row(prior, 3, row.data(), bytes), 1);
  EXPECT_STREQ(le_last_error(), "");
  EXPECT_NE(row, std::vector<uint8_t>(bytes, 0xAB));
  EXPECT_EQ(le_prior_row(prior, 99, row.data(), bytes), 0);
  EXPECT_EQ(std::string(le_last_error()).rfind("le_prior_row: le_driver: seek(99) outside [0,12)", 0), 0u)
      << le_last_error();
  EXPECT_EQ(le_prior_row(prior, 0, row.data(), bytes), 1);  // still usable after a failure
  le_prior_close(prior);

  EXPECT_EQ(le_prior_open(fixture("test-no-prior").c_str(), 2, 2), nullptr);
  EXPECT_EQ(std::string(le_last_error()).rfind("le_prior_open: ", 0), 0u);
}

// A bundle whose prior is the raw member P.f16 serves its rows from it: the row of frame t is the
// t-th block of the member, exactly as a session maps it.
TEST(Prior, RowsOfARawPriorAreTheBlocksOfPf16) {
  le_prior* prior = le_prior_open(fixture("test").c_str(), 2, 2);
  ASSERT_NE(prior, nullptr) << le_last_error();
  EXPECT_STREQ(le_prior_backend(prior), "mmap P.f16");
  const size_t bytes = le_prior_row_bytes(prior);
  ASSERT_EQ(bytes, 64u * 64u * 3u * 2u);
  const std::string raw = le::test::readFile(fixture("test") + "/P.f16");
  std::vector<uint8_t> row(bytes);
  for (int t : {0, 5, 11}) {
    ASSERT_EQ(le_prior_row(prior, t, row.data(), bytes), 1) << le_last_error();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(row.data()), bytes), raw.substr(size_t(t) * bytes, bytes)) << t;
  }
  EXPECT_EQ(le_prior_row(prior, 12, row.data(), bytes), 0);
  EXPECT_STREQ(le_last_error(), "le_prior_row: prior: frame 12 outside [0,12)");
  EXPECT_EQ(le_prior_row(prior, -1, row.data(), bytes), 0);
  EXPECT_STREQ(le_last_error(), "le_prior_row: prior: frame -1 outside [0,12)");
  le_prior_close(prior);
}

TEST(Prior, ABundleWithoutAPriorIsRefusedTruthfully) {
  TempDir dir;
  const std::string bundle = copyOf("test-featsynth", dir);
  std::filesystem::remove(bundle + "/P.f16");
  EXPECT_EQ(le_prior_open(bundle.c_str(), 2, 2), nullptr);
  EXPECT_EQ(std::string(le_last_error()),
            "le_prior_open: this bundle carries neither a raw P.f16 nor P_hevc.mov (" + bundle + "/P_hevc.mov) " +
                kDash + " there is no warp prior to play. REFUSING to create a session.");
}
