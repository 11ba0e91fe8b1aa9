// The load-time rewrites the renderer applies to its director graph before opening the session,
// and the lines that report them.
#pragma once

#include <cstddef>
#include <string>

#include "render/graph/onnx_proto_writer.h"

namespace le {

struct RewriteCounts {
  size_t warpNodes = 0;  // nodes the warp node replaced
  size_t gridSample = 0;
  size_t studentBlend = 0;
  size_t headResize = 0;

  bool any() const { return warpNodes || gridSample || studentBlend || headResize; }
};

// The warp block as one WarpDirector node, when LE_WARP_NODE asks for it (first character neither
// NUL nor '0'); logged either way. domainRegistered: the com.zentrova kernels are on the session.
size_t applyWarpNode(GsBytes& bytes, bool domainRegistered);

// The GridSample rewrite when asked for, then, on every ep, the student-blend normalisation and
// the head resize rewrite.
RewriteCounts applyRewrites(GsBytes& bytes, bool gridSample);

// One line per rewrite that changed the graph, in the order they were applied.
void logRewrites(const RewriteCounts& counts, const std::string& modelKey);

}  // namespace le
