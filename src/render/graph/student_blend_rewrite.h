// Load-time normalisation of the blend MatMul of older student graphs into Gemm.
#pragma once

#include <cstddef>

#include "render/graph/onnx_proto_writer.h"

namespace le {

// The student's blend node: a MatMul of this exact name.
inline constexpr const char* kStudentBlendNode = "/s2/blend";

// Rewrites every MatMul named exactly "/s2/blend" in the default domain with two inputs into a
// Gemm (no attributes: alpha = beta = 1, no transposes), its other fields kept in order. Returns
// the number of nodes rewritten; the bytes are replaced only when it is above zero.
size_t normaliseStudentBlend(GsBytes& modelBytes);

}  // namespace le
