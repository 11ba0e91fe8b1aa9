// Layout of the curvature planes the director's warp samples, shared by the kernel and its callers.
#pragma once

#include <cstddef>

namespace le::simd {

// The warp reads a 3-channel source (R, G, B planes).
constexpr size_t kWarpChannels = 3;
// Per channel and pixel: the value v and its second differences vxx, vyy and vxxyy.
constexpr size_t kWarpKinds = 4;
// Floats of one pixel in the planes: channel-major groups of the four kinds, so that the bilinear
// gather reads each corner as one contiguous run.
constexpr size_t kWarpPixelFloats = kWarpChannels * kWarpKinds;

}  // namespace le::simd
