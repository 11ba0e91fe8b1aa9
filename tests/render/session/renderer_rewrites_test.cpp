// The head resize and student-blend rewrites as a renderer applies them to baked directors: the
// lines that report them, the near misses that load untouched, and the crops they render.
#include "render/session/renderer_rewrites.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bundle/drive.h"
#include "bundle/identity.h"
#include "bundle/manifest.h"
#include "render/graph/head_resize_rewrite.h"
#include "render/session/renderer.h"
#include "render/support/ort_runner.h"

namespace {

const std::string kFixtures = LE_TEST_FIXTURES;
const std::string kHeadLine =
    "[le] head cubic x2 -> Pad(edge,2)+Conv5x5(dw)+DepthToSpace(2,CRD) load-time rewrite: 1 node(s) (b1) \xe2\x80\x94 "
    "the same filter to fp32 round-off; ORT's cubic Resize kernel is the pole on every CPU-class EP and no "
    "CoreML/NNAPI EP can claim it\n";
const std::string kBlendLine =
    "[le] L3 student blend MatMul -> Gemm load-time normalisation: 1 node(s) (b1) \xe2\x80\x94 a pre-2026-09-11 "
    "student; as MatMul this graph aborts Apple's MPSGraph compiler on every CoreML unit that includes the GPU\n";

// One frame of a bundle's b1 director, and the log its construction wrote.
struct Rendered {
  std::string log;
  std::vector<float> crop;
};

Rendered renderOnce(const std::string& fixture) {
  const le::Manifest manifest = le::loadManifest(kFixtures + "/" + fixture);
  le::Identity identity(manifest);
  const le::Drive drive = le::loadDrive(manifest);
  testing::internal::CaptureStderr();
  le::Renderer renderer(manifest, identity, "b1", 1, "");
  Rendered r{testing::internal::GetCapturedStderr(), {}};
  const int si = drive.si[3];
  const float* out = renderer.render(&si, drive.xs.data() + 3 * 63, drive.xd.data() + 3 * 63, 1);
  r.crop.assign(out, out + size_t(3) * manifest.crop * manifest.crop);
  return r;
}

bool has(const std::string& log, const std::string& line) { return log.find(line) != std::string::npos; }

struct LogCase {
  const char* fixture;
  bool head;
  bool blend;
};

class RendererRewrites : public testing::TestWithParam<LogCase> {};

TEST_P(RendererRewrites, ReportExactlyTheRewritesThatApplied) {
  const Rendered r = renderOnce(GetParam().fixture);
  EXPECT_EQ(has(r.log, kHeadLine), GetParam().head) << r.log;
  EXPECT_EQ(has(r.log, kBlendLine), GetParam().blend) << r.log;
  if (GetParam().head && GetParam().blend) EXPECT_LT(r.log.find(kBlendLine), r.log.find(kHeadLine));
  EXPECT_TRUE(std::all_of(r.crop.begin(), r.crop.end(), [](float v) { return std::isfinite(v); }));
}

INSTANTIATE_TEST_SUITE_P(Bake, RendererRewrites,
                         testing::Values(LogCase{"test", true, false}, LogCase{"test-head-full", true, false},
                                         LogCase{"test-head-two-cubic", false, false},
                                         LogCase{"test-head-scales23", false, false},
                                         LogCase{"test-head-align-corners", false, false},
                                         LogCase{"test-student-blend", true, true},
                                         LogCase{"test-student-blend-long", true, false}),
                         [](const auto& info) {
                           std::string n = info.param.fixture;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

TEST(RendererRewrites, StudentBlendRendersWhatTheConvDirectorRenders) {
  const Rendered student = renderOnce("test-student-blend");
  const Rendered conv = renderOnce("test");
  ASSERT_EQ(student.crop.size(), conv.crop.size());
  float worst = 0;
  for (size_t i = 0; i < conv.crop.size(); ++i) worst = std::max(worst, std::fabs(student.crop[i] - conv.crop[i]));
  EXPECT_LE(worst, 1e-5f);
}

// The whole baked director with its full-size head, run by ONNX Runtime as baked and as rewritten.
TEST(RendererRewrites, FullHeadDirectorEqualsTheBakedGraph) {
  std::ifstream in(kFixtures + "/test-head-full/model_b1.onnx", std::ios::binary);
  ASSERT_TRUE(in);
  const le::GsBytes baked((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  le::GsBytes rewritten = baked;
  ASSERT_EQ(le::rewriteHeadCubicResize(rewritten), 1u);
  le::test::TensorMap inputs = le::test::makeInputs(baked, 9);
  for (auto* kp : {&inputs.at("kp_driving"), &inputs.at("kp_source")})
    for (float& v : kp->data) v = v * 1.6f - 0.8f;
  EXPECT_LE(le::test::maxAbsDiff(le::test::runModel(baked, inputs), le::test::runModel(rewritten, inputs)), 1e-5f);
}

}  // namespace
