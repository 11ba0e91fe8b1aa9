#include "render/graph/onnx_graph_reader.h"

namespace le {

GsSlice gsGraphOf(GsSlice model) {
  GsReader reader(model);
  GsField f;
  while (reader.next(f))
    if (f.number == kModelGraph && f.wireType == 2) return f.payload;
  return {};
}

std::string gsFirstStr(GsSlice message, uint32_t n) {
  GsReader reader(message);
  GsField f;
  while (reader.next(f))
    if (f.number == n && f.wireType == 2) return f.payload.str();
  return {};
}

void gsAllStr(GsSlice message, uint32_t n, std::vector<std::string>& out) {
  GsReader reader(message);
  GsField f;
  while (reader.next(f))
    if (f.number == n && f.wireType == 2) out.push_back(f.payload.str());
}

void gsReadGraph(GsSlice graph, std::vector<GsNodeInfo>& nodes, std::set<std::string>& initializerNames,
                 std::set<std::string>& inputNames) {
  constexpr uint32_t kTensorName = 8;
  GsReader reader(graph);
  GsField f;
  while (reader.next(f)) {
    if (f.wireType != 2) continue;
    if (f.number == kGraphNode) {
      GsNodeInfo node;
      node.raw = f.raw;
      GsReader fields(f.payload);
      GsField nf;
      while (fields.next(nf)) {
        if (nf.wireType != 2) continue;
        if (nf.number == kNodeOpType) node.opType = nf.payload.str();
        else if (nf.number == kNodeInput) node.inputs.push_back(nf.payload.str());
        else if (nf.number == kNodeOutput) node.outputs.push_back(nf.payload.str());
      }
      nodes.push_back(std::move(node));
    } else if (f.number == kGraphInitializer) {
      initializerNames.insert(gsFirstStr(f.payload, kTensorName));
    } else if (f.number == kGraphInput) {
      inputNames.insert(gsFirstStr(f.payload, kValueInfoName));
    }
  }
}

}  // namespace le
