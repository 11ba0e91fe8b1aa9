// The calling thread's buffer for the zero-padded input image of conv3x3Range.
#pragma once

#include <cstddef>

namespace le::simd {

// At least floats elements, private to the calling thread; grows to the largest request seen and
// is reused, so its contents are unspecified.
float* convScratch(size_t floats);

}  // namespace le::simd
