#include "tessera/teeth_pooling.h"

#include <cstddef>

namespace le::tessera {

void averagePool(const float* in, int planes, int height, int width, int factor, float* out) {
  const int outH = height / factor, outW = width / factor;
  const float area = float(factor * factor);
  for (int p = 0; p < planes; ++p) {
    const float* plane = in + size_t(p) * height * width;
    float* dst = out + size_t(p) * outH * outW;
    for (int y = 0; y < outH; ++y)
      for (int x = 0; x < outW; ++x) {
        float sum = 0.f;
        for (int dy = 0; dy < factor; ++dy)
          for (int dx = 0; dx < factor; ++dx) sum += plane[size_t(y * factor + dy) * width + x * factor + dx];
        dst[size_t(y) * outW + x] = sum / area;
      }
  }
}

}  // namespace le::tessera
