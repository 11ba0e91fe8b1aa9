// Int8 convolution weights packed once per node into the layout of the dot-product tiles, with the
// per-output-channel sums the dequantisation subtracts.
#pragma once

#include <cstdint>
#include <vector>

#include "simd/int8_dot.h"

namespace le {

// Weights [M, Cg, kH, kW] of a convolution with `group` groups (M / group output channels each),
// stored per group and per block of simd::kInt8DotBlock output channels as
// [taps][quads][kInt8DotBlock][kInt8DotDepth]: input channels rounded up to quads of four and output
// channels up to whole blocks, the extra entries zero.
struct Int8PackedWeights {
  int64_t M = 0, Cg = 0, taps = 0, group = 1;
  int64_t quads = 0;   // ceil(Cg / 4)
  int64_t blocks = 0;  // blocks per group: ceil((M / group) / kInt8DotBlock)
  std::vector<int8_t> packed;
  std::vector<int32_t> weightSum;  // per output channel, over every tap and input channel

  size_t blockBytes() const { return static_cast<size_t>(taps * quads) * simd::kInt8DotBlock * simd::kInt8DotDepth; }
  const int8_t* block(int64_t g, int64_t b) const { return packed.data() + static_cast<size_t>(g * blocks + b) * blockBytes(); }
  // The weight of output lane o of block (g, b), input channel c of the group, tap t.
  int8_t at(int64_t g, int64_t b, int64_t o, int64_t c, int64_t t) const {
    return block(g, b)[((t * quads + c / simd::kInt8DotDepth) * simd::kInt8DotBlock + o) * simd::kInt8DotDepth +
                       c % simd::kInt8DotDepth];
  }
};

Int8PackedWeights packInt8Weights(const int8_t* W, int64_t M, int64_t Cg, int64_t kH, int64_t kW, int64_t group);

}  // namespace le
