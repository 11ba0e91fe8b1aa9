// What an execution-provider string asks of the motion generator's sessions.
#pragma once

#include <string>

namespace le::audio {

struct MotionEp {
  // Apple's CoreML provider was asked for; otherwise the CPU provider.
  bool coreml = false;
  // CoreML compute units: "CPUOnly", "CPUAndGPU", "CPUAndNeuralEngine" or "ALL".
  std::string units;
};

// "" is the CPU provider; a string beginning with "coreml" asks for CoreML, its last three letters
// choosing the units ("cpu", "gpu", "ane"; anything else "ALL"). Throws
// "le_motion: unknown ep '<ep>'" for every other string.
MotionEp parseMotionEp(const std::string& ep);

}  // namespace le::audio
