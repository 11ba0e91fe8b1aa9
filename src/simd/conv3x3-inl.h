// Per-target 3x3 convolution (stride 1, zero padding 1) over a range of (image, output channel)
// pairs, reading a zero-padded copy of the current image from the thread's scratch buffer.
//
// Neighbouring output channels of one image are computed together, a block of channels times rows
// times vectors along x at a time: every input vector loaded serves each channel and row of the
// block, and the block's accumulators are independent chains, so the adds overlap instead of
// waiting on one running sum. Every output pixel still sums its products in one order (input
// channel, then kernel row, then kernel column, from zero; the bias last) whichever block computes
// it, so the result does not depend on how the range was split.
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

// One run of output channels of one image: the zero-padded image (channel c's input pixel (y, x)
// at padded[(c * rows + y + 1) * pitch + x + 1]), the weights of the run's first channel
// ([cin][3][3], the next channel's cin * 9 floats further), its bias and its first output plane.
struct ConvRun {
  const float* padded;
  size_t pitch;
  size_t rows;
  size_t cin;
  size_t height;
  size_t width;
  const float* weights;
  const float* bias;
  float* out;
};

// Zeroes the padded buffer of an image: its border and the columns right of the image stay zero
// while CopyInterior replaces the rest image after image.
inline void ZeroPadded(size_t cin, size_t rows, size_t pitch, float* HWY_RESTRICT padded) {
  std::fill(padded, padded + cin * rows * pitch, 0.0f);
}

// Copies one image into the interior of a zeroed padded buffer.
inline void CopyInterior(const float* HWY_RESTRICT image, size_t cin, size_t height, size_t width,
                         size_t pitch, float* HWY_RESTRICT padded) {
  const size_t rows = height + 2;
  for (size_t c = 0; c < cin; ++c) {
    for (size_t y = 0; y < height; ++y) {
      std::memcpy(padded + (c * rows + y + 1) * pitch + 1, image + (c * height + y) * width,
                  sizeof(float) * width);
    }
  }
}

// Stores the lanes of v that fall inside the row (columns below width); the masked store writes
// no other lane, so the row's neighbours, possibly another thread's plane, are left alone.
template <class D, class V>
HWY_INLINE void StoreInRow(D d, V v, float* HWY_RESTRICT row, size_t x, size_t width) {
  if (x + hn::Lanes(d) <= width) {
    hn::StoreU(v, d, row + x);
  } else {
    hn::BlendedStore(v, hn::FirstN(d, width - x), d, row + x);
  }
}

// kChannels channels times kRows output rows from y times kVectors vectors from column x. Input
// row i of the window (padded row y + i) feeds output row r through kernel row i - r.
template <int kChannels, int kRows, int kVectors, class D>
HWY_INLINE void ConvBlock(D d, const ConvRun& run, size_t y, size_t x) {
  using V = hn::Vec<D>;
  const size_t lanes = hn::Lanes(d);
  const size_t channelTaps = run.cin * 9;
  V sum[kChannels][kRows][kVectors];
  for (int g = 0; g < kChannels; ++g) {
    for (int r = 0; r < kRows; ++r) {
      for (int v = 0; v < kVectors; ++v) sum[g][r][v] = hn::Zero(d);
    }
  }
  for (size_t c = 0; c < run.cin; ++c) {
    const float* window = run.padded + (c * run.rows + y) * run.pitch + x;
    const float* w = run.weights + c * 9;
    for (int i = 0; i < kRows + 2; ++i) {
      for (int kx = 0; kx < 3; ++kx) {
        V in[kVectors];
        for (int v = 0; v < kVectors; ++v) in[v] = hn::LoadU(d, window + i * run.pitch + kx + v * lanes);
        for (int r = 0; r < kRows; ++r) {
          const int ky = i - r;
          if (ky < 0 || ky > 2) continue;
          for (int g = 0; g < kChannels; ++g) {
            const V weight = hn::Set(d, w[g * channelTaps + ky * 3 + kx]);
            for (int v = 0; v < kVectors; ++v) {
              sum[g][r][v] = hn::Add(sum[g][r][v], hn::Mul(weight, in[v]));
            }
          }
        }
      }
    }
  }
  for (int g = 0; g < kChannels; ++g) {
    const V bias = hn::Set(d, run.bias[g]);
    for (int r = 0; r < kRows; ++r) {
      float* row = run.out + (g * run.height + y + r) * run.width;
      for (int v = 0; v < kVectors; ++v) {
        StoreInRow(d, hn::Add(sum[g][r][v], bias), row, x + v * lanes, run.width);
      }
    }
  }
}

