#include "render/graph/onnx_graph_reader.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "render/graph/onnx_emitter.h"
#include "render/graph/onnx_resize_attrs.h"
#include "render/graph/onnx_tensor_reader.h"
#include "render/support/ort_runner.h"
#include "render/support/test_models.h"

namespace {

using le::GsBytes;
using le::GsNodeInfo;
using le::GsSlice;

struct ReadGraph {
  std::vector<GsNodeInfo> nodes;
  std::set<std::string> initializers, inputs;
};

ReadGraph readDirector() {
  ReadGraph g;
  le::gsReadGraph(le::gsGraphOf(le::gsSliceOf(le::test::testModel("director"))), g.nodes, g.initializers, g.inputs);
  return g;
}

// The first field numbered n of a message (n = 0: its first field, whatever its number).
le::GsField field(GsSlice message, uint32_t n) {
  le::GsReader reader(message);
  le::GsField f;
  while (reader.next(f))
    if (n == 0 || f.number == n) return f;
  ADD_FAILURE() << "no field " << n;
  return {};
}

GsSlice nodePayload(const GsNodeInfo& node) { return field(node.raw, 0).payload; }

TEST(OnnxReader, ReadsNodesInitializersAndInputsOfAGraph) {
  const ReadGraph g = readDirector();
  std::vector<std::string> ops;
  for (const auto& n : g.nodes) ops.push_back(n.opType);
  EXPECT_EQ(ops, (std::vector<std::string>{"Conv", "GridSample", "GridSample", "GridSample", "GridSample", "Add",
                                           "Add", "Add", "Constant", "Resize", "GridSample"}));
  EXPECT_EQ(g.nodes[0].inputs, (std::vector<std::string>{"pooled64", "conv_w", "conv_b"}));
  EXPECT_EQ(g.nodes[9].inputs, (std::vector<std::string>{"P_rgb", "", "scales"}));
  EXPECT_EQ(g.nodes[10].outputs, (std::vector<std::string>{"rgb"}));
  EXPECT_EQ(g.initializers, (std::set<std::string>{"conv_b", "conv_w"}));
  EXPECT_EQ(g.inputs, (std::set<std::string>{"P_rgb", "flow", "flow_rgb", "pooled64"}));
  EXPECT_EQ(le::gsFirstStr(nodePayload(g.nodes[0]), le::kNodeName), "conv");
}

TEST(OnnxReader, GraphOfAModelWithoutOneIsEmpty) {
  const GsBytes model = {0x08, 0x08};  // ir_version only
  EXPECT_TRUE(le::gsGraphOf(le::gsSliceOf(model)).empty());
}

TEST(OnnxTensorReader, ConstantNodeValueAndInitializerTensors) {
  const ReadGraph g = readDirector();
  const GsSlice scales = le::gsConstValue(nodePayload(g.nodes[8]));
  std::vector<int64_t> dims;
  le::gsTensorDims(scales, dims);
  EXPECT_EQ(dims, (std::vector<int64_t>{2}));
  std::vector<float> values;
  ASSERT_TRUE(le::gsTensorFloats(scales, values));
  EXPECT_EQ(values, (std::vector<float>{2.f, 2.f}));
  EXPECT_TRUE(le::gsConstValue(nodePayload(g.nodes[0])).empty());
}

TEST(OnnxTensorReader, FloatsFromRawDataPackedAndUnpackedLists) {
  const float data[3] = {1.5f, -2.f, 0.25f};
  GsBytes raw;  // gsInit's TensorProto: unpacked dims, raw_data
  le::gsInit(raw, "t", le::kTensorFloat, {3, 1}, data, sizeof data);
  le::GsReader reader(le::gsSliceOf(raw));
  le::GsField f;
  ASSERT_TRUE(reader.next(f));
  std::vector<int64_t> dims;
  std::vector<float> values;
  le::gsTensorDims(f.payload, dims);
  EXPECT_EQ(dims, (std::vector<int64_t>{3, 1}));
  ASSERT_TRUE(le::gsTensorFloats(f.payload, values));
  EXPECT_EQ(values, std::vector<float>(data, data + 3));
  EXPECT_EQ(le::gsPayload(f.payload).size, sizeof data);

  GsBytes listed;  // packed dims, unpacked float_data
  le::gsPutBytes(listed, le::kTensorDims, GsBytes{0x03, 0x01});
  le::gsPutVarintField(listed, le::kTensorDataType, 1);
  for (float v : data) le::gsPutFloatField(listed, le::kTensorFloatData, v);
  dims.clear();
  le::gsTensorDims(le::gsSliceOf(listed), dims);
  EXPECT_EQ(dims, (std::vector<int64_t>{3, 1}));
  ASSERT_TRUE(le::gsTensorFloats(le::gsSliceOf(listed), values));
  EXPECT_EQ(values, std::vector<float>(data, data + 3));
}

TEST(OnnxTensorReader, RefusesOtherTypesAndPartialFloats) {
  std::vector<float> values;
  GsBytes ints;
  le::gsPutVarintField(ints, le::kTensorDataType, 7);
  le::gsPutBytes(ints, le::kTensorRawData, std::string(8, '\0'));
  EXPECT_FALSE(le::gsTensorFloats(le::gsSliceOf(ints), values));
  GsBytes ragged;
  le::gsPutVarintField(ragged, le::kTensorDataType, 1);
  le::gsPutBytes(ragged, le::kTensorRawData, std::string(6, '\0'));
  EXPECT_FALSE(le::gsTensorFloats(le::gsSliceOf(ragged), values));
}

TEST(ResizeAttrs, ReadsEveryAttributeWithItsPresence) {
  const ReadGraph g = readDirector();
  const le::GsResizeAttrs a = le::hcReadAttrs(nodePayload(g.nodes[9]));
  EXPECT_EQ(a.mode.value, "cubic");
  EXPECT_EQ(a.coordinateTransformationMode.value, "half_pixel");
  EXPECT_TRUE(a.cubicCoeffA.present);
  EXPECT_EQ(a.cubicCoeffA.value, -0.5f);
  EXPECT_TRUE(a.excludeOutside.present && a.excludeOutside.value == 1);
  EXPECT_TRUE(a.antialias.present && a.antialias.value == 0);
  EXPECT_EQ(a.axes.value, (std::vector<int64_t>{2, 3}));
  EXPECT_EQ(a.keepAspectRatioPolicy.value, "stretch");

  const le::GsResizeAttrs none = le::hcReadAttrs(nodePayload(g.nodes[5]));
  EXPECT_FALSE(none.mode.present || none.cubicCoeffA.present || none.axes.present || none.antialias.present);
  EXPECT_EQ(none.cubicCoeffA.value, -0.75f);
}

TEST(OnnxEmitter, ValueInfoWritesNonPositiveDimsAsHoistParams) {
  const int64_t dims[] = {1, -1, 64, 0};
  GsBytes out;
  le::gsPutTensorValueInfo(out, le::kGraphInput, "boundary", dims, 4);
  const GsSlice info = field(le::gsSliceOf(out), le::kGraphInput).payload;
  EXPECT_EQ(le::gsFirstStr(info, 1), "boundary");
  const GsSlice tensorType = field(field(info, 2).payload, 1).payload;
  EXPECT_EQ(field(tensorType, 1).varint, 1u);  // elem_type FLOAT
  std::vector<std::string> params;
  std::vector<uint64_t> values;
  le::GsReader dimsReader(field(tensorType, 2).payload);
  le::GsField dim;
  while (dimsReader.next(dim)) {
    const le::GsField v = field(dim.payload, 0);
    if (v.number == 1) values.push_back(v.varint);
    else params.push_back(v.payload.str());
  }
  EXPECT_EQ(values, (std::vector<uint64_t>{1, 64}));
  EXPECT_EQ(params, (std::vector<std::string>{"le_hoist_d1", "le_hoist_d3"}));
}

// A model made only by the emitters opens and runs in ONNX Runtime.
TEST(OnnxEmitter, EmittedModelRunsInOnnxRuntime) {
  GsBytes graph;
  const float bias[4] = {1.f, 2.f, 3.f, 4.f};
  GsBytes noAttrs, transposeAttrs;
  const int64_t perm[] = {1, 0};
  le::gsAttrIs(transposeAttrs, "perm", perm, 2);
  le::gsNode(graph, "Add", {"x", "bias"}, "sum", "add", noAttrs);
  le::gsNode(graph, "Transpose", {"sum"}, "y", "transpose", transposeAttrs);
  le::gsPutBytes(graph, 2, std::string("emitted"));
  le::gsInit(graph, "bias", le::kTensorFloat, {1, 4}, bias, sizeof bias);
  const int64_t inDims[] = {2, 4}, outDims[] = {4, 2};
  le::gsPutTensorValueInfo(graph, le::kGraphInput, "x", inDims, 2);
  le::gsPutTensorValueInfo(graph, le::kGraphOutput, "y", outDims, 2);
  GsBytes model, opset;
  le::gsPutVarintField(model, 1, 8);
  le::gsPutBytes(model, le::kModelGraph, graph);
  le::gsPutVarintField(opset, 2, 16);
  le::gsPutBytes(model, le::kModelOpsetImport, opset);

  le::test::TensorMap in;
  in["x"] = {{2, 4}, {0, 1, 2, 3, 4, 5, 6, 7}};
  const le::test::TensorMap out = le::test::runModel(model, in);
  EXPECT_EQ(out.at("y").shape, (std::vector<int64_t>{4, 2}));
  EXPECT_EQ(out.at("y").data, (std::vector<float>{1, 5, 3, 7, 5, 9, 7, 11}));
}

}  // namespace
