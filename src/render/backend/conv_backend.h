// The native fp16 convolution backend: a hand-written replacement for the ONNX Runtime session on
// processors with NEON fp16 arithmetic. This platform has none, so the backend is never built
// here; what remains is its contract and the recogniser that decides whether a bundle's director
// is the fused graph the backend implements.
#pragma once

#include <memory>
#include <string>

namespace le {

class ConvBackend {
 public:
  // False on this platform.
  static bool available();
  // Throws "le_conv: built without NEON fp16 support" on this platform.
  static std::unique_ptr<ConvBackend> create(const std::string& modelPath, int threads);
  // True when the model holds the fused director's tensors, found by shape (export tools renumber
  // names): the (96,85,1,1) "pre" weight with its (96) bias beside it, the (1,1,32,32,2) base grid
  // and the (64,196608) basis, each exactly once. On false, *reason (when given) says what failed.
  static bool graphSupported(const std::string& modelPath, std::string* reason = nullptr);

  virtual ~ConvBackend() = default;
};

}  // namespace le
