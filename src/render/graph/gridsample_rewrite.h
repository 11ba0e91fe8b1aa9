// Load-time rewrite of standard GridSample nodes (bilinear, border padding, align_corners 0) into
// the com.zentrova::GridSampleFast operator, and detection of graphs that already carry it.
#pragma once

#include <cstddef>

#include "render/graph/onnx_proto_reader.h"
#include "render/graph/onnx_proto_writer.h"

namespace le {

inline constexpr const char* kZentrovaDomain = "com.zentrova";
inline constexpr const char* kGridSampleFastOp = "GridSampleFast";

// True for a NodeProto that GridSampleFast computes exactly: op_type "GridSample" in the default
// domain, `mode` present and "bilinear" or "linear", `padding_mode` present and "border",
// `align_corners` absent or 0.
bool gsIsRewritableGridSample(GsSlice node);

// True when some graph node is com.zentrova::GridSampleFast.
bool graphHasBakedGridSampleFast(const GsBytes& modelBytes);

// Rewrites every rewritable GridSample node into GridSampleFast (attributes dropped; inputs,
// outputs and name kept) and imports the com.zentrova domain once. Returns the number of rewritten
// nodes; the bytes are replaced only when it is above zero.
size_t rewriteGridSampleToFast(GsBytes& modelBytes);

}  // namespace le
