#include "render/ops/int8_conv_pack.h"

namespace le {

Int8PackedWeights packInt8Weights(const int8_t* W, int64_t M, int64_t Cg, int64_t kH, int64_t kW, int64_t group) {
  using simd::kInt8DotBlock;
  using simd::kInt8DotDepth;
  Int8PackedWeights p;
  p.M = M;
  p.Cg = Cg;
  p.taps = kH * kW;
  p.group = group;
  p.quads = (Cg + kInt8DotDepth - 1) / kInt8DotDepth;
  const int64_t perGroup = M / group;
  p.blocks = (perGroup + kInt8DotBlock - 1) / kInt8DotBlock;
  p.packed.assign(static_cast<size_t>(group * p.blocks) * p.blockBytes(), 0);
  p.weightSum.assign(static_cast<size_t>(M), 0);
  for (int64_t m = 0; m < M; ++m) {
    const int64_t g = m / perGroup, b = m % perGroup / kInt8DotBlock, o = m % perGroup % kInt8DotBlock;
    int8_t* block = p.packed.data() + static_cast<size_t>(g * p.blocks + b) * p.blockBytes();
    for (int64_t c = 0; c < Cg; ++c)
      for (int64_t t = 0; t < p.taps; ++t) {
        const int8_t w = W[(m * Cg + c) * p.taps + t];
        block[((t * p.quads + c / kInt8DotDepth) * kInt8DotBlock + o) * kInt8DotDepth + c % kInt8DotDepth] = w;
        p.weightSum[static_cast<size_t>(m)] += w;
      }
  }
  return p;
}

}  // namespace le
