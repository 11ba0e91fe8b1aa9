// The director network of one identity bundle: an ONNX Runtime session over the bundle's director
// graph (rewritten at load to the library's fast operators), the tensors bound to it, and the
// per-frame call that turns source frames and keypoints into face crops.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace le {

struct Manifest;
class Identity;

// The largest batch a director may declare: its buffers are sized for one batch at load, and no
// real director renders more than a few frames at once.
inline constexpr int64_t kMaxRenderBatch = 64;

class Renderer {
 public:
  // Opens the member "model_" + modelKey + ".onnx" of the bundle. threads < 1 takes the library's
  // thread budget; ep is "" (ONNX Runtime's CPU provider), "neon", or "coreml[:unit]" (both fall
  // back to the CPU provider on this platform, with a log line). Throws std::runtime_error (or
  // Ort::Exception) on every refusal; nothing is half-built after a throw. identity must outlive
  // the renderer; its played prior is advanced by render.
  Renderer(const Manifest& manifest, Identity& identity, const std::string& modelKey, int threads,
           const std::string& ep);
  ~Renderer();
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  // Renders n (1 to batch) items: source frames si, source and driving keypoints (n x 63 floats
  // each). Returns the output, batch items of 3 planes of crop x crop floats, owned by the renderer
  // and valid until the next call; items from n on repeat item n - 1. Throws "render: bad n", for
  // a source index outside the identity's frames, and the runtime's errors. One caller at a time.
  const float* render(const int* si, const float* kpSource, const float* kpDriving, int n);

  // "cpu" for the CPU provider (also after a CoreML fallback), else the ep string.
  const std::string& ep() const;
  // "ort": the session serves every frame on this platform.
  const char* backend() const;
  int batch() const;
  // Empty: no platform director fills it on this platform.
  const std::string& directorNote() const;

  // Whether the source cone was hoisted out of the per-frame graph, the tensor it hands over, and
  // how often a frame found its boundary ready in the ring (hits) or computed it itself (misses).
  struct HoistStats {
    bool hoisted = false;
    std::string boundary;
    int64_t hits = 0;
    int64_t misses = 0;
  };
  HoistStats hoistStats() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace le
