// A graph read once for the structural rewrites: every node's view in order, which node produces
// each tensor, which nodes read it, and the names of initializers, graph inputs and outputs.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "render/graph/onnx_node_view.h"
#include "render/graph/onnx_proto_reader.h"

namespace le {

struct GsGraphIndex {
  std::vector<GsNodeView> nodes;
  // Each node's NodeProto bytes, pointing into the graph that was indexed.
  std::vector<GsSlice> payloads;
  std::set<std::string> initializers;
  std::set<std::string> inputs;
  std::set<std::string> outputs;
  // Tensor -> the index of the node that produces it (the first, should a graph name it twice).
  std::map<std::string, size_t> producer;
  // Tensor -> the indices of the nodes that read it, in graph order (a node reading a tensor
  // twice appears once).
  std::map<std::string, std::vector<size_t>> readers;

  const std::vector<size_t>& readersOf(const std::string& tensor) const;
};

GsGraphIndex gsIndexGraph(GsSlice graph);

}  // namespace le
