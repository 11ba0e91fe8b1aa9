#include "render/graph/lip_contour_binding.h"

#include <cstdint>
#include <vector>

#include "render/graph/onnx_emitter.h"
#include "render/graph/onnx_graph_index.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_rebuild.h"
#include "render/graph/onnx_tensor_reader.h"
#include "render/graph/onnx_topo_check.h"

namespace le {

namespace {

constexpr const char* kNoComposeTail = "the graph does not carry the unified compose tail";
// How many Identity or Cast nodes may sit between the compose Add and the graph's first output.
constexpr int kMaxPassThroughs = 4;

// ValueInfoProto -> TypeProto -> TypeProto.Tensor -> TensorShapeProto -> Dimension field numbers.
constexpr uint32_t kValueInfoType = 2;
constexpr uint32_t kTypeTensor = 1;
constexpr uint32_t kTensorTypeShape = 2;
constexpr uint32_t kShapeDim = 1;
constexpr uint32_t kDimValue = 1;

// The nodes of the compose tail: out = Add(Mul(.., a), Mul(Sub(1, a), ..)), a = Clip(..).
struct ComposeTail {
  std::vector<size_t> rewired;  // the two Muls and the Sub: every reader of a inside the tail
  size_t clip = 0;
  std::string alpha;
};

// The payload of the first length-delimited field n of a message (empty when absent).
GsSlice firstField(GsSlice message, uint32_t n) {
  GsReader reader(message);
  GsField f;
  while (reader.next(f))
    if (f.wireType == 2 && f.number == n) return f.payload;
  return {};
}

bool fail(std::string& reason, const std::string& why) {
  reason = why;
  return false;
}

bool isOp(const GsNodeView& node, const char* opType) { return node.opType == opType && node.defaultDomain(); }

bool producedBy(const GsGraphIndex& graph, const std::string& tensor, const char* opType, size_t& node) {
  const auto it = graph.producer.find(tensor);
  if (it == graph.producer.end() || !isOp(graph.nodes[it->second], opType)) return false;
  node = it->second;
  return true;
}

bool reads(const GsNodeView& node, const std::string& tensor) {
  for (const std::string& in : node.inputs)
    if (in == tensor) return true;
  return false;
}

GsSlice initializerNamed(GsSlice graphBytes, const std::string& name) {
  GsReader reader(graphBytes);
  GsField f;
  while (reader.next(f))
    if (f.wireType == 2 && f.number == kGraphInitializer && gsFirstStr(f.payload, kTensorName) == name) return f.payload;
  return {};
}

// A one-element float tensor equal to 1.0: an initializer or a Constant node's value.
bool isOneConstant(GsSlice graphBytes, const GsGraphIndex& graph, const std::string& name) {
  GsSlice tensor = initializerNamed(graphBytes, name);
  size_t constant = 0;
  if (tensor.empty() && producedBy(graph, name, "Constant", constant)) tensor = gsConstValue(graph.payloads[constant]);
  std::vector<float> values;
  return gsTensorFloats(tensor, values) && values.size() == 1 && values[0] == 1.0f;
}

// The Add the graph's first output comes from, through at most four Identity or Cast nodes.
bool findComposeAdd(GsSlice graphBytes, const GsGraphIndex& graph, size_t& add) {
  std::string tensor = gsFirstStr(firstField(graphBytes, kGraphOutput), kValueInfoName);
  for (int step = 0; step <= kMaxPassThroughs; ++step) {
    const auto it = graph.producer.find(tensor);
    if (it == graph.producer.end()) return false;
    const GsNodeView& node = graph.nodes[it->second];
    if (isOp(node, "Add")) {
      add = it->second;
      return true;
    }
    if (!(isOp(node, "Identity") || isOp(node, "Cast")) || node.inputs.empty()) return false;
    tensor = node.inputs[0];
  }
  return false;
}

// Matches withSub = Mul(.., Sub(1, a)) and withAlpha = Mul(.., a) with a made by a Clip. False with
// an empty reason when the pair does not match, with a reason when a has no producer at all.
bool matchMulPair(GsSlice graphBytes, const GsGraphIndex& graph, size_t withSub, size_t withAlpha,
                  ComposeTail& tail, std::string& reason) {
  for (const std::string& factor : graph.nodes[withSub].inputs) {
    size_t sub = 0;
    if (!producedBy(graph, factor, "Sub", sub)) continue;
    const GsNodeView& subNode = graph.nodes[sub];
    if (subNode.inputs.size() != 2 || !isOneConstant(graphBytes, graph, subNode.inputs[0])) continue;
    const std::string& alpha = subNode.inputs[1];
    if (!reads(graph.nodes[withAlpha], alpha)) continue;
    if (!graph.producer.count(alpha)) return fail(reason, "the compose alpha '" + alpha + "' has no producer node");
    if (!producedBy(graph, alpha, "Clip", tail.clip)) continue;
    tail.rewired = {withSub, withAlpha, sub};
    tail.alpha = alpha;
    return true;
  }
  return false;
}

bool findComposeTail(GsSlice graphBytes, const GsGraphIndex& graph, ComposeTail& tail, std::string& reason) {
  size_t add = 0;
  if (!findComposeAdd(graphBytes, graph, add)) return fail(reason, kNoComposeTail);
  const GsNodeView& addNode = graph.nodes[add];
  size_t mul[2] = {0, 0};
  if (addNode.inputs.size() != 2 || !producedBy(graph, addNode.inputs[0], "Mul", mul[0]) ||
      !producedBy(graph, addNode.inputs[1], "Mul", mul[1]))
    return fail(reason, kNoComposeTail);
  for (int k = 0; k < 2; ++k) {
    if (matchMulPair(graphBytes, graph, mul[k], mul[1 - k], tail, reason)) return true;
    if (!reason.empty()) return false;
  }
  return fail(reason, kNoComposeTail);
}

int64_t dimValue(GsSlice dimension) {
  GsReader reader(dimension);
  GsField f;
  int64_t value = -1;
  while (reader.next(f))
    if (f.wireType == 0 && f.number == kDimValue) value = int64_t(f.varint);
  return value;
}

// The dims of a graph input's tensor type; -1 for a symbolic or absent dimension.
std::vector<int64_t> inputDims(GsSlice graphBytes, const std::string& name) {
  GsReader reader(graphBytes);
  GsField f;
  while (reader.next(f)) {
    if (f.wireType != 2 || f.number != kGraphInput || gsFirstStr(f.payload, kValueInfoName) != name) continue;
    const GsSlice shape =
        firstField(firstField(firstField(f.payload, kValueInfoType), kTypeTensor), kTensorTypeShape);
    std::vector<int64_t> dims;
    GsReader dimReader(shape);
    GsField d;
    while (dimReader.next(d))
      if (d.wireType == 2 && d.number == kShapeDim) dims.push_back(dimValue(d.payload));
    return dims;
  }
  return {};
}

void putNodeWithInputRenamed(GsBytes& out, GsSlice node, const std::string& from, const std::string& to) {
  GsBytes body;
  GsReader reader(node);
  GsField f;
  while (reader.next(f)) {
    if (f.wireType == 2 && f.number == kNodeInput && f.payload.str() == from)
      gsPutBytes(body, kNodeInput, to);
    else
      gsPutRaw(body, f.raw);
  }
  gsPutBytes(out, kGraphNode, body);
}

GsBytes rebuildGraph(GsSlice graphBytes, const ComposeTail& tail, const std::vector<int64_t>& deliveryDims) {
  GsBytes out;
  size_t nodeIndex = 0;
  GsReader reader(graphBytes);
  GsField f;
  while (reader.next(f)) {
    if (f.wireType != 2 || f.number != kGraphNode) {
      gsPutRaw(out, f.raw);
      continue;
    }
    const size_t i = nodeIndex++;
    bool rewire = false;
    for (size_t r : tail.rewired) rewire = rewire || r == i;
    if (rewire)
      putNodeWithInputRenamed(out, f.payload, tail.alpha, kLipDeliveryAlpha);
    else
      gsPutRaw(out, f.raw);
    if (i == tail.clip) gsNode(out, "Min", {tail.alpha, kLipDeliveryInput}, kLipDeliveryAlpha, kLipDeliveryMinNode, {});
  }
  gsPutTensorValueInfo(out, kGraphInput, kLipDeliveryInput, deliveryDims.data(), deliveryDims.size());
  return out;
}

// Empty when the rebuilt model carries the input and the Min and nothing but the Min reads alpha.
std::string selfCheck(const GsBytes& model, const std::string& alpha) {
  const GsGraphIndex graph = gsIndexGraph(gsGraphOf(gsSliceOf(model)));
  if (!graph.inputs.count(kLipDeliveryInput)) return "self-check: the input did not survive the rebuild";
  size_t minNode = graph.nodes.size();
  for (size_t i = 0; i < graph.nodes.size(); ++i)
    if (graph.nodes[i].name == kLipDeliveryMinNode && isOp(graph.nodes[i], "Min")) minNode = i;
  if (minNode == graph.nodes.size()) return "self-check: the Min node did not survive the rebuild";
  size_t others = 0;
  for (size_t reader : graph.readersOf(alpha)) others += reader != minNode;
  if (others > 0)
    return "self-check: rewire did not take: " + std::to_string(others) + " consumers of " + alpha +
           ", one still reads the alpha \xe2\x80\x94 refusing a graph that would serve the ellipse with the input "
           "attached and ignored";
  return gsTopoSelfCheck(model);
}

}  // namespace

bool rewriteBindLipContour(GsBytes& model, std::string& reason, int* canvas, int* second) {
  if (canvas) *canvas = 0;
  if (second) *second = 0;
  const GsSlice graphBytes = gsGraphOf(gsSliceOf(model));
  if (graphBytes.empty()) return fail(reason, "no graph");
  const GsGraphIndex graph = gsIndexGraph(graphBytes);
  if (graph.inputs.count(kLipDeliveryInput))
    return fail(reason, std::string("the graph already carries an input named ") + kLipDeliveryInput);
  ComposeTail tail;
  if (!findComposeTail(graphBytes, graph, tail, reason)) return false;
  const std::vector<int64_t> prior = inputDims(graphBytes, kPriorInput);
  if (prior.size() != 4 || prior[2] <= 0 || prior[3] <= 0 || prior[2] > INT32_MAX || prior[3] > INT32_MAX)
    return fail(reason, "cannot read the compose canvas off the graph");
  GsBytes rewired = gsWithGraph(model, rebuildGraph(graphBytes, tail, {prior[0], 1, prior[2], prior[2]}));
  const std::string problem = selfCheck(rewired, tail.alpha);
  if (!problem.empty()) return fail(reason, problem);
  model.swap(rewired);
  if (canvas) *canvas = int(prior[2]);
  if (second) *second = int(prior[3]);
  return true;
}

}  // namespace le
