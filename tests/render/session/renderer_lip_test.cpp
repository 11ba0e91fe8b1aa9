// The lip contour on the director's compose alpha: bound at load on a bundle with a lip template,
// rasterised per frame (all ones would leave the graph's own ellipse), and refused when the graph
// composes on another canvas than the bundle's crop.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bundle/drive.h"
#include "bundle/identity.h"
#include "bundle/manifest.h"
#include "render/session/renderer.h"
#include "support/temp_dir.h"

namespace {

const std::string kFixtures = LE_TEST_FIXTURES;

struct Bundle {
  explicit Bundle(const std::string& dir) : manifest(le::loadManifest(dir)), identity(manifest) {}
  le::Manifest manifest;
  le::Identity identity;
};

std::vector<float> rendered(le::Renderer& r, const Bundle& b, const std::vector<float>& kd) {
  const int si = 0;
  const float* xs = kd.data();
  const float* out = r.render(&si, xs, xs, 1);
  return std::vector<float>(out, out + size_t(3) * size_t(b.manifest.crop) * size_t(b.manifest.crop));
}

// The test person's first pose with the mouth open wide.
std::vector<float> openMouth(const std::string& bundle) {
  const std::string bytes = le::test::readFile(bundle + "/xs_target.bin");
  std::vector<float> kp(63);
  std::memcpy(kp.data(), bytes.data(), 63 * sizeof(float));
  kp[12 * 3 + 1] += 0.08f;
  kp[20 * 3 + 1] += 0.05f;
  return kp;
}

TEST(RendererLip, BindsTheContourAndBoundsTheComposeAlpha) {
  const std::string withLip = kFixtures + "/test-lip-template-map";
  Bundle lip(withLip), plain(kFixtures + "/test");
  testing::internal::CaptureStderr();
  le::Renderer bound(lip.manifest, lip.identity, "b1", 1, "");
  le::Renderer ellipse(plain.manifest, plain.identity, "b1", 1, "");
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("[le] compose alpha: LIP CONTOUR (b1) \xe2\x80\x94 Min(a, lip_delivery) bound at load, "),
            std::string::npos)
      << log;
  const std::vector<float> kd = openMouth(withLip);
  const std::vector<float> a = rendered(bound, lip, kd), b = rendered(ellipse, plain, kd);
  // The contour only ever lowers the alpha: pixels outside the lips keep the source, and some
  // pixels the ellipse composed differ.
  size_t differing = 0;
  for (size_t i = 0; i < a.size(); ++i) differing += std::fabs(a[i] - b[i]) > 1e-6f;
  EXPECT_GT(differing, 0u);
  EXPECT_LT(differing, a.size() / 4);
}

TEST(RendererLip, RefusesAGraphThatComposesOnAnotherCanvas) {
  le::test::TempDir dir;
  std::filesystem::copy(kFixtures + "/test-lip-template-map", dir.path(), std::filesystem::copy_options::recursive);
  // The demo director composes at 512; this bundle's crop is 64.
  std::filesystem::copy_file(kFixtures + "/director-512/model_b1.onnx", dir / "model_b1.onnx",
                             std::filesystem::copy_options::overwrite_existing);
  Bundle b(dir.path());
  testing::internal::CaptureStderr();
  try {
    le::Renderer r(b.manifest, b.identity, "b1", 1, "");
    ADD_FAILURE() << "a 512 compose canvas was bound to a 64 crop";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "Renderer: the director's compose canvas is 512 and this bundle's manifest declares crop 64 \xe2\x80\x94 "
                 "refusing to bind a lip contour rasterised on the wrong canvas");
  }
  testing::internal::GetCapturedStderr();
}

}  // namespace
