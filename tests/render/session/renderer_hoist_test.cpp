// The renderer's load-time choice between the warp node, the source-cone hoist and neither, with
// every line it logs, and the hoisted director against the unhoisted one.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bundle/drive.h"
#include "bundle/identity.h"
#include "bundle/manifest.h"
#include "render/session/renderer.h"
#include "support/scoped_env.h"

using le::test::ScopedEnv;

namespace {

struct Bundle {
  explicit Bundle(const std::string& fixture)
      : manifest(le::loadManifest(std::string(LE_TEST_FIXTURES) + "/" + fixture)), identity(manifest),
        drive(le::loadDrive(manifest)) {}

  // A renderer and the lines its construction logged.
  std::unique_ptr<le::Renderer> open(const std::string& key, std::string& log) {
    testing::internal::CaptureStderr();
    std::unique_ptr<le::Renderer> r;
    try {
      r = std::make_unique<le::Renderer>(manifest, identity, key, 2, "");
    } catch (...) {
      log = testing::internal::GetCapturedStderr();
      throw;
    }
    log = testing::internal::GetCapturedStderr();
    return r;
  }

  // Source frame si through the renderer with the drive table's keypoints of frame t (below the
  // table's frame count).
  std::vector<float> render(le::Renderer& r, int si, int t) {
    if (t >= drive.frames) throw std::out_of_range("drive frame " + std::to_string(t));
    const float* out = r.render(&si, drive.xs.data() + 63 * t, drive.xd.data() + 63 * t, 1);
    return std::vector<float>(out, out + size_t(3) * manifest.crop * manifest.crop);
  }

