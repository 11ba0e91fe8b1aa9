#include "render/graph/onnx_rebuild.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "render/graph/onnx_graph_reader.h"
#include "render/support/ort_runner.h"
#include "render/support/test_models.h"

namespace {

using le::GsBytes;
using le::GsGraphEdit;

std::vector<std::string> allModelNames() {
  std::vector<std::string> names = le::test::gridSampleModelNames();
  names.insert(names.end(), {"director", "baked", "unordered"});
  return names;
}

class GsRebuildEveryModel : public testing::TestWithParam<std::string> {};

TEST_P(GsRebuildEveryModel, EmptyEditReturnsTheModelByteForByte) {
  const GsBytes& model = le::test::testModel(GetParam());
  ASSERT_FALSE(model.empty());
  GsBytes out;
  le::gsRebuild(model, GsGraphEdit{}, out);
  EXPECT_EQ(out, model);
}

INSTANTIATE_TEST_SUITE_P(Models, GsRebuildEveryModel, testing::ValuesIn(allModelNames()),
                         [](const auto& info) { return info.param; });

// Every ModelProto field except the graph, raw, in order.
std::vector<std::string> fieldsOutsideGraph(const GsBytes& model) {
  std::vector<std::string> fields;
  le::GsReader reader(le::gsSliceOf(model));
  le::GsField f;
  while (reader.next(f))
    if (f.number != le::kModelGraph) fields.push_back(f.raw.str());
  return fields;
}

struct Graph {
  std::vector<std::string> nodeNames, inputs, outputs, valueInfos;
};

Graph readBack(const GsBytes& model) {
  Graph g;
  le::GsReader reader(le::gsGraphOf(le::gsSliceOf(model)));
  le::GsField f;
  while (reader.next(f)) {
    if (f.number != le::kGraphNode && f.number != le::kGraphInput && f.number != le::kGraphOutput &&
        f.number != le::kGraphValueInfo)
      continue;
    const std::string name = le::gsFirstStr(f.payload, f.number == le::kGraphNode ? le::kNodeName : 1);
    if (f.number == le::kGraphNode) g.nodeNames.push_back(name);
    else if (f.number == le::kGraphInput) g.inputs.push_back(name);
    else if (f.number == le::kGraphOutput) g.outputs.push_back(name);
    else if (f.number == le::kGraphValueInfo) g.valueInfos.push_back(name);
  }
  return g;
}

GsBytes rebuilt(const GsGraphEdit& edit) {
  GsBytes out;
  le::gsRebuild(le::test::testModel("director"), edit, out);
  return out;
}

TEST(GsRebuild, DropMaskRemovesNodesByPositionAndKeepsEverythingElse) {
  GsGraphEdit edit;
  edit.dropNode = {false, true, false, false, true};  // shorter than the graph: the rest stay
  const GsBytes out = rebuilt(edit);
  const Graph g = readBack(out);
  EXPECT_EQ(g.nodeNames, (std::vector<std::string>{"conv", "gs_zeros", "gs_nomode", "add1", "add2", "add3",
                                                   "scales_const", "head_resize", "gs_rgb"}));
  EXPECT_EQ(g.inputs.size(), 4u);
  EXPECT_EQ(g.outputs.size(), 3u);
  EXPECT_EQ(fieldsOutsideGraph(out), fieldsOutsideGraph(le::test::testModel("director")));
}

struct InputEditCase {
  const char* name;
  bool dropPrgb, keepOnlyPrgb;
  std::vector<std::string> inputs;
};

class GsRebuildInputs : public testing::TestWithParam<InputEditCase> {};

TEST_P(GsRebuildInputs, PriorInputFlagsSelectTheInputs) {
  GsGraphEdit edit;
  edit.dropPrgbInput = GetParam().dropPrgb;
  edit.keepOnlyPrgbInput = GetParam().keepOnlyPrgb;
  EXPECT_EQ(readBack(rebuilt(edit)).inputs, GetParam().inputs);
}

INSTANTIATE_TEST_SUITE_P(Flags, GsRebuildInputs,
                         testing::Values(InputEditCase{"None", false, false, {"pooled64", "P_rgb", "flow", "flow_rgb"}},
                                         InputEditCase{"DropPrior", true, false, {"pooled64", "flow", "flow_rgb"}},
                                         InputEditCase{"KeepOnlyPrior", false, true, {"P_rgb"}},
                                         InputEditCase{"Both", true, true, {}}),
                         [](const auto& info) { return std::string(info.param.name); });

// The shape of a prep graph: outputs replaced by one new output that the runtime then computes.
TEST(GsRebuild, NewOutputReplacesTheOldOnesAndItsValueInfo) {
  GsGraphEdit edit;
  edit.dropAllOutputs = true;
  edit.valueInfoName = "feat";
  edit.valueInfoDims = {1, 8, -1, 16};
  edit.valueInfoField = le::kGraphOutput;
  const GsBytes out = rebuilt(edit);
  const Graph g = readBack(out);
  EXPECT_EQ(g.outputs, (std::vector<std::string>{"feat"}));
  EXPECT_TRUE(g.valueInfos.empty());

  const le::test::TensorMap result = le::test::runModel(out, le::test::makeInputs(out, 3));
  ASSERT_EQ(result.size(), 1u);
  EXPECT_EQ(result.at("feat").shape, (std::vector<int64_t>{1, 8, 16, 16}));
}

TEST(GsRebuild, MalformedModelThrowsAndLeavesOutputUntouched) {
  GsBytes model = le::test::testModel("director");
  model.resize(model.size() - 3);
  GsBytes out = {1, 2, 3};
  try {
    le::gsRebuild(model, GsGraphEdit{}, out);
    FAIL() << "a truncated model was rebuilt";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "onnx: truncated");
  }
  EXPECT_EQ(out, (GsBytes{1, 2, 3}));
}

}  // namespace
