// Load-time rewrite of the director head's cubic x2 Resize into Pad(edge, 2) + depthwise 5x5 Conv +
// DepthToSpace(2, CRD): the same filter as the cubic Resize to float round-off, at a fraction of
// the cost of ONNX Runtime's cubic Resize kernel.
#pragma once

#include <cstddef>

#include "render/graph/onnx_proto_writer.h"

namespace le {

// Replaces the one qualifying Resize of the graph (cubic, half_pixel, no antialias, no
// exclude_outside, no axes, stretch, scales [1, 1, 2, 2] from an initializer or a Constant, its
// data produced by a Conv whose weights give the channel count) by the three-node chain, named
// after the Resize. Returns 1 when it did; 0, with the bytes untouched, when no node or more than
// one node qualifies or the channel count cannot be read.
size_t rewriteHeadCubicResize(GsBytes& modelBytes);

}  // namespace le
