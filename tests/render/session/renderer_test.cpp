// The director renderer on baked bundles: the load-time GridSample rewrite against ONNX Runtime's
// own GridSample on both kernel paths, the int8 head against the float one, batches with filler
// slots, accessors and profiling.
#include "render/session/renderer.h"

#include <gtest/gtest.h>
#include <onnxruntime_cxx_api.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bundle/drive.h"
#include "bundle/identity.h"
#include "bundle/manifest.h"
#include "render/graph/gridsample_rewrite.h"
#include "render/ops/gridsample_fast.h"
#include "render/session/renderer_ep.h"
#include "render/support/ort_runner.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

using le::test::ScopedEnv;

namespace {

const std::string kFixtures = LE_TEST_FIXTURES;

// One bundle opened the way a session opens it, with renderers made on demand.
struct Bundle {
  explicit Bundle(const std::string& fixture)
      : manifest(le::loadManifest(kFixtures + "/" + fixture)), identity(manifest), drive(le::loadDrive(manifest)) {}

  std::unique_ptr<le::Renderer> renderer(const std::string& key, bool rewrite, const std::string& ep = "",
                                         int threads = 1) {
    ScopedEnv env("LE_GS_REWRITE", rewrite ? nullptr : "0");
    return std::make_unique<le::Renderer>(manifest, identity, key, threads, ep);
  }

  le::Manifest manifest;
  le::Identity identity;
  le::Drive drive;
};

// Driving keypoints that move the face: the idle loop's with the lip rows lowered and a sway.
std::vector<float> movedKeypoints(const std::vector<float>& xs, int items) {
  std::vector<float> kd(xs.begin(), xs.begin() + size_t(items) * 63);
  for (int j = 0; j < items; ++j)
    for (int r = 0; r < 21; ++r) {
      kd[size_t(j) * 63 + size_t(r) * 3] += 0.02f * std::sin(float(j + r));
      kd[size_t(j) * 63 + size_t(r) * 3 + 1] += (r == 12 || r == 20 ? 0.06f : 0.0f) + 0.015f * std::cos(float(r));
    }
  return kd;
}

float maxAbsDiff(const float* a, const float* b, size_t n) {
  float m = 0;
  for (size_t i = 0; i < n; ++i) m = std::max(m, std::fabs(a[i] - b[i]));
  return m;
}

class PathGuard {
 public:
  explicit PathGuard(le::GridSamplePath path) { le::setGridSampleFastPath(path); }
  ~PathGuard() { le::setGridSampleFastPath(le::GridSamplePath::Auto); }
};

struct RewriteCase {
  const char* fixture;
  const char* key;
  le::GridSamplePath path;
};

class RewrittenDirector : public testing::TestWithParam<RewriteCase> {};

TEST_P(RewrittenDirector, MatchesTheOriginalGraph) {
  const RewriteCase& c = GetParam();
  PathGuard path(c.path);
  if (c.path == le::GridSamplePath::Auto && !le::gridSampleAvx2Available()) GTEST_SKIP() << "no AVX2 + FMA";
  Bundle b(c.fixture);
  testing::internal::CaptureStderr();
  auto original = b.renderer(c.key, false);
  auto rewritten = b.renderer(c.key, true);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("[le] std GridSample -> com.zentrova::GridSampleFast load-time rewrite: 1 node(s) (" +
                     std::string(c.key) + ")"),
            std::string::npos)
      << log;

  const int n = original->batch();
  ASSERT_EQ(rewritten->batch(), n);
  const std::vector<int> si(b.drive.si.begin() + 1, b.drive.si.begin() + 1 + n);
  const std::vector<float> ks(b.drive.xs.begin() + 63, b.drive.xs.begin() + 63 * (1 + n));
  const std::vector<float> kd = movedKeypoints(ks, n);
  const size_t count = size_t(n) * 3 * b.manifest.crop * b.manifest.crop;
  const float* once = original->render(si.data(), ks.data(), kd.data(), n);
  const std::vector<float> want(once, once + count);
  const float* out = rewritten->render(si.data(), ks.data(), kd.data(), n);
  const std::vector<float> got(out, out + count);
  EXPECT_LE(maxAbsDiff(got.data(), want.data(), count), 1e-5f);
  // The warp moved the face: the comparison is not between two copies of the source.
  EXPECT_GT(maxAbsDiff(got.data(), rewritten->render(si.data(), ks.data(), ks.data(), n), count), 1e-2f);
}

