// Re-serialises a model under an edit of its graph, copying every untouched field byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "render/graph/onnx_proto_writer.h"

namespace le {

// The edit gsRebuild applies to the graph.
struct GsGraphEdit {
  // One flag per node in graph order (a set flag drops the node); empty keeps every node.
  std::vector<bool> dropNode;
  bool dropPrgbInput = false;
  bool keepOnlyPrgbInput = false;
  bool dropAllOutputs = false;
  // One tensor value info to add as graph field `valueInfoField` (11 input, 12 output) when the
  // name is set; any value_info entry of the same name is removed.
  std::string valueInfoName;
  std::vector<int64_t> valueInfoDims;
  uint32_t valueInfoField = 0;
  // When set, only the initializers it names are kept (the ones the kept nodes still read).
  const std::set<std::string>* keepInitializers = nullptr;
};

// The model re-serialised under the edit: every model field in place, the graph re-emitted at the
// position it had. With an empty edit and minimal length prefixes, out equals model byte for byte.
void gsRebuild(const GsBytes& model, const GsGraphEdit& edit, GsBytes& out);

// The graph with each node either kept (replace returns false) or replaced by the graph fields
// replace appended to out (nodes and initializers, already wrapped as graph fields); every other
// graph field is copied in place.
using GsNodeReplacer = std::function<bool(size_t nodeIndex, GsSlice node, GsBytes& out)>;
GsBytes gsReplaceNodes(GsSlice graph, const GsNodeReplacer& replace);

// The model with its graph field replaced by `graph`; every other field copied in place.
GsBytes gsWithGraph(const GsBytes& model, const GsBytes& graph);

// Appends opset_import { domain, version } to the model unless it already imports the domain.
void gsImportDomain(GsBytes& model, const std::string& domain, int64_t version);

}  // namespace le
