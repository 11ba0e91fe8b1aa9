// libFuzzer target over the motion directory's meta reader: any input, read as the text of
// meta.json, either gives counts the motion generator can size its tables by and finite gains, or
// is refused with one of the reader's messages. Anything else (a crash, an out-of-bounds read under
// the sanitizers, another exception, a broken invariant) is a finding.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "audio/motion_dir.h"

namespace {

bool isReaderRefusal(const std::string& text) {
  return text.rfind("meta.json: missing ", 0) == 0 || text.rfind("meta.json: bad ", 0) == 0 ||
         text == "le_motion: n_src != nt unsupported";
}

void checkAccepted(const le::audio::MotionMeta& m) {
  constexpr int kMaxCount = 1000000000;
  if (m.nt < 1 || m.nt > kMaxCount || m.nSrc != m.nt || m.nEmo < 1 || m.nEmo > kMaxCount) std::abort();
  if (!std::isfinite(m.sBridge) || !std::isfinite(m.deltaPitch)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    checkAccepted(le::audio::parseMotionMeta(std::string(reinterpret_cast<const char*>(data), size)));
  } catch (const std::runtime_error& e) {
    if (!isReaderRefusal(e.what())) std::abort();
  }
  return 0;
}