INSTANTIATE_TEST_SUITE_P(
    Bake, RewrittenDirector,
    testing::Values(RewriteCase{"test", "b1", le::GridSamplePath::Auto}, RewriteCase{"test", "b1", le::GridSamplePath::Scalar},
                    RewriteCase{"test", "b4", le::GridSamplePath::Auto}, RewriteCase{"test", "b4", le::GridSamplePath::Scalar},
                    RewriteCase{"test-crop128", "b4", le::GridSamplePath::Auto},
                    RewriteCase{"test-crop128", "b4", le::GridSamplePath::Scalar},
                    RewriteCase{"test-hevc-prior", "b1", le::GridSamplePath::Auto}),
    [](const auto& info) {
      std::string n = std::string(info.param.fixture) + "_" + info.param.key +
                      (info.param.path == le::GridSamplePath::Scalar ? "_scalar" : "_auto");
      std::replace(n.begin(), n.end(), '-', '_');
      return n;
    });

// The demo-size director (crop 512) has no bundle of its own among the fixtures: its graph is run
// with and without the rewrite on the same inputs.
TEST(RewrittenDirector512, MatchesTheOriginalGraphOnBothPaths) {
  const std::string path = kFixtures + "/director-512/model_b1.onnx";
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << path;
  const le::GsBytes original((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  le::GsBytes rewritten = original;
  ASSERT_EQ(le::rewriteGridSampleToFast(rewritten), 1u);
  le::test::TensorMap inputs = le::test::makeInputs(original, 7);
  for (auto* kp : {&inputs.at("kp_driving"), &inputs.at("kp_source")})
    for (float& v : kp->data) v = v * 1.6f - 0.8f;
  const le::test::TensorMap want = le::test::runModel(original, inputs, 2);
  for (le::GridSamplePath p : {le::GridSamplePath::Auto, le::GridSamplePath::Scalar}) {
    PathGuard guard(p);
    EXPECT_LE(le::test::maxAbsDiff(le::test::runModel(rewritten, inputs, 2), want), 1e-5f)
        << (p == le::GridSamplePath::Scalar ? "scalar" : "auto");
  }
}

// The int8 head against the float head of the same seed. Rounding the head's inputs to 8 bits (half
// a step of 1/255 of their range) and its weights (half a step of 1/127 of each channel's peak)
// moves this crop by 5.1e-5 at most: the residual is small and shows only inside the mouth's alpha.
// The bound 1e-4 keeps that margin, while border pixels that skip the zero-point correction already
// move the crop by 2.3e-4.
TEST(Int8ConvDirector, RendersCloseToTheFloatDirector) {
  Bundle f("test"), q("test-int8-conv");
  for (const char* gsFast : {"1", "0"}) {
    // LE_GS_FAST=0 leaves out the GridSampleFast domain but still registers Int8ConvVNNI.
    ScopedEnv env("LE_GS_FAST", gsFast);
    testing::internal::CaptureStderr();
    auto plain = f.renderer("b4", true);
    auto int8 = q.renderer("b4", true);
    testing::internal::GetCapturedStderr();
    const int n = int8->batch();
    const std::vector<int> si(q.drive.si.begin() + 1, q.drive.si.begin() + 1 + n);
    const std::vector<float> ks(q.drive.xs.begin() + 63, q.drive.xs.begin() + 63 * (1 + n));
    const std::vector<float> kd = movedKeypoints(ks, n);
    const size_t count = size_t(n) * 3 * q.manifest.crop * q.manifest.crop;
    const float* once = plain->render(si.data(), ks.data(), kd.data(), n);
    const std::vector<float> want(once, once + count);
    const float* got = int8->render(si.data(), ks.data(), kd.data(), n);
    const float diff = maxAbsDiff(got, want.data(), count);
    EXPECT_LE(diff, 1e-4f) << "LE_GS_FAST=" << gsFast;
    EXPECT_GT(diff, 0.f) << "the int8 head ran";
  }
}

TEST(Renderer, FillerSlotsRepeatTheLastItem) {
  Bundle b("test");
  testing::internal::CaptureStderr();
  auto b4 = b.renderer("b4", true);
  auto b1 = b.renderer("b1", true);
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(b4->batch(), 4);
  const int si[] = {2, 5};
  std::vector<float> ks(b.drive.xs.begin(), b.drive.xs.begin() + 126);
  const std::vector<float> kd = movedKeypoints(ks, 2);
  const size_t item = size_t(3) * 64 * 64;
  const float* out = b4->render(si, ks.data(), kd.data(), 2);
  const std::vector<float> items(out, out + 4 * item);
  EXPECT_EQ(std::vector<float>(items.begin() + 2 * item, items.begin() + 3 * item),
            std::vector<float>(items.begin() + item, items.begin() + 2 * item));
  EXPECT_EQ(std::vector<float>(items.begin() + 3 * item, items.end()),
            std::vector<float>(items.begin() + item, items.begin() + 2 * item));
  for (int j = 0; j < 2; ++j) {
    const float* one = b1->render(si + j, ks.data() + 63 * j, kd.data() + 63 * j, 1);
    EXPECT_LE(maxAbsDiff(one, items.data() + j * item, item), 1e-5f) << j;
  }
}

TEST(Renderer, RefusesBadItemCountsAndSourceFrames) {
  Bundle b("test");
  testing::internal::CaptureStderr();
  auto r = b.renderer("b4", true);
  testing::internal::GetCapturedStderr();
  const int si[5] = {0, 1, 2, 3, 4};
  const std::vector<float> kp(5 * 63, 0.1f);
  for (int n : {0, 5}) {
    try {
      r->render(si, kp.data(), kp.data(), n);
      ADD_FAILURE() << n;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "render: bad n");
    }
  }
  const int outside[] = {0, 12};
  try {
    r->render(outside, kp.data(), kp.data(), 2);
    ADD_FAILURE();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "render: source index 12 outside [0,12)");
  }
}

