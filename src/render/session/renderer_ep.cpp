#include "render/session/renderer_ep.h"

#include <onnxruntime_cxx_api.h>

#include <stdexcept>

namespace le {

EpRequest parseEp(const std::string& ep) {
  EpRequest request;
  if (ep.empty()) return request;
  if (ep.rfind("xnnpack", 0) == 0)
    throw std::runtime_error(
        "Renderer: ep '" + ep +
        "' is REFUSED. This renderer rewrites its graph to Zentrova custom-domain nodes "
        "(com.zentrova::GridSampleFast, and com.zentrova::WarpDirector wherever LE_WARP_NODE is on), and ORT's "
        "XNNPACK execution provider SEGFAULTS while partitioning a graph that carries them. This was measured on "
        "2026-09-15 on a published ombrine2-android AAR as a null dereference inside libonnxruntime.so at session "
        "create, on a door-served and on a hand-staged copy of the same identity. It is a signal, not an "
        "exception, so it cannot be caught and reported. Use the default ep (\"\", the ORT CPU EP), which opens "
        "the same bundle on the same bytes.");
  if (ep.rfind("coreml", 0) != 0) throw std::runtime_error("Renderer: unknown ep '" + ep + "'");
  request.coreml = true;
  if (ep.size() > 7) request.unit = ep.substr(7);
  request.units = request.unit == "cpu"   ? "CPUOnly"
                  : request.unit == "gpu" ? "CPUAndGPU"
                  : request.unit == "ane" ? "CPUAndNeuralEngine"
                                          : "ALL";
  return request;
}

std::string coremlCacheDir(const std::string& bundleDir) {
  const char* version = OrtGetApiBase()->GetVersionString();
  return bundleDir + "/.coreml_cache/ort" + (version && *version ? version : "unknown");
}

}  // namespace le
