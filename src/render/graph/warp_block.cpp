#include "render/graph/warp_block.h"

#include <set>
#include <vector>

#include "render/graph/gridsample_rewrite.h"
#include "render/graph/onnx_emitter.h"
#include "render/graph/onnx_graph_index.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_rebuild.h"
#include "render/graph/onnx_tensor_reader.h"
#include "render/graph/source_cone.h"

namespace le {

namespace {

// The block as located in one graph index.
struct LocatedBlock {
  WarpBlock block;
  std::vector<bool> member;  // per node
  size_t sampler = 0;        // the GridSample's node index
};

bool isSampler(const GsNodeView& node) {
  return (node.opType == "GridSample" && node.defaultDomain()) ||
         (node.opType == kGridSampleFastOp && node.domain == kZentrovaDomain);
}

bool fail(std::string& reason, const std::string& why) {
  reason = why;
  return false;
}

// The one Concat reading P_rgb: its output is the cone's tip.
bool findTip(const GsGraphIndex& graph, std::string& tip, std::string& reason) {
  size_t count = 0;
  for (size_t i : graph.readersOf(kPriorInput)) {
    const GsNodeView& node = graph.nodes[i];
    if (node.opType != "Concat" || !node.defaultDomain()) continue;
    ++count;
    tip = node.outputs.empty() ? std::string() : node.outputs[0];
  }
  if (count != 1 || tip.empty())
    return fail(reason, "not one Concat consuming " + std::string(kPriorInput) + " (found " + std::to_string(count) + ")");
  return true;
}

// The one sampler of the tip, which must be the bilinear / border / align_corners=0 kind the
// WarpDirector kernel computes.
bool findSampler(const GsGraphIndex& graph, const std::string& tip, size_t& sampler, std::string& reason) {
  size_t count = 0;
  std::string otherReader;
  for (size_t i : graph.readersOf(tip)) {
    if (!isSampler(graph.nodes[i])) {
      otherReader = graph.nodes[i].opType;
      continue;
    }
    sampler = i;
    ++count;
  }
  if (count == 0) return fail(reason, "no GridSample consuming '" + tip + "'");
  if (count > 1) return fail(reason, "two GridSamples on the cone's tip");
  // The planes exist only inside the warp node once it replaces the block.
  if (!otherReader.empty()) return fail(reason, "the cone's tip '" + tip + "' is also read by " + otherReader);
  const GsNodeView& node = graph.nodes[sampler];
  if (node.opType == "GridSample" && !gsIsRewritableGridSample(graph.payloads[sampler]))
    return fail(reason, "the fused GridSample is not bilinear/border/align_corners=0");
  if (node.outputs.empty() || node.outputs[0].empty()) return fail(reason, "the fused GridSample has no output");
  if (node.inputs.size() < 2 || !graph.producer.count(node.inputs[1]))
    return fail(reason, "the grid has no producer");
  return true;
}

// Grows the recombination from the Slices of the sampled planes through every Mul, Sub or Add that
// reads a tensor the block produces. Returns the number of nodes added.
size_t growRecombination(const GsGraphIndex& graph, const std::string& sampled, LocatedBlock& located,
                         std::set<std::string>& produced) {
  size_t added = 0;
  produced.insert(sampled);
  for (bool grew = true; grew;) {
    grew = false;
    for (size_t i = 0; i < graph.nodes.size(); ++i) {
      const GsNodeView& node = graph.nodes[i];
      if (located.member[i] || !node.defaultDomain()) continue;
      const bool slice = node.opType == "Slice" && !node.inputs.empty() && node.inputs[0] == sampled;
      const bool arithmetic = node.opType == "Mul" || node.opType == "Sub" || node.opType == "Add";
      bool readsBlock = false;
      for (const std::string& in : node.inputs) readsBlock = readsBlock || (produced.count(in) && in != sampled);
      if (!slice && !(arithmetic && readsBlock)) continue;
      located.member[i] = true;
      produced.insert(node.outputs.begin(), node.outputs.end());
      ++added;
      grew = true;
    }
  }
  return added;
}

// The block tensors read by a node outside the block or named as graph outputs.
std::set<std::string> blockExits(const GsGraphIndex& graph, const std::vector<bool>& member,
                                 const std::set<std::string>& produced) {
  std::set<std::string> exits;
  for (const std::string& tensor : produced) {
    if (graph.outputs.count(tensor)) exits.insert(tensor);
    for (size_t reader : graph.readersOf(tensor))
      if (!member[reader]) exits.insert(tensor);
  }
  return exits;
}

bool locateBlock(const GsGraphIndex& graph, LocatedBlock& located, std::string& reason) {
  std::string tip;
  size_t sampler = 0;
  if (!findTip(graph, tip, reason) || !findSampler(graph, tip, sampler, reason)) return false;
  GsSourceCone cone;
  if (!gsSourceCone(graph, tip, GsConeUse::WarpNode, cone, reason)) return false;
  located.member = cone.member;
  located.member[sampler] = true;
  located.sampler = sampler;
  std::set<std::string> produced = cone.produced;
  const GsNodeView& sampling = graph.nodes[sampler];
  const size_t recombination = growRecombination(graph, sampling.outputs[0], located, produced);
  const std::set<std::string> exits = blockExits(graph, located.member, produced);
  if (exits.size() != 1)
    return fail(reason, "the recombination has " + std::to_string(exits.size()) + " exits, not 1");
  located.block = WarpBlock{kPriorInput, sampling.inputs[1], *exits.begin(), cone.size + 1 + recombination};
  return true;
}

bool locate(const GsBytes& model, GsGraphIndex& graph, LocatedBlock& located, std::string& reason) {
  const GsSlice graphBytes = gsGraphOf(gsSliceOf(model));
  if (graphBytes.size == 0) return fail(reason, "no graph");
  graph = gsIndexGraph(graphBytes);
  return locateBlock(graph, located, reason);
}

// The tensors the block produced that no longer exist once it is one node (all but its exit).
std::set<std::string> removedTensors(const GsGraphIndex& graph, const LocatedBlock& located) {
  std::set<std::string> removed;
  for (size_t i = 0; i < graph.nodes.size(); ++i)
    if (located.member[i]) removed.insert(graph.nodes[i].outputs.begin(), graph.nodes[i].outputs.end());
  removed.erase(located.block.exit);
  return removed;
}

// The graph with the block replaced by the warp node; false when the GridSample is no longer at the
// position the first pass found it.
bool replaceBlock(GsSlice graphBytes, const GsGraphIndex& graph, const LocatedBlock& located, GsBytes& out) {
  const std::set<std::string> removed = removedTensors(graph, located);
  const std::set<std::string> initializers = gsInitializersReadBy(graph, located.member);
  size_t nodeIndex = 0;
  GsReader reader(graphBytes);
  GsField f;
  while (reader.next(f)) {
    if (f.wireType == 2 && f.number == kGraphNode) {
      const size_t i = nodeIndex++;
      if (i == located.sampler) {
        if (!isSampler(gsViewNode(f.payload))) return false;
        gsNode(out, kWarpDirectorOp, {located.block.source, located.block.grid}, located.block.exit,
               kWarpDirectorNode, {}, kZentrovaDomain);
      }
      if (i < located.member.size() && located.member[i]) continue;
    } else if (f.wireType == 2 && f.number == kGraphValueInfo && removed.count(gsFirstStr(f.payload, kValueInfoName))) {
      continue;
    } else if (f.wireType == 2 && f.number == kGraphInitializer && !initializers.count(gsFirstStr(f.payload, kTensorName))) {
      continue;
    }
    gsPutRaw(out, f.raw);
  }
  return nodeIndex == graph.nodes.size();
}

}  // namespace

size_t findWarpBlock(const GsBytes& model, WarpBlock* block, std::string& reason) {
  if (model.empty() || !block) return fail(reason, "no out param");
  GsGraphIndex graph;
  LocatedBlock located;
  if (!locate(model, graph, located, reason)) return 0;
  *block = located.block;
  return block->nodeCount;
}

size_t rewriteWarpBlockToCustomOp(GsBytes& model, std::string& reason) {
  if (model.empty()) return fail(reason, "no out param");
  GsGraphIndex graph;
  LocatedBlock located;
  if (!locate(model, graph, located, reason)) return 0;
  GsBytes rebuilt;
  if (!replaceBlock(gsGraphOf(gsSliceOf(model)), graph, located, rebuilt))
    return fail(reason, "the GridSample moved between passes");
  GsBytes out = gsWithGraph(model, rebuilt);
  gsImportDomain(out, kZentrovaDomain, 1);
  model.swap(out);
  return located.block.nodeCount;
}

}  // namespace le
