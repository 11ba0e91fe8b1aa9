// The a2x object's own networks: the streaming encoder and the one-step decoder, with their
// runtime environment and session options.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/ort_log.h"

namespace le {

class A2xNets {
 public:
  // Environment and session options for both networks (threads intra-op, no spinning, every
  // optimisation; the CUDA option never applies to them).
  explicit A2xNets(int threads);

  void openEncoder(const std::string& path);
  void openDecoder(const std::string& path);

  // Outputs the encoder declares: 1, or 2 with the per-frame wn.
  size_t encoderOutputCount() const { return encoderOutputs_.size(); }

  // One encoder run over l frames: feat [1, l, 12, 768], pos [1, l, h], mask [1, 1, l, l]. out gets
  // l x h values; wn gets l values when the encoder has the wn output.
  void encode(const float* feat, const float* pos, const float* mask, int64_t l, int64_t h, std::vector<float>& out,
              std::vector<float>& wn);

  // One decoder step: ctx (h values), prev (63) and hidden (h) in; prev becomes m and hidden
  // becomes h_out.
  void decode(const float* ctx, float* prev, float* hidden, int64_t h);

 private:
  Ort::Env env_{ORT_LOGGING_LEVEL_WARNING, "le_a2x", ortLog, nullptr};
  Ort::SessionOptions options_;
  Ort::Session encoder_{nullptr};
  Ort::Session decoder_{nullptr};
  std::vector<std::string> encoderOutputs_;
};

}  // namespace le
