#include "render/graph/onnx_node_view.h"

#include "render/graph/onnx_graph_reader.h"

namespace le {

GsNodeView gsViewNode(GsSlice node) {
  GsNodeView view;
  GsReader reader(node);
  GsField f;
  while (reader.next(f)) {
    if (f.wireType != 2) continue;
    switch (f.number) {
      case kNodeInput: view.inputs.push_back(f.payload.str()); break;
      case kNodeOutput: view.outputs.push_back(f.payload.str()); break;
      case kNodeName: view.name = f.payload.str(); break;
      case kNodeOpType: view.opType = f.payload.str(); break;
      case kNodeDomain: view.domain = f.payload.str(); break;
      default: break;
    }
  }
  return view;
}

}  // namespace le
