#include "render/graph/onnx_graph_index.h"

#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_tensor_reader.h"

namespace le {

namespace {

void indexNode(GsGraphIndex& index, GsSlice payload) {
  const size_t at = index.nodes.size();
  index.nodes.push_back(gsViewNode(payload));
  index.payloads.push_back(payload);
  const GsNodeView& node = index.nodes.back();
  for (const std::string& out : node.outputs)
    if (!out.empty()) index.producer.emplace(out, at);
  for (const std::string& in : node.inputs) {
    if (in.empty()) continue;
    std::vector<size_t>& readers = index.readers[in];
    if (readers.empty() || readers.back() != at) readers.push_back(at);
  }
}

}  // namespace

const std::vector<size_t>& GsGraphIndex::readersOf(const std::string& tensor) const {
  static const std::vector<size_t> none;
  const auto it = readers.find(tensor);
  return it == readers.end() ? none : it->second;
}

GsGraphIndex gsIndexGraph(GsSlice graph) {
  GsGraphIndex index;
  GsReader reader(graph);
  GsField f;
  while (reader.next(f)) {
    if (f.wireType != 2) continue;
    if (f.number == kGraphNode) indexNode(index, f.payload);
    else if (f.number == kGraphInitializer) index.initializers.insert(gsFirstStr(f.payload, kTensorName));
    else if (f.number == kGraphInput) index.inputs.insert(gsFirstStr(f.payload, kValueInfoName));
    else if (f.number == kGraphOutput) index.outputs.insert(gsFirstStr(f.payload, kValueInfoName));
  }
  return index;
}

}  // namespace le
