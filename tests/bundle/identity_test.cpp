#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "bundle/drive.h"
#include "bundle/identity.h"
#include "bundle/manifest.h"
#include "support/mini_bundle.h"

using le::test::bytesOf;
using le::test::MiniBundle;
using le::test::TempDir;
using le::test::writeFile;

namespace {

std::string identityError(const std::string& root) {
  try {
    le::Identity id(le::loadManifest(root));
    return "";
  } catch (const std::exception& e) {
    return e.what();
  }
}

std::string driveError(const std::string& root) {
  try {
    le::loadDrive(le::loadManifest(root));
    return "";
  } catch (const std::exception& e) {
    return e.what();
  }
}

const std::string kDash = "\xe2\x80\x94";

}  // namespace

TEST(Identity, MapsThePriorAndRescalesPasteTransformsToTheCanvas) {
  TempDir dir;
  MiniBundle b;
  b.W = 1920, b.H = 1080, b.msrcW = 1280, b.msrcH = 720;
  b.write(dir.path());
  le::Identity id(le::loadManifest(dir.path()));
  EXPECT_EQ(id.priorBackend(), "mmap P.f16");
  EXPECT_EQ(id.P(1)[0], 0x3c3c);
  EXPECT_EQ(id.P(1) - id.P(0), 4 * 4 * 3);
  EXPECT_EQ(id.pooled64(1) - id.pooled64(0), 65536);
  EXPECT_EQ(id.fsRed(0), nullptr);
  const float* m = id.M(1);
  EXPECT_FLOAT_EQ(m[0], 1.5f);
  EXPECT_FLOAT_EQ(m[2], 1.5f);
  EXPECT_FLOAT_EQ(m[4], 1.5f);
  EXPECT_FLOAT_EQ(m[5], 3.0f);
}

TEST(Identity, StampEqualToTheCanvasKeepsMBitForBit) {
  TempDir dir;
  MiniBundle().write(dir.path());
  std::vector<float> odd = {0.1f, 1e-30f, 3.3f, -7.7f, 0.3333333f, 2.0f, 5, 6, 7, 8, 9, 10};
  writeFile(dir / "M.f32", bytesOf(odd));
  le::Identity id(le::loadManifest(dir.path()));
  EXPECT_EQ(std::memcmp(id.M(0), odd.data(), odd.size() * 4), 0);
}

TEST(Identity, FsRedAloneLoadsWithoutAPrior) {
  TempDir dir;
  MiniBundle().write(dir.path());
  std::remove((dir / "P.f16").c_str());
  writeFile(dir / "feature_synth.f16", std::string(2 * 524288, '\0'));
  le::Identity id(le::loadManifest(dir.path()));
  EXPECT_EQ(id.priorBackend(), "none");
  EXPECT_EQ(id.P(0), nullptr);
  EXPECT_EQ(id.fsRed(1) - id.fsRed(0), 262144);
  EXPECT_EQ(id.priorSeeks(), 0);
}

TEST(Identity, RefusesBundlesWithoutAWarpPrior) {
  TempDir dir;
  MiniBundle b;
  b.write(dir.path());
  std::remove((dir / "P.f16").c_str());
  EXPECT_EQ(identityError(dir.path()),
            "this bundle carries neither P.f16 nor fs_red.f16, and its manifest names no P_hevc member to play one "
            "from " + kDash + " the renderer has no warp prior and le::Identity would hand it a null pointer. "
            "REFUSING to create a session.");

  b.extraKeys = ", \"P_hevc\": \"prior.mov\"";
  b.write(dir.path());
  std::remove((dir / "P.f16").c_str());
  EXPECT_EQ(identityError(dir.path()), "this bundle's manifest names P_hevc 'prior.mov' and the file is not there (" +
                                           (dir / "prior.mov") + ") " + kDash +
                                           " the renderer has no warp prior. REFUSING to create a session.");

  b.extraKeys = ", \"P_rgb\": \"prior_rgb.f16\"";
  b.write(dir.path());
  std::remove((dir / "P.f16").c_str());
  writeFile(dir / "prior_rgb.f16", "x");
  EXPECT_EQ(identityError(dir.path()),
            "this bundle's manifest names its raw warp prior 'prior_rgb.f16' (P_rgb) but le::Identity maps the "
            "welded name P.f16 and would find nothing " + kDash + " it maps NOTHING silently and Identity::P(si) is "
            "then an offset from a null pointer. REFUSING rather than rendering off a prior nothing will read.");
}

