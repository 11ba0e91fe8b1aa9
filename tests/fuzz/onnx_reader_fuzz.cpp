// libFuzzer target over the ONNX reader, the graph rebuild and the GridSample rewrite: any input is
// either read or refused with a reader message; anything else (a crash, an out-of-bounds read under
// the sanitizers, another exception, a broken invariant) is a finding.
#include <cstdint>
#include <cstdlib>

#include "fuzz/onnx_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string result = le::fuzz::onnxFuzzOne(data, size);
  if (!result.empty() && !le::fuzz::isReaderRefusal(result)) std::abort();
  return 0;
}
