// Readers for the few ONNX messages the load-time graph rewrites inspect: the graph of a model, its
// nodes with their input and output names, initializer and graph-input names.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "render/graph/onnx_proto_reader.h"

namespace le {

// The director's source-face input, which the warp and hoist rewrites are built around.
inline constexpr const char* kPriorInput = "P_rgb";

// ModelProto, GraphProto and NodeProto field numbers used by the rewrites.
inline constexpr uint32_t kModelGraph = 7;
inline constexpr uint32_t kModelOpsetImport = 8;
inline constexpr uint32_t kGraphNode = 1;
inline constexpr uint32_t kGraphInitializer = 5;
inline constexpr uint32_t kGraphInput = 11;
inline constexpr uint32_t kGraphOutput = 12;
inline constexpr uint32_t kGraphValueInfo = 13;
inline constexpr uint32_t kValueInfoName = 1;
inline constexpr uint32_t kNodeInput = 1;
inline constexpr uint32_t kNodeOutput = 2;
inline constexpr uint32_t kNodeName = 3;
inline constexpr uint32_t kNodeOpType = 4;
inline constexpr uint32_t kNodeAttribute = 5;
inline constexpr uint32_t kNodeDomain = 7;

// AttributeProto and OperatorSetIdProto field numbers.
inline constexpr uint32_t kAttrName = 1;
inline constexpr uint32_t kAttrF = 2;
inline constexpr uint32_t kAttrI = 3;
inline constexpr uint32_t kAttrS = 4;
inline constexpr uint32_t kAttrTensor = 5;
inline constexpr uint32_t kAttrInts = 8;
inline constexpr uint32_t kAttrType = 20;
inline constexpr uint32_t kOpsetDomain = 1;
inline constexpr uint32_t kOpsetVersion = 2;

// One graph node as read.
struct GsNodeInfo {
  GsSlice raw;
  std::string opType;
  std::vector<std::string> inputs;
  std::vector<std::string> outputs;
};

// The payload of the model's graph field (empty when absent).
GsSlice gsGraphOf(GsSlice model);

// The first length-delimited field n of a message as a string (empty when absent).
std::string gsFirstStr(GsSlice message, uint32_t n);
// Every length-delimited field n of a message, in order.
void gsAllStr(GsSlice message, uint32_t n, std::vector<std::string>& out);

// Every node of a graph in order, the names of its initializers and of its inputs.
void gsReadGraph(GsSlice graph, std::vector<GsNodeInfo>& nodes, std::set<std::string>& initializerNames,
                 std::set<std::string>& inputNames);

}  // namespace le
