// Self-check of a rewritten model: every node input that some node produces must be produced by an
// earlier node.
#pragma once

#include <string>

#include "render/graph/onnx_proto_writer.h"

namespace le {

// Empty when the graph is topologically ordered, else the first violation:
// "self-check: node <i> reads '<tensor>' produced at <j> — the rewritten graph is not
// topologically ordered". Malformed bytes throw the reader's "onnx: ..." errors.
std::string gsTopoSelfCheck(const GsBytes& model);

}  // namespace le
