// One graph node's identity as the rewrites match it: name, op_type, domain, inputs and outputs.
#pragma once

#include <string>
#include <vector>

#include "render/graph/onnx_proto_reader.h"

namespace le {

struct GsNodeView {
  std::string name;
  std::string opType;
  std::string domain;
  std::vector<std::string> inputs;
  std::vector<std::string> outputs;

  // The default ONNX domain, spelled "" or "ai.onnx".
  bool defaultDomain() const { return domain.empty() || domain == "ai.onnx"; }
};

// Reads a NodeProto; a repeated singular field takes its last value, as ONNX Runtime's parser does.
GsNodeView gsViewNode(GsSlice node);

}  // namespace le
