#include "simd/yuv_coefficients.h"

namespace le::simd {

extern const YuvCoefficients kYuvCoefficients{42, -4640, 128, 32512, 153, 48, 100, 0x00FF};

}  // namespace le::simd
