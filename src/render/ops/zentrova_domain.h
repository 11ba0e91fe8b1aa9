// The process-wide custom-op domain "com.zentrova" and its registration on session options.
#pragma once

#include <onnxruntime_cxx_api.h>

namespace le {

// The domain, created with its operators on first use (thread-safe) and never destroyed: ONNX
// Runtime keeps a pointer to it in every session options object and session it was added to, so it
// must outlive all of them.
Ort::CustomOpDomain& zentrovaDomain();

// Puts the operators of the domain into it: GridSampleFast and WarpDirector.
void domainOps(Ort::CustomOpDomain& domain);

// Both add the one com.zentrova domain, which carries both operators, to the session options.
// Either may be called, or both, any number of times: the domain is added to an options object
// once (a session would reject a domain registered twice).
void registerGridSampleFast(Ort::SessionOptions& options);
void registerWarpDirector(Ort::SessionOptions& options);

}  // namespace le
