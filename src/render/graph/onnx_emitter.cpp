#include "render/graph/onnx_emitter.h"

#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_tensor_reader.h"

namespace le {

namespace {

constexpr uint64_t kAttrTypeInt = 2;
constexpr uint64_t kAttrTypeString = 3;
constexpr uint64_t kAttrTypeInts = 7;

}  // namespace

void gsAttrI(GsBytes& out, const std::string& name, int64_t v) {
  GsBytes a;
  gsPutBytes(a, kAttrName, name);
  gsPutVarintField(a, kAttrI, static_cast<uint64_t>(v));
  gsPutVarintField(a, kAttrType, kAttrTypeInt);
  gsPutBytes(out, kNodeAttribute, a);
}

void gsAttrIs(GsBytes& out, const std::string& name, const int64_t* values, size_t count) {
  GsBytes a;
  gsPutBytes(a, kAttrName, name);
  for (size_t i = 0; i < count; ++i) gsPutVarintField(a, kAttrInts, static_cast<uint64_t>(values[i]));
  gsPutVarintField(a, kAttrType, kAttrTypeInts);
  gsPutBytes(out, kNodeAttribute, a);
}

void gsAttrS(GsBytes& out, const std::string& name, const std::string& value) {
  GsBytes a;
  gsPutBytes(a, kAttrName, name);
  gsPutBytes(a, kAttrS, value);
  gsPutVarintField(a, kAttrType, kAttrTypeString);
  gsPutBytes(out, kNodeAttribute, a);
}

void gsNode(GsBytes& out, const std::string& opType, const std::vector<std::string>& inputs,
            const std::string& output, const std::string& name, const GsBytes& attributes,
            const std::string& domain) {
  GsBytes node;
  for (const std::string& in : inputs) gsPutBytes(node, kNodeInput, in);
  gsPutBytes(node, kNodeOutput, output);
  gsPutBytes(node, kNodeName, name);
  gsPutBytes(node, kNodeOpType, opType);
  node.insert(node.end(), attributes.begin(), attributes.end());
  if (!domain.empty()) gsPutBytes(node, kNodeDomain, domain);
  gsPutBytes(out, kGraphNode, node);
}

void gsInit(GsBytes& out, const std::string& name, int32_t dataType, const std::vector<int64_t>& dims,
            const void* data, size_t bytes) {
  GsBytes t;
  for (int64_t d : dims) gsPutVarintField(t, kTensorDims, static_cast<uint64_t>(d));
  gsPutVarintField(t, kTensorDataType, static_cast<uint64_t>(dataType));
  gsPutBytes(t, kTensorName, name);
  gsPutBytes(t, kTensorRawData, data, bytes);
  gsPutBytes(out, kGraphInitializer, t);
}

void gsPutTensorValueInfo(GsBytes& out, uint32_t n, const std::string& name, const int64_t* dims, size_t count) {
  constexpr uint32_t kValueInfoName = 1, kValueInfoType = 2;
  constexpr uint32_t kTypeTensor = 1, kTensorTypeElem = 1, kTensorTypeShape = 2;
  constexpr uint32_t kShapeDim = 1, kDimValue = 1, kDimParam = 2;
  GsBytes shape;
  for (size_t i = 0; i < count; ++i) {
    GsBytes dim;
    if (dims[i] > 0) gsPutVarintField(dim, kDimValue, static_cast<uint64_t>(dims[i]));
    else gsPutBytes(dim, kDimParam, "le_hoist_d" + std::to_string(i));
    gsPutBytes(shape, kShapeDim, dim);
  }
  GsBytes tensorType;
  gsPutVarintField(tensorType, kTensorTypeElem, static_cast<uint64_t>(kTensorFloat));
  gsPutBytes(tensorType, kTensorTypeShape, shape);
  GsBytes type;
  gsPutBytes(type, kTypeTensor, tensorType);
  GsBytes info;
  gsPutBytes(info, kValueInfoName, name);
  gsPutBytes(info, kValueInfoType, type);
  gsPutBytes(out, n, info);
}

}  // namespace le
