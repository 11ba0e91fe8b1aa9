// libFuzzer target over the teeth head weights reader: any input either loads as one of the two
// heads or is refused with a "teeth: " message; anything else (a crash, an out-of-bounds read
// under the sanitizers, another exception, a head of any other size) is a finding.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "tessera/head_weights.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const le::tessera::HeadWeights head = le::tessera::loadHeadPt({data, size});
    const bool full = head.params() == 4082 && head.syn2Bias.size() == 1;
    const bool candidateOnly = head.params() == 3489 && head.syn0Weight.empty();
    if (!full && !candidateOnly) std::abort();
  } catch (const std::runtime_error& e) {
    if (std::string(e.what()).rfind("teeth: ", 0) != 0) std::abort();
  }
  return 0;
}
