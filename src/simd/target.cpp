#include <hwy/targets.h>

#include "simd/simd.h"

namespace le::simd {

const char* target() {
  const int64_t supported = hwy::SupportedTargets();
  return hwy::TargetName(supported & -supported);
}

}  // namespace le::simd
