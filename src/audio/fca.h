// The face-coefficient animator: a whole utterance in, one 63-float keypoint delta row per 40 ms
// frame out, from its own speech-encoder session and a small autoregressive network.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstdint>
#include <string>

#include "core/ort_log.h"

namespace le::fca {

class Animator {
 public:
  // Opens the 8 s speech encoder and the animator network ("cond" [1, 5376], "prev" [1, 63],
  // "h" [1, 1, 384] -> "m", "hn"). threads < 1 takes the pool budget.
  Animator(const std::string& encoderPath, const std::string& animatorPath, int threads);

  // The frames of `count` samples: ceil(count / 640).
  static int64_t framesOf(int64_t count);
  // Writes framesOf(count) rows of 63 deltas to out and returns their number.
  int64_t deltas(const float* samples, int64_t count, float* out);

 private:
  // The layer-averaged features of every frame (768 floats each).
  void features(const float* samples, int64_t count, int64_t frames, float* out);
  // One step of the network: prev becomes m and h becomes hn.
  void step(const float* cond, float* prev, float* h);

  Ort::Env env_{ORT_LOGGING_LEVEL_WARNING, "le_fca", le::ortLog, nullptr};
  Ort::SessionOptions options_;
  Ort::Session encoder_{nullptr};
  Ort::Session animator_{nullptr};
};

}  // namespace le::fca
