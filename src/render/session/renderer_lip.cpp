// The lip contour on the director's compose alpha: the load-time binding of `lip_delivery` and the
// contour rasterised per frame from the driving keypoints.
#include <stdexcept>

#include "core/log.h"
#include "render/graph/lip_contour_binding.h"
#include "render/session/renderer_impl.h"

namespace le {

bool Renderer::Impl::bindLipContour(GsBytes& bytes) {
  if (!lipContour) {
    le::logPrintf("[le] !!! compose alpha: ELLIPSE (%s) \xe2\x80\x94 this bundle carries no %s, so the director "
                  "generates the over-covering elliptical region the contour replaces. BACKFILL IT: "
                  "models/ombrine-2/tools/carry_lip_template_fleet.py\n",
                  modelKey.c_str(), "lip_template.v1.json");
    return false;
  }
  std::string reason;
  int canvas = 0, second = 0;
  if (!rewriteBindLipContour(bytes, reason, &canvas, &second)) {
    le::logPrintf("[le] !!! lip contour NOT bound to the compose alpha (%s): %s \xe2\x80\x94 this session serves the "
                  "graph's own ELLIPSE\n",
                  modelKey.c_str(), reason.empty() ? "no reason given" : reason.c_str());
    return false;
  }
  if (canvas != crop)
    throw std::runtime_error("Renderer: the director's compose canvas is " + std::to_string(canvas) +
                             " and this bundle's manifest declares crop " + std::to_string(crop) +
                             " \xe2\x80\x94 refusing to bind a lip contour rasterised on the wrong canvas");
  return true;
}

void Renderer::Impl::logLipBound() const {
  if (!lipBound) return;
  le::logPrintf("[le] compose alpha: LIP CONTOUR (%s) \xe2\x80\x94 Min(a, lip_delivery) bound at load, %d verts, "
                "feather %.1f px; the graph's ellipse is not reachable in this session\n",
                modelKey.c_str(), lipContour->vertexCount(), double(lipContour->featherPx()));
}

void Renderer::Impl::fillLipDelivery(int j, const float* kpDrivingItem) {
  if (!lipBound || featSynth) return;
  lipContour->contourF32Canvas(kpDrivingItem, lipDelivery.data() + size_t(j) * size_t(crop) * size_t(crop));
}

}  // namespace le
