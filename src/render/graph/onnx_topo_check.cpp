#include "render/graph/onnx_topo_check.h"

#include <set>
#include <unordered_map>
#include <vector>

#include "render/graph/onnx_graph_reader.h"

namespace le {

std::string gsTopoSelfCheck(const GsBytes& model) {
  std::vector<GsNodeInfo> nodes;
  std::set<std::string> initializers, inputs;
  gsReadGraph(gsGraphOf(gsSliceOf(model)), nodes, initializers, inputs);
  std::unordered_map<std::string, size_t> producer;
  for (size_t i = 0; i < nodes.size(); ++i)
    for (const std::string& out : nodes[i].outputs)
      if (!out.empty()) producer.emplace(out, i);
  for (size_t i = 0; i < nodes.size(); ++i) {
    for (const std::string& in : nodes[i].inputs) {
      if (in.empty()) continue;
      const auto it = producer.find(in);
      if (it != producer.end() && it->second >= i)
        return "self-check: node " + std::to_string(i) + " reads '" + in + "' produced at " +
               std::to_string(it->second) + " — the rewritten graph is not topologically ordered";
    }
  }
  return {};
}

}  // namespace le
