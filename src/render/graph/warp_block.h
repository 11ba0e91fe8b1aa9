// The director's warp block: the source cone below P_rgb, the one bilinear GridSample of its
// planes at the per-frame grid, and the Slice / Mul / Sub / Add recombination of the sampled
// planes; and the load-time rewrite that replaces the whole block by one com.zentrova::WarpDirector
// node computing the same curvature-corrected sample.
#pragma once

#include <cstddef>
#include <string>

#include "render/graph/onnx_proto_writer.h"

namespace le {

inline constexpr const char* kWarpDirectorOp = "WarpDirector";
inline constexpr const char* kWarpDirectorNode = "le_warp_director";

struct WarpBlock {
  std::string source;  // P_rgb
  std::string grid;
  std::string exit;    // the one block tensor read outside the block
  size_t nodeCount = 0;
};

// The node count of the block (cone, GridSample, recombination), or 0 with a reason when the graph
// has none. Malformed bytes throw the reader's "onnx: ..." errors.
size_t findWarpBlock(const GsBytes& model, WarpBlock* block, std::string& reason);

// Replaces the block by one WarpDirector node (inputs P_rgb and the grid, output the block's exit)
// at the GridSample's position and imports the com.zentrova domain. Returns the number of nodes
// removed, or 0 with a reason and the bytes untouched.
size_t rewriteWarpBlockToCustomOp(GsBytes& model, std::string& reason);

}  // namespace le
