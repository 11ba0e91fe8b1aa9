#include "render/graph/source_cone.h"

#include <vector>

#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_rebuild.h"

namespace le {

namespace {

// Walks producers back from the boundary, marking cone members. False with a reason at a leaf that
// is neither P_rgb nor an initializer nor a Constant's output.
bool walkProducers(const GsGraphIndex& graph, const std::string& boundary, GsSourceCone& cone, std::string& reason) {
  std::vector<std::string> pending{boundary};
  std::set<std::string> seen;
  while (!pending.empty()) {
    const std::string tensor = pending.back();
    pending.pop_back();
    if (tensor.empty() || tensor == kPriorInput || graph.initializers.count(tensor) || !seen.insert(tensor).second)
      continue;
    const auto producer = graph.producer.find(tensor);
    if (producer == graph.producer.end()) {
      reason = graph.inputs.count(tensor) ? "cone reads graph input '" + tensor + "'"
                                          : "cone leaf '" + tensor + "' has no producer";
      return false;
    }
    const GsNodeView& node = graph.nodes[producer->second];
    if (node.opType == "Constant" || cone.member[producer->second]) continue;
    cone.member[producer->second] = true;
    ++cone.size;
    cone.produced.insert(node.outputs.begin(), node.outputs.end());
    pending.insert(pending.end(), node.inputs.begin(), node.inputs.end());
  }
  return true;
}

// False with a reason when a node outside the cone reads what only the cone may read.
bool checkNoEscape(const GsGraphIndex& graph, const std::string& boundary, GsConeUse use, const GsSourceCone& cone,
                   std::string& reason) {
  for (size_t i = 0; i < graph.nodes.size(); ++i) {
    if (cone.member[i]) continue;
    const GsNodeView& node = graph.nodes[i];
    for (const std::string& in : node.inputs) {
      if (in == kPriorInput && use == GsConeUse::Hoist) {
        reason = std::string(kPriorInput) + " is also read outside the cone by " + node.opType;
        return false;
      }
      if (in != boundary && cone.produced.count(in)) {
        reason = "cone value '" + in + "' escapes to " + node.opType;
        return false;
      }
    }
  }
  return true;
}

// The graph index and cone behind both hoist graphs, with the shared refusals.
bool hoistCone(const GsBytes& model, const std::string& boundary, GsGraphIndex& graph, GsSourceCone& cone,
               std::string& reason) {
  const GsSlice graphBytes = gsGraphOf(gsSliceOf(model));
  if (graphBytes.size == 0) {
    reason = "no graph";
    return false;
  }
  graph = gsIndexGraph(graphBytes);
  if (!graph.inputs.count(kPriorInput)) {
    reason = "no P_rgb input";
    return false;
  }
  return gsSourceCone(graph, boundary, GsConeUse::Hoist, cone, reason);
}

}  // namespace

bool gsSourceCone(const GsGraphIndex& graph, const std::string& boundary, GsConeUse use, GsSourceCone& cone,
                  std::string& reason) {
  cone = GsSourceCone{};
  cone.member.assign(graph.nodes.size(), false);
  return walkProducers(graph, boundary, cone, reason) && checkNoEscape(graph, boundary, use, cone, reason);
}

std::set<std::string> gsInitializersReadBy(const GsGraphIndex& graph, const std::vector<bool>& dropped) {
  std::set<std::string> read;
  for (size_t i = 0; i < graph.nodes.size(); ++i) {
    if (dropped[i]) continue;
    const std::string& op = graph.nodes[i].opType;
    // A control-flow body may read any outer initializer without naming it as a node input.
    if (op == "If" || op == "Loop" || op == "Scan") return graph.initializers;
    for (const std::string& in : graph.nodes[i].inputs)
      if (graph.initializers.count(in)) read.insert(in);
  }
  return read;
}

size_t findSourceConeBoundary(const GsBytes& model, std::string& boundaryName) {
  const GsGraphIndex graph = gsIndexGraph(gsGraphOf(gsSliceOf(model)));
  size_t count = 0;
  std::string tip;
  for (size_t i : graph.readersOf(kPriorInput)) {
    const GsNodeView& node = graph.nodes[i];
    if (node.opType != "Concat" || !node.defaultDomain()) continue;
    ++count;
    if (!node.outputs.empty()) tip = node.outputs[0];
  }
  if (count == 1) boundaryName = tip;
  return count;
}

bool buildSourceConePrep(const GsBytes& model, const std::string& boundary, GsBytes& prepBytes, std::string& reason) {
  GsGraphIndex graph;
  GsSourceCone cone;
  if (!hoistCone(model, boundary, graph, cone, reason)) return false;
  if (cone.size == 0) {
    reason = "empty cone";
    return false;
  }
  GsGraphEdit edit;
  edit.dropNode.resize(graph.nodes.size());
  for (size_t i = 0; i < graph.nodes.size(); ++i) edit.dropNode[i] = !cone.member[i] && graph.nodes[i].opType != "Constant";
  const std::set<std::string> initializers = gsInitializersReadBy(graph, edit.dropNode);
  edit.keepInitializers = &initializers;
  edit.keepOnlyPrgbInput = true;
  edit.dropAllOutputs = true;
  edit.valueInfoName = boundary;
  edit.valueInfoDims = {-1, -1, -1, -1};
  edit.valueInfoField = kGraphOutput;
  gsRebuild(model, edit, prepBytes);
  return true;
}

bool buildSourceConePerFrame(const GsBytes& model, const std::string& boundary, const int64_t* dims, size_t dimCount,
                             GsBytes& perFrameBytes, std::string& reason) {
  if (dimCount != 4) {
    reason = "the boundary has " + std::to_string(dimCount) + " dimensions, not 4";
    return false;
  }
  GsGraphIndex graph;
  GsSourceCone cone;
  if (!hoistCone(model, boundary, graph, cone, reason)) return false;
  GsGraphEdit edit;
  edit.dropNode = cone.member;
  const std::set<std::string> initializers = gsInitializersReadBy(graph, edit.dropNode);
  edit.keepInitializers = &initializers;
  edit.dropPrgbInput = true;
  edit.valueInfoName = boundary;
  edit.valueInfoDims.assign(dims, dims + dimCount);
  edit.valueInfoField = kGraphInput;
  gsRebuild(model, edit, perFrameBytes);
  return true;
}

}  // namespace le