TEST(Renderer, AccessorsAndExecutionProviders) {
  Bundle b("test");
  testing::internal::CaptureStderr();
  auto cpu = b.renderer("b4", true);
  auto coreml = b.renderer("b1", true, "coreml:gpu");
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(cpu->ep(), "cpu");
  EXPECT_STREQ(cpu->backend(), "ort");
  EXPECT_EQ(cpu->batch(), 4);
  EXPECT_EQ(cpu->directorNote(), "");
  EXPECT_EQ(coreml->ep(), "cpu");
  EXPECT_NE(log.find("[le] CoreML EP session refused: "), std::string::npos) << log;
  EXPECT_NE(log.find("[le] !!! compose alpha: ELLIPSE (b1) \xe2\x80\x94 this bundle carries no lip_template.v1.json"),
            std::string::npos)
      << log;
}

struct EpCase {
  const char* ep;
  bool coreml;
  const char* units;
};

class EpStrings : public testing::TestWithParam<EpCase> {};

TEST_P(EpStrings, MapToProviderAndUnits) {
  const le::EpRequest r = le::parseEp(GetParam().ep);
  EXPECT_EQ(r.coreml, GetParam().coreml);
  EXPECT_EQ(r.units, GetParam().units);
}

INSTANTIATE_TEST_SUITE_P(Eps, EpStrings,
                         testing::Values(EpCase{"", false, ""}, EpCase{"coreml", true, "ALL"},
                                         EpCase{"coreml:cpu", true, "CPUOnly"}, EpCase{"coreml/gpu", true, "CPUAndGPU"},
                                         EpCase{"coreml-ane", true, "CPUAndNeuralEngine"},
                                         EpCase{"coreml:npu", true, "ALL"}),
                         [](const auto& info) {
                           std::string n = info.param.ep[0] ? info.param.ep : "empty";
                           for (char& ch : n)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

TEST(Renderer, CoremlCacheDirCarriesTheRuntimeVersion) {
  EXPECT_EQ(le::coremlCacheDir("/b"), "/b/.coreml_cache/ort" + Ort::GetVersionString());
}

TEST(Renderer, ProfilingPrintsThePerFrameSummaryAndTheProfileFile) {
  le::test::TempDir dir;
  Bundle b("test");
  std::string log;
  {
    ScopedEnv profile("LE_ORT_PROFILE", (dir / "prof").c_str());
    testing::internal::CaptureStderr();
    auto r = b.renderer("b1", true);
    const int si = 0;
    for (int i = 0; i < 3; ++i) r->render(&si, b.drive.xs.data(), b.drive.xd.data(), 1);
    r.reset();
    log = testing::internal::GetCapturedStderr();
  }
  EXPECT_NE(log.find("[le_ort_profile] 3 frames: "), std::string::npos) << log;
  EXPECT_NE(log.find(" ms/frame in Session::Run\n[le_ort_profile] " + (dir / "prof")), std::string::npos) << log;
  bool written = false;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    written |= entry.path().filename().string().rfind("prof", 0) == 0;
  EXPECT_TRUE(written);
}

}  // namespace
