#include "tessera/teeth_pooling.h"

#include <cstddef>

namespace le::tessera {

namespace {

// One plane; the factor is a template argument for the factors the pass uses, so that the block
// loops unroll, and a run-time one otherwise. Both sum in the same order.
template <int kFactor>
void poolPlane(const float* plane, int height, int width, int runtimeFactor, float* out) {
  const int factor = kFactor ? kFactor : runtimeFactor;
  const int outH = height / factor, outW = width / factor;
  const float area = float(factor * factor);
  for (int y = 0; y < outH; ++y)
    for (int x = 0; x < outW; ++x) {
      const float* block = plane + size_t(y * factor) * width + size_t(x * factor);
      float sum = 0.f;
      for (int dy = 0; dy < factor; ++dy)
        for (int dx = 0; dx < factor; ++dx) sum += block[size_t(dy) * width + dx];
      out[size_t(y) * outW + x] = sum / area;
    }
}

}  // namespace

void averagePool(const float* in, int planes, int height, int width, int factor, float* out) {
  const size_t inPlane = size_t(height) * width, outPlane = size_t(height / factor) * (width / factor);
  for (int p = 0; p < planes; ++p) {
    const float* plane = in + size_t(p) * inPlane;
    float* dst = out + size_t(p) * outPlane;
    if (factor == 2)
      poolPlane<2>(plane, height, width, factor, dst);
    else if (factor == 4)
      poolPlane<4>(plane, height, width, factor, dst);
    else
      poolPlane<0>(plane, height, width, factor, dst);
  }
}

}  // namespace le::tessera
