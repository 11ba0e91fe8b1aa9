// What an execution-provider string asks of the director session.
#pragma once

#include <string>

namespace le {

struct EpRequest {
  // "coreml" with an optional unit after one separator character; otherwise the CPU provider.
  bool coreml = false;
  // CoreML compute units: "CPUOnly", "CPUAndGPU", "CPUAndNeuralEngine" or "ALL".
  std::string units;
  // The unit as written after the separator ("" when none).
  std::string unit;
};

// Parses an ep string: "" is the CPU provider; "coreml", "coreml:cpu", "coreml:gpu", "coreml:ane"
// (any one separator character) the CoreML provider. Throws the XNNPACK refusal for every ep that
// begins with "xnnpack" and "Renderer: unknown ep '<ep>'" for anything else.
EpRequest parseEp(const std::string& ep);

// The CoreML provider's model cache: bundleDir + "/.coreml_cache/ort" + the ONNX Runtime version
// ("unknown" when the runtime reports none).
std::string coremlCacheDir(const std::string& bundleDir);

}  // namespace le
