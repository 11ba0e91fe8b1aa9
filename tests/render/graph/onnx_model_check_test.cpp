// Models that declare what no network has, refused before a runtime sizes anything by them; and
// every model the baker makes passes.
#include "render/graph/onnx_model_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "render/graph/onnx_emitter.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_proto_writer.h"
#include "render/graph/onnx_tensor_reader.h"

namespace le {
namespace {

constexpr uint32_t kModelIrVersion = 1;
constexpr uint32_t kTensorDataLocation = 14;
constexpr uint32_t kGraphSparseInitializer = 15;
constexpr int32_t kTensorInt64 = 7;

GsBytes modelOf(const GsBytes& graph) {
  GsBytes model;
  gsPutVarintField(model, kModelIrVersion, 8);
  gsPutBytes(model, kModelGraph, graph);
  return model;
}

// A FLOAT TensorProto (not wrapped): dims, data_type, name, and `bytes` bytes of raw_data.
GsBytes floatTensor(const std::string& name, const std::vector<int64_t>& dims, size_t bytes) {
  GsBytes t;
  for (int64_t d : dims) gsPutVarintField(t, kTensorDims, uint64_t(d));
  gsPutVarintField(t, kTensorDataType, uint64_t(kTensorFloat));
  gsPutBytes(t, kTensorName, name);
  gsPutBytes(t, kTensorRawData, std::string(bytes, '\0'));
  return t;
}

// A ValueInfoProto of a FLOAT tensor with exactly these dim_values (negative ones included).
GsBytes valueInfo(const std::string& name, const std::vector<int64_t>& dims) {
  GsBytes shape;
  for (int64_t d : dims) {
    GsBytes dim;
    gsPutVarintField(dim, 1, uint64_t(d));
    gsPutBytes(shape, 1, dim);
  }
  GsBytes tensorType, type, info;
  gsPutVarintField(tensorType, 1, uint64_t(kTensorFloat));
  gsPutBytes(tensorType, 2, shape);
  gsPutBytes(type, 1, tensorType);
  gsPutBytes(info, kValueInfoName, name);
  gsPutBytes(info, 2, type);
  return info;
}

std::string refusal(const GsBytes& model) {
  try {
    requirePlausibleModel(gsSliceOf(model));
    return "";
  } catch (const std::exception& e) {
    return e.what();
  }
}

std::string refusalOfInitializer(const GsBytes& tensor) {
  GsBytes graph;
  gsPutBytes(graph, kGraphInitializer, tensor);
  return refusal(modelOf(graph));
}

TEST(ModelCheck, InitializersMustCarryWhatTheyDeclare) {
  EXPECT_EQ(refusalOfInitializer(floatTensor("w", {4, 4}, 64)), "");
  EXPECT_EQ(refusalOfInitializer(floatTensor("w", {4, 4}, 60)),
            "onnx: initializer 'w' declares [4,4] (64 bytes) but its data holds 60 bytes");
  EXPECT_EQ(refusalOfInitializer(floatTensor("w", {4, 4}, 68)),
            "onnx: initializer 'w' declares [4,4] (64 bytes) but its data holds 68 bytes");
  EXPECT_EQ(refusalOfInitializer(floatTensor("w", {2, -4}, 0)),
            "onnx: initializer 'w' declares the negative dimension -4 in [2,-4]");
  // Huge shapes, including ones whose product does not fit 64 bits, name the limit.
  EXPECT_EQ(refusalOfInitializer(floatTensor("w", {65536, 65536}, 16)),
            "onnx: initializer 'w' declares the shape [65536,65536], more than the limit of 268435456 elements");
  EXPECT_EQ(refusalOfInitializer(floatTensor("w", {int64_t(1) << 62, int64_t(1) << 62, 0}, 0)),
            "onnx: initializer 'w' declares the shape [4611686018427387904,4611686018427387904,0], more than the "
            "limit of 268435456 elements");
  // Values listed in the typed fields are counted the same way (packed floats, unpacked int64s).
  GsBytes listed;
  gsPutVarintField(listed, kTensorDims, 3);
  gsPutVarintField(listed, kTensorDataType, uint64_t(kTensorFloat));
  gsPutBytes(listed, kTensorName, "f");
  gsPutBytes(listed, kTensorFloatData, std::string(8, '\0'));
  EXPECT_EQ(refusalOfInitializer(listed), "onnx: initializer 'f' declares [3] (3 values) but stores 2");
  GsBytes ints;
  gsPutVarintField(ints, kTensorDims, 2);
  gsPutVarintField(ints, kTensorDataType, uint64_t(kTensorInt64));
  gsPutBytes(ints, kTensorName, "i");
  gsPutVarintField(ints, 7, 5);
  gsPutVarintField(ints, 7, uint64_t(-1));
  EXPECT_EQ(refusalOfInitializer(ints), "");
}

TEST(ModelCheck, ExternalWeightsAreRefused) {
  GsBytes location = floatTensor("w", {1}, 0);
  gsPutVarintField(location, kTensorDataLocation, 1);
  const std::string text =
      "onnx: initializer 'w' keeps its data in an external file; a bundle's model carries its weights inside itself";
  EXPECT_EQ(refusalOfInitializer(location), text);
  GsBytes entry, external = floatTensor("w", {1}, 0);
  gsPutBytes(entry, 1, "location");
  gsPutBytes(entry, 2, "/dev/zero");
  gsPutBytes(external, 13, entry);
  EXPECT_EQ(refusalOfInitializer(external), text);
}

TEST(ModelCheck, DeclaredShapesOfValuesHaveLimits) {
  const auto withValue = [](uint32_t field, const GsBytes& info) {
    GsBytes graph;
    gsPutBytes(graph, field, info);
    return refusal(modelOf(graph));
  };
  EXPECT_EQ(withValue(kGraphInput, valueInfo("pooled64", {1, 64, 32, 32})), "");
  EXPECT_EQ(withValue(kGraphInput, valueInfo("pooled64", {1, -64, 32, 32})),
            "onnx: input 'pooled64' declares the negative dimension -64 in [1,-64,32,32]");
  EXPECT_EQ(withValue(kGraphOutput, valueInfo("rgb", {1, 3, 1 << 20, 1 << 20})),
            "onnx: output 'rgb' declares the shape [1,3,1048576,1048576], more than the limit of 268435456 elements");
  EXPECT_EQ(withValue(kGraphValueInfo, valueInfo("t", {int64_t(1) << 40})),
            "onnx: value 't' declares the shape [1099511627776], more than the limit of 268435456 elements");
  // Symbolic and unset dimensions are not sizes.
  GsBytes graph;
  const int64_t dynamic[] = {0, 64, 32, 32};
  gsPutTensorValueInfo(graph, kGraphInput, "pooled64", dynamic, 4);
  EXPECT_EQ(refusal(modelOf(graph)), "");
}

// A sparse tensor becomes a dense one of its declared shape inside the runtime.
TEST(ModelCheck, SparseInitializerDeclaringAHugeDenseShapeIsRefused) {
  GsBytes indices;
  gsPutVarintField(indices, kTensorDims, 1);
  gsPutVarintField(indices, kTensorDataType, uint64_t(kTensorInt64));
  gsPutBytes(indices, kTensorName, "i");
  gsPutBytes(indices, kTensorRawData, std::string(8, '\0'));
  GsBytes sparse;
  gsPutBytes(sparse, 1, floatTensor("v", {1}, 4));
  gsPutBytes(sparse, 2, indices);
  gsPutVarintField(sparse, 3, 65536);
  gsPutVarintField(sparse, 3, 65536);
  GsBytes graph;
  gsPutBytes(graph, kGraphSparseInitializer, sparse);
  EXPECT_EQ(refusal(modelOf(graph)),
            "onnx: sparse initializer 'v' declares the shape [65536,65536], more than the limit of 268435456 elements");
}

// A Constant node's tensor, and tensors inside subgraphs, are checked like initializers.
TEST(ModelCheck, TensorsInNodesAndSubgraphsAreChecked) {
  GsBytes attribute, node, graph;
  gsPutBytes(attribute, kAttrName, "value");
  gsPutBytes(attribute, kAttrTensor, floatTensor("c", {4}, 8));
  gsPutBytes(node, kNodeOpType, "Constant");
  gsPutBytes(node, kNodeAttribute, attribute);
  gsPutBytes(graph, kGraphNode, node);
  EXPECT_EQ(refusal(modelOf(graph)), "onnx: tensor attribute 'c' declares [4] (16 bytes) but its data holds 8 bytes");

  GsBytes branch, ifAttribute, ifNode, outer;
  gsPutBytes(branch, kGraphInitializer, floatTensor("deep", {-1}, 0));
  gsPutBytes(ifAttribute, kAttrName, "then_branch");
  gsPutBytes(ifAttribute, 6, branch);
  gsPutBytes(ifNode, kNodeOpType, "If");
  gsPutBytes(ifNode, kNodeAttribute, ifAttribute);
  gsPutBytes(outer, kGraphNode, ifNode);
  EXPECT_EQ(refusal(modelOf(outer)), "onnx: initializer 'deep' declares the negative dimension -1 in [-1]");
}

// Subgraphs are read recursively: nesting has a bound, so a small model cannot exhaust the stack.
TEST(ModelCheck, SubgraphNestingHasALimit) {
  const auto nested = [](int levels) {
    GsBytes graph;
    for (int i = 0; i < levels; ++i) {
      GsBytes attribute, node, outer;
      gsPutBytes(attribute, kAttrName, "then_branch");
      gsPutBytes(attribute, 6, graph);
      gsPutBytes(node, kNodeOpType, "If");
      gsPutBytes(node, kNodeAttribute, attribute);
      gsPutBytes(outer, kGraphNode, node);
      graph = outer;
    }
    return refusal(modelOf(graph));
  };
  EXPECT_EQ(nested(kMaxModelGraphDepth), "");
  EXPECT_EQ(nested(kMaxModelGraphDepth + 1), "onnx: subgraphs nest deeper than the limit of 16 levels");
  EXPECT_EQ(nested(1000), "onnx: subgraphs nest deeper than the limit of 16 levels");
}

std::vector<std::string> bakedModels() {
  std::vector<std::string> paths;
  for (const auto& e : std::filesystem::recursive_directory_iterator(LE_TEST_FIXTURES))
    if (e.is_regular_file() && e.path().extension() == ".onnx") paths.push_back(e.path().string());
  return paths;
}

GsBytes readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return GsBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ModelCheck, EveryBakedModelPassesAndEveryCutOneIsRefused) {
  const std::vector<std::string> paths = bakedModels();
  ASSERT_FALSE(paths.empty());
  for (const std::string& path : paths) {
    EXPECT_NO_THROW(requirePlausibleModelFile(path)) << path;
    const GsBytes bytes = readBytes(path);
    const GsBytes half(bytes.begin(), bytes.begin() + std::ptrdiff_t(bytes.size() / 2));
    EXPECT_NE(refusal(half), "") << path << " cut in half";
  }
  EXPECT_EQ(refusal({}), "onnx: the model holds no graph");
}

}  // namespace
}  // namespace le
