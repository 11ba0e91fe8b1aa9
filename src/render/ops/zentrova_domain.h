// The process-wide custom-op domain "com.zentrova" and its registration on session options.
#pragma once

#include <onnxruntime_cxx_api.h>

namespace le {

// The domain, created with its operators on first use (thread-safe) and never destroyed: ONNX
// Runtime keeps a pointer to it in every session options object and session it was added to, so it
// must outlive all of them.
Ort::CustomOpDomain& zentrovaDomain();

// Puts the operators of the domain into it: GridSampleFast (and the warp operator beside it).
void domainOps(Ort::CustomOpDomain& domain);

// Adds the com.zentrova domain to the session options.
void registerGridSampleFast(Ort::SessionOptions& options);

}  // namespace le
