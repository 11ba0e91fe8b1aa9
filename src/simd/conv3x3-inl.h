// Per-target 3x3 convolution (stride 1, zero padding 1) over a range of (image, output channel)
// pairs, reading a zero-padded copy of the current image from the thread's scratch buffer.
#if defined(LE_SIMD_CONV3X3_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef LE_SIMD_CONV3X3_INL_H_
#undef LE_SIMD_CONV3X3_INL_H_
#else
#define LE_SIMD_CONV3X3_INL_H_
#endif

#include <algorithm>
#include <cstring>
#include <hwy/highway.h>

#include "simd/conv_scratch.h"

HWY_BEFORE_NAMESPACE();
namespace le::simd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Copies one image into padded rows of pitch floats with a zero border: input pixel (y, x) lands
// at row y + 1, column x + 1.
inline void PadImage(const float* HWY_RESTRICT image, int cin, int height, int width,
                     size_t pitch, float* HWY_RESTRICT padded) {
  const size_t rows = static_cast<size_t>(height) + 2;
  std::fill(padded, padded + static_cast<size_t>(cin) * rows * pitch, 0.0f);
  for (int c = 0; c < cin; ++c) {
    for (int y = 0; y < height; ++y) {
      std::memcpy(padded + (c * rows + y + 1) * pitch + 1,
                  image + (static_cast<size_t>(c) * height + y) * width, sizeof(float) * width);
    }
  }
}

void Conv3x3Range(const float* HWY_RESTRICT in, int /*images*/, int cin, int height, int width,
                  const float* HWY_RESTRICT weights, const float* HWY_RESTRICT bias, int cout,
                  float* HWY_RESTRICT out, int begin, int end) {
  if (begin >= end || height <= 0 || width <= 0) return;
  const hn::ScalableTag<float> d;
  const size_t lanes = hn::Lanes(d);
  // Rows padded to a multiple of 16 floats plus the two border columns, so that a full vector
  // starting at any column below the rounded width stays inside its row for every target width.
  const size_t rounded = (static_cast<size_t>(width) + 15) / 16 * 16;
  const size_t pitch = rounded + 2;
  const size_t rows = static_cast<size_t>(height) + 2;
  const size_t plane = static_cast<size_t>(height) * width;
  float* padded = convScratch(static_cast<size_t>(cin) * rows * pitch);
  HWY_ALIGN float tail[hn::MaxLanes(d)];
  int paddedImage = -1;
  for (int k = begin; k < end; ++k) {
    const int image = k / cout;
    const int o = k % cout;
    if (image != paddedImage) {
      PadImage(in + static_cast<size_t>(image) * cin * plane, cin, height, width, pitch, padded);
      paddedImage = image;
    }
    const float* w = weights + static_cast<size_t>(o) * cin * 9;
    float* dst = out + static_cast<size_t>(k) * plane;
    const auto b = hn::Set(d, bias[o]);
    for (int y = 0; y < height; ++y) {
      for (size_t x = 0; x < static_cast<size_t>(width); x += lanes) {
        auto sum = hn::Zero(d);
        for (int c = 0; c < cin; ++c) {
          const float* src = padded + (c * rows + y) * pitch + x;
          const float* tap = w + c * 9;
          for (int ky = 0; ky < 3; ++ky) {
            for (int kx = 0; kx < 3; ++kx) {
              const auto product =
                  hn::Mul(hn::Set(d, tap[ky * 3 + kx]), hn::LoadU(d, src + ky * pitch + kx));
              sum = hn::Add(sum, product);
            }
          }
        }
        sum = hn::Add(sum, b);
        float* row = dst + static_cast<size_t>(y) * width;
        if (x + lanes <= static_cast<size_t>(width)) {
          hn::StoreU(sum, d, row + x);
        } else {
          hn::Store(sum, d, tail);
          std::copy(tail, tail + (width - x), row + x);
        }
      }
    }
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace le::simd
HWY_AFTER_NAMESPACE();

#endif  // LE_SIMD_CONV3X3_INL_H_
