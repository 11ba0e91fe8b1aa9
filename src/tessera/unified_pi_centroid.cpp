// Where the pi mask lies: centroids, the shift that places a frame's mouth against the bank's
// canonical centroid, and the identification of the corpus geometry a bank was cut with.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "tessera/unified_pi.h"

namespace le::tessera {

namespace {

struct CorpusGeometry {
  const char* name;
  float padX, padY, down;
};
constexpr std::array<CorpusGeometry, 3> kCorpus{{{"v1", 0.05f, 0.08f, 0.015f},
                                                 {"v2", 0.10f, 0.08f, 0.074f},
                                                 {"v3", 0.14f, 0.08f, 0.074f}}};
constexpr double kMatchPx = 8.0;
constexpr double kAmbiguousPx = 3.0;

std::string twoDecimals(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", v);
  return text;
}

}  // namespace

bool UnifiedPi::piU8Centroid(const uint8_t* mask, float& cx, float& cy) const {
  return piU8Centroid(mask, {0, 0, canvas_, canvas_}, cx, cy);
}

bool UnifiedPi::piU8Centroid(const uint8_t* mask, const Box& box, float& cx, float& cy) const {
  double sx = 0, sy = 0;
  int64_t n = 0;
  for (int y = std::max(box.y0, 0); y < std::min(box.y1, canvas_); ++y)
    for (int x = std::max(box.x0, 0); x < std::min(box.x1, canvas_); ++x)
      if (mask[size_t(y) * canvas_ + x] >= 128) sx += x, sy += y, ++n;
  if (n == 0) return false;
  cx = float(sx / double(n));
  cy = float(sy / double(n));
  return true;
}

bool UnifiedPi::piU8AndShift(const float* kp, const float cCanon[2], uint8_t* out, int& rowShift,
                             int& colShift) const {
  piU8Boxed(kp, out);
  float cx = 0, cy = 0;
  if (!piU8Centroid(out, supportBox(kp), cx, cy)) return false;
  rowShift = int(std::nearbyint(double(cy) - cCanon[1]));
  colShift = int(std::nearbyint(double(cx) - cCanon[0]));
  return true;
}

void UnifiedPi::canonicalCentroid(const float* xsTarget, int frames, float& cx, float& cy) const {
  std::vector<uint8_t> mask(size_t(canvas_) * canvas_);
  double sx = 0, sy = 0;
  int n = 0;
  for (int f = 0; f < frames; ++f) {
    piU8(xsTarget + size_t(f) * 63, mask.data());
    float x = 0, y = 0;
    if (!piU8Centroid(mask.data(), x, y)) continue;
    sx += x, sy += y, ++n;
  }
  if (n == 0)
    throw std::runtime_error(
        "teeth-pi: pi is empty on every source frame \xe2\x80\x94 cannot derive the canonical centroid this bundle's "
        "frame is identified by");
  cx = float(sx / n);
  cy = float(sy / n);
}

UnifiedPi UnifiedPi::corpusFromManifestJson(const std::string& manifestText, int canvas, const float* xsTarget,
                                            int frames, const float cCanon[2], std::string* name) {
  if (!xsTarget || frames <= 0)
    throw std::runtime_error(
        "teeth-pi: the corpus frame is identified from the bundle's own xs_target and none was supplied \xe2\x80\x94 "
        "refusing to fall back to the stamped geometry, which is the GRAPH's compose field");
  UnifiedPi g = fromManifestJson(manifestText, canvas);
  std::array<std::pair<double, size_t>, kCorpus.size()> ranked;
  for (size_t i = 0; i < kCorpus.size(); ++i) {
    UnifiedPi candidate = g;
    candidate.setLipGeometry(kCorpus[i].padX, kCorpus[i].padY, kCorpus[i].down);
    float cx = 0, cy = 0;
    candidate.canonicalCentroid(xsTarget, frames, cx, cy);
    ranked[i] = {std::hypot(double(cx) - cCanon[0], double(cy) - cCanon[1]), i};
  }
  std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string report;
  for (const auto& [distance, i] : ranked) report += std::string(" ") + kCorpus[i].name + "=" + twoDecimals(distance) + "px";
  if (ranked[0].first > kMatchPx)
    throw std::runtime_error("teeth-pi: no corpus pi geometry matches this bank's c_canon (" + twoDecimals(cCanon[0]) +
                             "," + twoDecimals(cCanon[1]) + ") within " + twoDecimals(kMatchPx) + "px \xe2\x80\x94" +
                             report + " \xe2\x80\x94 the bank's pi frame is unknown and donors will NOT be placed "
                             "against a frame nobody can name");
  if (ranked[1].first - ranked[0].first < kAmbiguousPx)
    throw std::runtime_error("teeth-pi: corpus pi geometry is AMBIGUOUS (best two within " + twoDecimals(kAmbiguousPx) +
                             "px) \xe2\x80\x94" + report + " \xe2\x80\x94 refusing to guess the bank frame");
  const CorpusGeometry& best = kCorpus[ranked[0].second];
  g.setLipGeometry(best.padX, best.padY, best.down);
  if (name) *name = best.name;
  return g;
}

}  // namespace le::tessera