// ConvBlock with count vectors (1 <= count <= kVectors).
template <int kChannels, int kRows, int kVectors, class D>
HWY_INLINE void ConvBlockOf(size_t count, D d, const ConvRun& run, size_t y, size_t x) {
  if constexpr (kVectors > 1) {
    if (count < kVectors) {
      ConvBlockOf<kChannels, kRows, kVectors - 1>(count, d, run, y, x);
      return;
    }
  }
  ConvBlock<kChannels, kRows, kVectors>(d, run, y, x);
}

// Output rows [y, y + kRows) of the run's kChannels channels, in blocks of up to kVectors vectors.
template <int kChannels, int kRows, int kVectors, class D>
HWY_INLINE void ConvRows(D d, const ConvRun& run, size_t y) {
  const size_t lanes = hn::Lanes(d);
  const size_t perRow = (run.width + lanes - 1) / lanes;
  for (size_t i = 0; i < perRow; i += kVectors) {
    ConvBlockOf<kChannels, kRows, kVectors>(std::min<size_t>(kVectors, perRow - i), d, run, y,
                                            i * lanes);
  }
}

// Every output pixel of the run's kChannels channels, kRows rows at a time and the rows left over
// one by one.
template <int kChannels, int kRows, int kVectors, class D>
HWY_NOINLINE void ConvChannels(D d, const ConvRun& run) {
  size_t y = 0;
  for (; y + kRows <= run.height; y += kRows) ConvRows<kChannels, kRows, kVectors>(d, run, y);
  for (; y < run.height; ++y) ConvRows<kChannels, 1, kVectors>(d, run, y);
}

// Blocks of at most 8 accumulators, which with the loaded vectors fit the 16 registers of the
// narrower targets: 4 channels x 2 vectors, 2 channels x 4 vectors, or one channel x 2 rows x 4
// vectors.
template <class D>
void ConvChannelRun(D d, const ConvRun& run, int channels) {
  if (channels == 4) {
    ConvChannels<4, 1, 2>(d, run);
  } else if (channels == 2) {
    ConvChannels<2, 1, 4>(d, run);
  } else {
    ConvChannels<1, 2, 4>(d, run);
  }
}

void Conv3x3Range(const float* HWY_RESTRICT in, int /*images*/, int cin, int height, int width,
                  const float* HWY_RESTRICT weights, const float* HWY_RESTRICT bias, int cout,
                  float* HWY_RESTRICT out, int begin, int end) {
  if (begin >= end || height <= 0 || width <= 0) return;
  const hn::ScalableTag<float> d;
  // Rows padded to a multiple of 16 floats plus the two border columns, so that a full vector
  // starting at any column below the rounded width stays inside its row for every target width.
  const size_t rounded = (static_cast<size_t>(width) + 15) / 16 * 16;
  const size_t pitch = rounded + 2;
  const size_t rows = static_cast<size_t>(height) + 2;
  const size_t plane = static_cast<size_t>(height) * width;
  float* padded = convScratch(static_cast<size_t>(cin) * rows * pitch);
  ZeroPadded(cin, rows, pitch, padded);
  int paddedImage = -1;
  for (int k = begin; k < end;) {
    const int n = k / cout;
    const int o = k % cout;
    if (n != paddedImage) {
      CopyInterior(in + static_cast<size_t>(n) * cin * plane, cin, height, width, pitch, padded);
      paddedImage = n;
    }
    const int left = std::min(end - k, cout - o);  // channels of this image still in the range
    const int channels = left >= 4 ? 4 : left >= 2 ? 2 : 1;
    const ConvRun run{padded,
                      pitch,
                      rows,
                      static_cast<size_t>(cin),
                      static_cast<size_t>(height),
                      static_cast<size_t>(width),
                      weights + static_cast<size_t>(o) * cin * 9,
                      bias + o,
                      out + static_cast<size_t>(k) * plane};
    ConvChannelRun(d, run, channels);
    k += channels;
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace le::simd
HWY_AFTER_NAMESPACE();

#endif  // LE_SIMD_CONV3X3_INL_H_
