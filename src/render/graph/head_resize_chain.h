// The Pad(edge, 2) + depthwise 5x5 Conv + DepthToSpace(2, CRD) chain that computes a cubic x2
// Resize (half_pixel): each of the four output phases of a source pixel is one depthwise filter
// over the 5 x 5 window around it, the edge padding standing in for the Resize's clamped reads.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "render/graph/onnx_node_view.h"
#include "render/graph/onnx_proto_writer.h"

namespace le {

// Rows and columns of the window both phases of a source pixel read: phase 0 (even outputs) its
// taps in slots 0 to 3, phase 1 (odd outputs) in slots 1 to 4.
inline constexpr int kHeadResizeWindow = 5;

// The four taps of the cubic convolution kernel with coefficient a for a sample at fractional
// offset t past a source pixel (source distances t + 1, t, 1 - t, 2 - t), in double precision and
// divided by their sum.
std::array<double, 4> headResizeTaps(double t, double a);

// Depthwise weights [4 C, 1, 5, 5]: output channel c x 4 + py x 2 + px holds the outer product of
// the row taps of phase py and the column taps of phase px, computed in double.
std::vector<float> headResizeWeights(int64_t channels, double a);

// The chain's graph fields in order: the initializers base + "_pads" and base + "_dw_w", then the
// nodes base + "/pad", base + "/dwconv" and base + "/d2s", the last writing the Resize's output.
// base is the Resize's name, or "/Resize" when it has none.
GsBytes headResizeChain(const GsNodeView& resize, int64_t channels, double a);

}  // namespace le
