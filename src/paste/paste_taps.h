// Resampling tap tables of the compositor: 32 sub-pixel phases each.
#pragma once

#include <array>
#include <vector>

#include "paste/paste_fixed.h"

namespace le::paste {

// 8-tap Lanczos (a = 4), normalised; tap j weighs source pixel (integer part - 3 + j).
std::array<float, kPhases * 8> lanczos8Taps();
// Keys cubic convolution (a = -0.75); taps weigh source pixels (integer part - 1) .. (+ 2).
std::array<float, kPhases * 4> bicubicTaps();
// Linear weights (1 - t, t).
std::array<float, kPhases * 2> bilinearTaps();
// Normalised Gaussian of ksize taps; a sigma of 0 or below (or NaN) gives the unit impulse, so
// that the unsharp mask leaves the crop unchanged instead of filling it with NaN.
std::vector<float> gaussianTaps(int ksize, float sigma);

}  // namespace le::paste