TEST(Identity, MembersOfTheWrongSizeAreRefused) {
  TempDir dir;
  MiniBundle().write(dir.path());
  writeFile(dir / "pooled64.f16", std::string(2 * 131072 + 1, '\0'));
  EXPECT_EQ(identityError(dir.path()), "size mismatch " + (dir / "pooled64.f16") +
                                         ": the file holds 262145 bytes, the manifest's NT 2 (x 131072 bytes) needs "
                                         "262144");
  MiniBundle().write(dir.path());
  writeFile(dir / "M.f32", std::string(13 * 4, '\0'));
  EXPECT_EQ(identityError(dir.path()), "size mismatch " + (dir / "M.f32") +
                                         ": the file holds 52 bytes, the manifest's NT 2 (x 6 floats) needs 48");
  MiniBundle().write(dir.path());
  writeFile(dir / "P.f16", std::string(10, '\0'));
  EXPECT_EQ(identityError(dir.path()), "size mismatch " + (dir / "P.f16") +
                                         ": the file holds 10 bytes, the manifest's NT 2 x crop 4 (x crop x 3 halves) "
                                         "needs 192");
  std::remove((dir / "M.f32").c_str());
  MiniBundle().write(dir.path());
  std::remove((dir / "pooled64.f16").c_str());
  EXPECT_EQ(identityError(dir.path()), "cannot open " + (dir / "pooled64.f16"));
}

TEST(Drive, ReadsTablesUnderEitherNameAndChecksSourceIndices) {
  TempDir dir;
  MiniBundle b;
  b.NT = 10;
  b.write(dir.path());
  writeFile(dir / "drive/si.i32", bytesOf(std::vector<int32_t>{0, 9}));
  le::Drive d = le::loadDrive(le::loadManifest(dir.path()));
  EXPECT_EQ(d.frames, 2);
  EXPECT_EQ(d.si, (std::vector<int32_t>{0, 9}));
  EXPECT_FLOAT_EQ(d.xd[62], 0.062f);

  writeFile(dir / "drive/si.i32", bytesOf(std::vector<int32_t>{0, 10}));
  EXPECT_EQ(driveError(dir.path()), "drive: si out of range");
  writeFile(dir / "drive/si.i32", bytesOf(std::vector<int32_t>{-1, 0}));
  EXPECT_EQ(driveError(dir.path()), "drive: si out of range");
  writeFile(dir / "drive/si.i32", bytesOf(std::vector<int32_t>{0, 1}));
  writeFile(dir / "drive/xs.f32", std::string(2 * 63 * 4 + 4, '\0'));
  EXPECT_EQ(driveError(dir.path()), "size mismatch " + (dir / "drive/xs.f32") +
                                      ": the file holds 508 bytes, the manifest's frames 2 (x 63 floats) needs 504");

  TempDir desc;
  b.write(desc.path());
  for (auto [from, to] : {std::pair{"drive/xs.f32", "idle_loop/source_keypoints.f32"},
                          {"drive/xd.f32", "idle_loop/driven_keypoints.f32"}, {"drive/si.i32", "idle_loop/source_index.i32"}}) {
    le::mkdirs(desc / "idle_loop");
    ASSERT_EQ(std::rename((desc / from).c_str(), (desc / to).c_str()), 0);
  }
  EXPECT_EQ(le::loadDrive(le::loadManifest(desc.path())).si, (std::vector<int32_t>{0, 1}));
}

TEST(Drive, ZeroFramesNeedsEmptyTables) {
  TempDir dir;
  MiniBundle b;
  b.frames = 0;
  b.write(dir.path());
  EXPECT_EQ(le::loadDrive(le::loadManifest(dir.path())).si.size(), 0u);
  writeFile(dir / "drive/si.i32", "1234");
  EXPECT_EQ(driveError(dir.path()), "size mismatch " + (dir / "drive/si.i32") +
                                      ": the file holds 4 bytes, the manifest's frames 0 (x 1 int32) needs 0");
}

// Declared counts are compared with the members' sizes before anything is allocated for them, so a
// few bytes of manifest cannot make the loader reserve gigabytes.
TEST(Drive, HugeDeclaredFramesAreRefusedBeforeAllocating) {
  TempDir dir;
  MiniBundle b;
  b.write(dir.path());
  b.frames = 2000000;
  writeFile(dir / "manifest.json", b.manifest());
  EXPECT_EQ(driveError(dir.path()), "size mismatch " + (dir / "drive/xs.f32") +
                                      ": the file holds 504 bytes, the manifest's frames 2000000 (x 63 floats) "
                                      "needs 504000000");
}

TEST(Identity, HugeDeclaredFrameCountIsRefusedBeforeAllocating) {
  TempDir dir;
  MiniBundle b;
  b.write(dir.path());
  std::remove((dir / "pooled64.f16").c_str());
  writeFile(dir / "pooled64.f16", "");
  b.NT = 2000000;
  writeFile(dir / "manifest.json", b.manifest());
  EXPECT_EQ(identityError(dir.path()), "size mismatch " + (dir / "pooled64.f16") +
                                         ": the file holds 0 bytes, the manifest's NT 2000000 (x 131072 bytes) "
                                         "needs 262144000000");
}
