// The state behind le::Renderer, shared by its construction (renderer.cpp), the opening of its
// ONNX Runtime session (renderer_session.cpp) and the per-frame call.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bundle/identity.h"
#include "core/ort_log.h"
#include "render/graph/onnx_proto_writer.h"
#include "render/session/renderer.h"
#include "render/session/source_cone_ring.h"
#include "tessera/lip_contour.h"

namespace le {

struct Renderer::Impl {
  Impl(Identity& identity, int crop);

  // Steps of the construction, in the order the constructor calls them.
  // Opens the main session for an ep: session options, custom operators, the load-time rewrites,
  // then the session itself from the rewritten bytes (or from the file when nothing changed).
  void openSession(const std::string& ep);
  // Records every graph input's shape, sets the FeatSynth flag and the batch.
  void discoverInputs();
  // Refuses keypoint inputs whose row count is static and not le::kHostKpRows.
  void checkKeypointContract() const;
  // Refuses a graph whose warp prior the identity cannot supply.
  void checkWarpPrior() const;
  // Sizes the buffers for the batch and binds them to the main session.
  void bindTensors();
  // Fills slot j of the input buffers for source frame si.
  void fillSlot(int j, int si);
  // Copies slot `from` of the per-item input buffers into slot `to`.
  void copySlot(int from, int to);
  // Runs the main session once over the binding, timed.
  void run();
  // Cuts the source cone out of the rewritten graph into a prep session and opens the main
  // session on the per-frame rest; false (with the reason logged) when the cone stays.
  bool hoistSourceCone(const GsBytes& bytes, bool warpNodeApplied);
  // Fills and runs the hoisted per-frame graph for source frame si (batch 1).
  void renderHoisted(int si, const float* kpSource, const float* kpDriving);
  // Binds lip_delivery to the compose alpha when the bundle carries a lip template (renderer_lip.cpp);
  // false, with the reason logged, when the graph keeps its ellipse. Throws on a canvas mismatch.
  bool bindLipContour(GsBytes& bytes);
  void logLipBound() const;
  // Slot j of lip_delivery: the contour of the item's driving keypoints.
  void fillLipDelivery(int j, const float* kpDrivingItem);

  // What the session opens and how.
  std::string modelPath;
  std::string modelKey;
  std::string bundleDir;
  int threads = 1;
  // The bundle's lip contour (absent without a lip template) and whether it bounds the compose alpha.
  std::unique_ptr<tessera::LipContour> lipContour;
  bool lipBound = false;

  std::string epName;
  Ort::Env env{ORT_LOGGING_LEVEL_WARNING, "le", ortLog, nullptr};
  Ort::SessionOptions options{nullptr};
  Ort::Session session{nullptr};
  Ort::IoBinding binding{nullptr};
  Ort::RunOptions runOptions;

  bool profiling = false;
  int64_t framesRun = 0;
  double runMs = 0.0;

  Identity* identity;
  int32_t batch = 0;
  int32_t crop;

  static constexpr int64_t kPooledCount = 64 * 32 * 32;
  int64_t priorCount;
  static constexpr int64_t kFsRedCount = 64 * 64 * 64;

  bool featSynth = false;
  std::map<std::string, std::vector<int64_t>> inputShapes;

  std::vector<float> pooled;
  std::vector<float> prior;
  std::vector<float> fsRed;
  std::vector<float> kpDriving;
  std::vector<float> kpSource;
  std::vector<float> rgb;
  std::vector<float> lipDelivery;  // batch x crop x crop, all ones until a frame fills it
  std::vector<Ort::Value> bound;

  std::string directorNote;

  // The hoisted source cone: the prep session and the boundary it computes until bindTensors hands
  // them to the ring, then the ring that serves the boundary per frame.
  Ort::Session prepSession{nullptr};
  std::string boundaryName;
  std::vector<int64_t> boundaryShape;
  std::unique_ptr<SourceConeRing> ring;
};

}  // namespace le
