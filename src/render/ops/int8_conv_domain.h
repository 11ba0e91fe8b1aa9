// The process-wide custom-op domain "com.zentrova.int8" and its registration on session options.
#pragma once

#include <onnxruntime_cxx_api.h>

namespace le {

// Adds the com.zentrova.int8 domain, with Int8ConvVNNI, to the session options. The domain is
// created on first use (thread-safe) and never destroyed: every session options object and session
// it was added to keeps a pointer to it.
void registerInt8ConvVNNI(Ort::SessionOptions& options);

}  // namespace le
