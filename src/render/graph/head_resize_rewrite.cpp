#include "render/graph/head_resize_rewrite.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "render/graph/head_resize_chain.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_node_view.h"
#include "render/graph/onnx_rebuild.h"
#include "render/graph/onnx_resize_attrs.h"
#include "render/graph/onnx_tensor_reader.h"

namespace le {

namespace {

constexpr uint32_t kValueInfoName = 1;

// The graph's nodes in order, its initializers by name, the node that produces each tensor, how
// many node inputs read each tensor, and the graph's outputs.
struct GraphIndex {
  std::vector<GsSlice> nodes;
  std::map<std::string, GsSlice> initializers;
  std::map<std::string, size_t> producer;
  std::map<std::string, size_t> readers;
  std::set<std::string> outputs;
};

GraphIndex indexGraph(GsSlice graph) {
  GraphIndex index;
  GsReader reader(graph);
  GsField f;
  while (reader.next(f)) {
    if (f.wireType != 2) continue;
    if (f.number == kGraphInitializer) {
      index.initializers[gsFirstStr(f.payload, kTensorName)] = f.payload;
    } else if (f.number == kGraphNode) {
      const GsNodeView node = gsViewNode(f.payload);
      for (const std::string& out : node.outputs) index.producer[out] = index.nodes.size();
      for (const std::string& in : node.inputs) ++index.readers[in];
      index.nodes.push_back(f.payload);
    } else if (f.number == kGraphOutput) {
      index.outputs.insert(gsFirstStr(f.payload, kValueInfoName));
    }
  }
  return index;
}

bool attributesQualify(GsSlice node) {
  const GsResizeAttrs a = hcReadAttrs(node);
  return a.mode.present && a.mode.value == "cubic" && a.coordinateTransformationMode.present &&
         a.coordinateTransformationMode.value == "half_pixel" && (!a.antialias.present || a.antialias.value == 0) &&
         (!a.excludeOutside.present || a.excludeOutside.value == 0) && !a.axes.present &&
         (!a.keepAspectRatioPolicy.present || a.keepAspectRatioPolicy.value == "stretch");
}

// The tensor behind a name: an initializer, or the value of the Constant node that produces it.
GsSlice constantTensor(const GraphIndex& graph, const std::string& name) {
  const auto init = graph.initializers.find(name);
  if (init != graph.initializers.end()) return init->second;
  const auto made = graph.producer.find(name);
  if (made == graph.producer.end()) return {};
  const GsNodeView node = gsViewNode(graph.nodes[made->second]);
  return node.opType == "Constant" && node.defaultDomain() ? gsConstValue(graph.nodes[made->second]) : GsSlice{};
}

bool scalesDoubleHeightAndWidth(const GraphIndex& graph, const std::string& name) {
  std::vector<float> values;
  return gsTensorFloats(constantTensor(graph, name), values) && values == std::vector<float>{1.f, 1.f, 2.f, 2.f};
}

bool qualifies(const GraphIndex& graph, GsSlice node) {
  const GsNodeView v = gsViewNode(node);
  return v.opType == "Resize" && v.defaultDomain() && v.inputs.size() == 3 && v.inputs[1].empty() &&
         v.outputs.size() == 1 && attributesQualify(node) && scalesDoubleHeightAndWidth(graph, v.inputs[2]);
}

// The channel count of a tensor made by a Conv: the first dimension of its weight initializer; 0
// when the producer is no Conv or its weights are no initializer.
int64_t convChannels(const GraphIndex& graph, const std::string& tensor) {
  const auto made = graph.producer.find(tensor);
  if (made == graph.producer.end()) return 0;
  const GsNodeView conv = gsViewNode(graph.nodes[made->second]);
  if (conv.opType != "Conv" || !conv.defaultDomain() || conv.inputs.size() < 2) return 0;
  const auto weights = graph.initializers.find(conv.inputs[1]);
  if (weights == graph.initializers.end()) return 0;
  std::vector<int64_t> dims;
  gsTensorDims(weights->second, dims);
  return dims.empty() ? 0 : dims[0];
}

// What the chain leaves unread: the scales, when only the Resize read them, as an initializer or
// as the Constant node that made them. ONNX Runtime warns about an initializer nothing reads.
struct Orphans {
  std::string initializer;
  size_t constantNode = SIZE_MAX;
};

Orphans orphansOf(const GraphIndex& graph, const std::string& scales) {
  Orphans orphans;
  const auto reads = graph.readers.find(scales);
  if (reads == graph.readers.end() || reads->second != 1 || graph.outputs.count(scales)) return orphans;
  if (graph.initializers.count(scales)) orphans.initializer = scales;
  else orphans.constantNode = graph.producer.at(scales);
  return orphans;
}

// The graph with the chain in the Resize's place and the Resize's orphaned scales dropped.
GsBytes replaceResize(GsSlice graph, const GraphIndex& index, size_t resizeNode, const GsBytes& chain) {
  const Orphans orphans = orphansOf(index, gsViewNode(index.nodes[resizeNode]).inputs[2]);
  GsBytes out;
  out.reserve(graph.size + chain.size());
  size_t nodeIndex = 0;
  GsReader reader(graph);
  GsField f;
  while (reader.next(f)) {
    const bool node = f.number == kGraphNode && f.wireType == 2;
    const bool orphan = node ? nodeIndex == orphans.constantNode
                             : f.number == kGraphInitializer && f.wireType == 2 && !orphans.initializer.empty() &&
                                   gsFirstStr(f.payload, kTensorName) == orphans.initializer;
    if (node && nodeIndex == resizeNode) out.insert(out.end(), chain.begin(), chain.end());
    else if (!orphan) gsPutRaw(out, f.raw);
    if (node) ++nodeIndex;
  }
  return out;
}

}  // namespace

size_t rewriteHeadCubicResize(GsBytes& modelBytes) {
  const GsSlice graph = gsGraphOf(gsSliceOf(modelBytes));
  const GraphIndex index = indexGraph(graph);
  std::vector<size_t> found;
  for (size_t i = 0; i < index.nodes.size(); ++i)
    if (qualifies(index, index.nodes[i])) found.push_back(i);
  if (found.size() != 1) return 0;
  const GsSlice resize = index.nodes[found[0]];
  const GsNodeView view = gsViewNode(resize);
  const int64_t channels = convChannels(index, view.inputs[0]);
  if (channels <= 0) return 0;
  const GsBytes chain = headResizeChain(view, channels, hcReadAttrs(resize).cubicCoeffA.value);
  const GsBytes newGraph = replaceResize(graph, index, found[0], chain);
  modelBytes = gsWithGraph(modelBytes, newGraph);
  return 1;
}

}  // namespace le
