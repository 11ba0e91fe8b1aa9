#include "audio/motion_ep.h"

#include <stdexcept>

namespace le::audio {

MotionEp parseMotionEp(const std::string& ep) {
  MotionEp request;
  if (ep.empty()) return request;
  if (ep.rfind("coreml", 0) != 0) throw std::runtime_error("le_motion: unknown ep '" + ep + "'");
  request.coreml = true;
  const std::string suffix = ep.size() >= 9 ? ep.substr(ep.size() - 3) : "";
  request.units = suffix == "cpu"   ? "CPUOnly"
                  : suffix == "gpu" ? "CPUAndGPU"
                  : suffix == "ane" ? "CPUAndNeuralEngine"
                                    : "ALL";
  return request;
}

}  // namespace le::audio
