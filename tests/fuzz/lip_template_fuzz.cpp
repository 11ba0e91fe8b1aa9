// libFuzzer target over the lip template reader and the contour it builds: any input is read or
// refused with a std::runtime_error that names the template; an accepted template is drawn on a
// few keypoint frames (its values are the input's, so the raster meets whatever numbers the input
// holds). Anything else (a crash, a hang, an out-of-bounds access under the sanitizers, another
// exception, an alpha outside [0, 1], a byte beside the pi mask's) is a finding.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "tessera/lip_contour.h"
#include "tessera/unified_pi.h"

namespace {

using le::tessera::LipContour;
using le::tessera::UnifiedPi;

constexpr int kCanvas = 64;

const UnifiedPi& piGeometry() {
  static const UnifiedPi pi = UnifiedPi::fromManifestJson(
      R"({"unified": {"pi": {"mode": "prop", "prop_gate_scale": 1, "lip_idx": [6, 12, 14, 17, 18, 19, 20],
          "lip_geom_params": [0.05, 0.08, 0.015]}}})",
      kCanvas);
  return pi;
}

// Our person's mouth at rest and wide open, and every row at one point.
std::vector<std::vector<float>> frames() {
  std::vector<float> rest(63, 0.0f);
  const float lips[][3] = {{6, 0.0f, 0.295f},  {12, 0.0f, 0.365f}, {14, 0.0f, 0.33f},   {17, -0.17f, 0.325f},
                           {18, 0.17f, 0.325f}, {19, 0.0f, 0.255f}, {20, 0.0f, 0.415f}};
  for (const auto& [row, x, y] : lips) rest[size_t(row) * 3] = x, rest[size_t(row) * 3 + 1] = y;
  std::vector<float> open = rest;
  for (int row : {12, 20}) open[size_t(row) * 3 + 1] += 0.15f;
  return {rest, open, std::vector<float>(63, 0.0f)};
}

void drawAccepted(LipContour& contour) {
  static const std::vector<std::vector<float>> kps = frames();
  const size_t area = size_t(kCanvas) * kCanvas;
  std::vector<float> alpha(area);
  std::vector<uint8_t> pi(area), delivered(area);
  const float cCanon[2] = {31.5f, 41.25f};
  for (const std::vector<float>& kp : kps) {
    contour.contourF32Canvas(kp.data(), alpha.data());
    for (float a : alpha)
      if (!(a >= 0.0f && a <= 1.0f)) std::abort();
    contour.deliveredU8(kp.data(), piGeometry(), delivered.data());
    piGeometry().piU8(kp.data(), pi.data());
    for (size_t i = 0; i < area; ++i)
      if (delivered[i] > pi[i]) std::abort();
    int rows = 0, cols = 0;
    contour.deliveredU8AndShift(kp.data(), piGeometry(), cCanon, delivered.data(), rows, cols);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    LipContour contour = LipContour::fromTemplateJson(text, kCanvas);
    if (contour.canvas() != kCanvas || !(contour.featherPx() > 0.0f) || contour.vertexCount() < 1) std::abort();
    drawAccepted(contour);
  } catch (const std::runtime_error& e) {
    if (std::string(e.what()).rfind("lip_template.v1.json: ", 0) != 0) std::abort();
  }
  return 0;
}