  le::Manifest manifest;
  le::Identity identity;
  le::Drive drive;
};

float maxAbsDiff(const std::vector<float>& a, const std::vector<float>& b) {
  float m = 0;
  for (size_t i = 0; i < a.size(); ++i) m = std::max(m, std::fabs(a[i] - b[i]));
  return m;
}

bool has(const std::string& log, const std::string& line) { return log.find(line) != std::string::npos; }

TEST(RendererHoistThreads, BatchOneDirectorHoistsItsConeAndRendersTheSameCrops) {
  Bundle b("test");
  std::string hoistLog, batchLog;
  auto hoisted = b.open("b1", hoistLog);
  auto whole = b.open("b4", batchLog);
  EXPECT_TRUE(has(hoistLog, "[le] source-cone hoist: '/cone/tip' [1,12,64,64] leaves the per-frame graph and is "
                            "prefetched per SOURCE FRAME on one spare core (b1)\n"))
      << hoistLog;
  EXPECT_TRUE(has(batchLog, "[le] source-cone hoist NOT applied (b4): batch-1 lever; this graph declares batch 4\n"))
      << batchLog;
  EXPECT_TRUE(hoisted->hoistStats().hoisted);
  EXPECT_EQ(hoisted->hoistStats().boundary, "/cone/tip");
  EXPECT_FALSE(whole->hoistStats().hoisted);
  // Playback forwards, a jump, and back: every crop equals the whole graph's.
  for (int si : {0, 1, 2, 3, 9, 8, 7}) {
    const std::vector<float> got = b.render(*hoisted, si, si % 5);
    EXPECT_LE(maxAbsDiff(got, b.render(*whole, si, si % 5)), 1e-6f) << si;
  }
}

TEST(RendererHoistThreads, SteadyPlaybackFindsTheBoundaryReadyAfterTheFirstFrame) {
  Bundle b("test");
  std::string log;
  auto r = b.open("b1", log);
  for (int si = 0; si < 12; ++si) b.render(*r, si, si % 8);
  EXPECT_EQ(r->hoistStats().misses, 1);
  EXPECT_EQ(r->hoistStats().hits, 11);
  // Bouncing at the last frame is predicted too; a jump is not.
  for (int si : {10, 9, 3}) b.render(*r, si, si % 8);
  EXPECT_EQ(r->hoistStats().misses, 2);
  EXPECT_EQ(r->hoistStats().hits, 13);
}

struct KeepCase {
  const char* fixture;
  const char* line;
};

class RendererKeepsTheCone : public testing::TestWithParam<KeepCase> {};

TEST_P(RendererKeepsTheCone, LogsWhyAndRendersAsBaked) {
  Bundle b(GetParam().fixture);
  std::string log;
  auto r = b.open("b1", log);
  EXPECT_TRUE(has(log, GetParam().line)) << log;
  EXPECT_FALSE(r->hoistStats().hoisted);
  EXPECT_EQ(b.render(*r, 2, 3).size(), size_t(3) * b.manifest.crop * b.manifest.crop);
}

INSTANTIATE_TEST_SUITE_P(
    Bake, RendererKeepsTheCone,
    testing::Values(KeepCase{"test-two-concat", "[le] source-cone hoist NOT applied (b1): expected exactly one Concat "
                                                "consuming P_rgb, found 2\n"},
                    KeepCase{"test-prior-outside", "[le] source-cone hoist NOT applied (b1): P_rgb is also read "
                                                   "outside the cone by ReduceMean\n"},
                    KeepCase{"test-featsynth", "[le] source-cone hoist NOT applied (b1): expected exactly one Concat "
                                               "consuming P_rgb, found 0\n"}),
    [](const auto& info) {
      std::string n = info.param.fixture;
      for (char& ch : n)
        if (ch == '-') ch = '_';
      return n;
    });

TEST(RendererWarpNode, ReplacesTheBlockSkipsTheHoistAndRendersTheSameCrops) {
  Bundle b("test");
  std::string wholeLog, warpLog;
  auto whole = b.open("b4", wholeLog);
  ScopedEnv warp("LE_WARP_NODE", "1");
  auto node = b.open("b1", warpLog);
  EXPECT_TRUE(has(warpLog, "[le] director warp -> com.zentrova::WarpDirector (")) << warpLog;
  EXPECT_TRUE(has(warpLog, " nodes removed, the source cone with them)\n")) << warpLog;
  EXPECT_TRUE(has(warpLog, "[le] source-cone hoist SKIPPED (b1): the warp node subsumes the cone \xe2\x80\x94 there is "
                           "nothing left to hoist\n"))
      << warpLog;
  EXPECT_FALSE(node->hoistStats().hoisted);
  for (int si : {0, 5, 11}) EXPECT_LE(maxAbsDiff(b.render(*node, si, si % 8), b.render(*whole, si, si % 8)), 1e-5f) << si;
}

struct WarpMissCase {
  const char* fixture;
  const char* gsFast;  // LE_GS_FAST, or null
  const char* reason;
};

class RendererWarpNodeMiss : public testing::TestWithParam<WarpMissCase> {};

TEST_P(RendererWarpNodeMiss, LogsTheReasonAndLoadsTheGraphAsBefore) {
  Bundle b(GetParam().fixture);
  ScopedEnv warp("LE_WARP_NODE", "yes");
  ScopedEnv gsFast("LE_GS_FAST", GetParam().gsFast);
  std::string log;
  auto r = b.open("b1", log);
  EXPECT_TRUE(has(log, "[le] director warp NOT moved to one node (" + std::string(GetParam().reason) +
                           ") \xe2\x80\x94 the graph loads exactly as it did before\n"))
      << log;
  EXPECT_EQ(b.render(*r, 1, 1).size(), size_t(3) * b.manifest.crop * b.manifest.crop);
}

INSTANTIATE_TEST_SUITE_P(
    Bake, RendererWarpNodeMiss,
    testing::Values(WarpMissCase{"test-two-concat", nullptr, "not one Concat consuming P_rgb (found 2)"},
                    WarpMissCase{"test", "0",
                                 "LE_GS_FAST=0 leaves the com.zentrova domain unregistered, so no kernel would serve "
                                 "the node"}),
    [](const auto& info) { return info.param.gsFast ? std::string("gs_fast_off") : std::string("two_concat"); });

TEST(RendererWarpNode, OffByDefaultAndWhenSetToZero) {
  Bundle b("test");
  for (const char* value : {static_cast<const char*>(nullptr), "0", ""}) {
    ScopedEnv warp("LE_WARP_NODE", value);
    std::string log;
    auto r = b.open("b1", log);
    EXPECT_FALSE(has(log, "director warp")) << log;
    EXPECT_TRUE(r->hoistStats().hoisted);
  }
}

}  // namespace

namespace {

TEST(RendererKeepsTheConeOnADynamicBatch, LogsTheBatchBeforeTheGraphIsRefused) {
  const le::Manifest manifest = le::loadManifest(std::string(LE_TEST_FIXTURES) + "/test-batch-dynamic");
  le::Identity identity(manifest);
  testing::internal::CaptureStderr();
  EXPECT_THROW(le::Renderer(manifest, identity, "b1", 1, ""), std::runtime_error);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(has(log, "[le] source-cone hoist NOT applied (b1): batch-1 lever; this graph declares batch -1\n")) << log;
}

}  // namespace
