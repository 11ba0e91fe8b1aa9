#include "simd/conv_scratch.h"

#include <vector>

namespace le::simd {

float* convScratch(size_t floats) {
  thread_local std::vector<float> buffer;
  if (buffer.size() < floats) buffer.resize(floats);
  return buffer.data();
}

}  // namespace le::simd
