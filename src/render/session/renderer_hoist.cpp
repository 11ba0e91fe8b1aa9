// The source-cone hoist: the part of the director that depends only on the source frame runs in a
// prep session once per source frame, ahead of need, and the per-frame graph takes its output.
#include <algorithm>
#include <stdexcept>
#include <string>

#include "core/log.h"
#include "le/le.h"
#include "render/graph/source_cone.h"
#include "render/session/renderer_impl.h"
#include "simd/simd.h"

namespace le {

namespace {

Ort::SessionOptions prepOptions() {
  Ort::SessionOptions options;
  options.SetIntraOpNumThreads(1);
  options.SetInterOpNumThreads(1);
  options.SetGraphOptimizationLevel(GraphOptimizationLevel::ORT_ENABLE_ALL);
  options.AddConfigEntry("session.intra_op.allow_spinning", "0");
  options.AddConfigEntry("mlas.disable_kleidiai", "1");
  return options;
}

// The prep graph's one static boundary shape, or a reason why the hoist cannot serve this graph.
std::string checkPrepShapes(const Ort::Session& prep, std::vector<int64_t>& boundaryShape) {
  const std::vector<int64_t> input = prep.GetInputTypeInfo(0).GetTensorTypeAndShapeInfo().GetShape();
  if (input.size() != 4 || input[0] != 1)
    return "batch-1 lever; this graph declares batch " + (input.empty() ? std::string("?") : std::to_string(input[0]));
  boundaryShape = prep.GetOutputTypeInfo(0).GetTensorTypeAndShapeInfo().GetShape();
  if (boundaryShape.size() != 4 ||
      std::any_of(boundaryShape.begin(), boundaryShape.end(), [](int64_t d) { return d < 0; }))
    return "boundary shape is not static";
  return {};
}

}  // namespace

bool Renderer::Impl::hoistSourceCone(const GsBytes& bytes, bool warpNodeApplied) {
  if (warpNodeApplied) {
    le::logPrintf("[le] source-cone hoist SKIPPED (%s): the warp node subsumes the cone \xe2\x80\x94 there is nothing "
                  "left to hoist\n",
                  modelKey.c_str());
    return false;
  }
  if (!identity->hasPrior() || bytes.empty()) return false;
  std::string reason;
  try {
    std::string boundary;
    const size_t concats = findSourceConeBoundary(bytes, boundary);
    GsBytes prepBytes, perFrameBytes;
    if (concats != 1) {
      reason = "expected exactly one Concat consuming P_rgb, found " + std::to_string(concats);
    } else if (buildSourceConePrep(bytes, boundary, prepBytes, reason)) {
      Ort::Session prep(env, prepBytes.data(), prepBytes.size(), prepOptions());
      std::vector<int64_t> shape;
      reason = checkPrepShapes(prep, shape);
      if (reason.empty() && buildSourceConePerFrame(bytes, boundary, shape.data(), shape.size(), perFrameBytes, reason)) {
        session = Ort::Session(env, perFrameBytes.data(), perFrameBytes.size(), options);
        prepSession = std::move(prep);
        boundaryName = boundary;
        boundaryShape = shape;
        le::logPrintf("[le] source-cone hoist: '%s' [%lld,%lld,%lld,%lld] leaves the per-frame graph and is "
                      "prefetched per SOURCE FRAME on one spare core (%s)\n",
                      boundary.c_str(), (long long)shape[0], (long long)shape[1], (long long)shape[2],
                      (long long)shape[3], modelKey.c_str());
        return true;
      }
    }
  } catch (const std::exception& e) {
    reason = e.what();
  }
  prepSession = Ort::Session(nullptr);
  le::logPrintf("[le] source-cone hoist NOT applied (%s): %s\n", modelKey.c_str(), reason.c_str());
  return false;
}

void Renderer::Impl::renderHoisted(int si, const float* kpSource, const float* kpDriving) {
  Ort::Value& boundary = ring->acquire(si);
  binding.BindInput(ring->boundary().c_str(), boundary);
  simd::f16ToF32(identity->pooled64(si), pooled.data(), size_t(kPooledCount));
  std::copy_n(kpSource, LE_HOST_KP_FLOATS, this->kpSource.data());
  std::copy_n(kpDriving, LE_HOST_KP_FLOATS, this->kpDriving.data());
  fillLipDelivery(0, kpDriving);
  ring->prefetchAfter(si);
  run();
}

}  // namespace le
