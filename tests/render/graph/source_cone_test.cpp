// Cutting the source cone out of a director: the boundary, the prep and per-frame graphs (which
// together compute what the whole graph computes), and the reasons a graph keeps its cone.
#include "render/graph/source_cone.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "bundle/manifest.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/support/ort_runner.h"
#include "render/support/test_models.h"

namespace {

using le::GsBytes;

GsBytes bakedDirector(const std::string& fixture) {
  const std::string path = le::loadManifest(std::string(LE_TEST_FIXTURES) + "/" + fixture).modelPath("b1");
  std::ifstream in(path, std::ios::binary);
  return GsBytes(std::istreambuf_iterator<char>(in), {});
}

le::GsGraphIndex indexOf(const GsBytes& model) { return le::gsIndexGraph(le::gsGraphOf(le::gsSliceOf(model))); }

TEST(SourceCone, BoundaryIsTheOneConcatReadingThePrior) {
  std::string boundary = "unset";
  EXPECT_EQ(le::findSourceConeBoundary(bakedDirector("test-two-concat"), boundary), 2u);
  EXPECT_EQ(boundary, "unset");
  EXPECT_EQ(le::findSourceConeBoundary(le::test::testModel("gs_w13"), boundary), 0u);
  EXPECT_EQ(le::findSourceConeBoundary(bakedDirector("test"), boundary), 1u);
  EXPECT_EQ(boundary, "/cone/tip");
}

TEST(SourceCone, PrepAndPerFrameGraphsComputeTheWholeGraph) {
  const GsBytes& model = le::test::testModel("cone");
  GsBytes prep, perFrame;
  std::string reason;
  ASSERT_TRUE(le::buildSourceConePrep(model, "tip", prep, reason)) << reason;
  const int64_t dims[4] = {1, 12, 16, 16};
  ASSERT_TRUE(le::buildSourceConePerFrame(model, "tip", dims, 4, perFrame, reason)) << reason;

  const le::GsGraphIndex p = indexOf(prep), f = indexOf(perFrame);
  EXPECT_EQ(p.inputs, (std::set<std::string>{"P_rgb"}));
  EXPECT_EQ(p.outputs, (std::set<std::string>{"tip"}));
  EXPECT_EQ(p.nodes.size(), 5u);
  EXPECT_EQ(p.initializers, (std::set<std::string>{"pads", "w_xx", "w_yy", "w_xxyy"}));
  EXPECT_EQ(f.inputs, (std::set<std::string>{"gp", "tip"}));
  EXPECT_EQ(f.initializers.count("w_xx"), 0u);
  EXPECT_EQ(f.producer.count("vxx"), 0u);

  const le::test::TensorMap inputs = le::test::makeInputs(model, 3);
  const le::test::TensorMap whole = le::test::runModel(model, inputs);
  const le::test::TensorMap tip = le::test::runModel(prep, {{"P_rgb", inputs.at("P_rgb")}});
  ASSERT_EQ(tip.at("tip").shape, (std::vector<int64_t>{1, 12, 16, 16}));
  const le::test::TensorMap rest = le::test::runModel(perFrame, {{"gp", inputs.at("gp")}, {"tip", tip.at("tip")}});
  EXPECT_EQ(le::test::maxAbsDiff(rest, whole), 0.0f);
}

TEST(SourceCone, PrepGraphDeclaresASymbolicBoundary) {
  GsBytes prep;
  std::string reason;
  ASSERT_TRUE(le::buildSourceConePrep(bakedDirector("test"), "/cone/tip", prep, reason)) << reason;
  const std::string text(prep.begin(), prep.end());
  for (int i = 0; i < 4; ++i) EXPECT_NE(text.find("le_hoist_d" + std::to_string(i)), std::string::npos) << i;
}

struct RefusalCase {
  const char* model;
  const char* boundary;
  const char* reason;
};

class SourceConeRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(SourceConeRefusal, BothGraphsGiveTheReason) {
  const GsBytes& model = le::test::testModel(GetParam().model);
  GsBytes out;
  std::string reason;
  EXPECT_FALSE(le::buildSourceConePrep(model, GetParam().boundary, out, reason));
  EXPECT_EQ(reason, GetParam().reason);
  // A cone without nodes leaves a per-frame graph that is the whole graph; only the prep refuses.
  if (std::string(GetParam().reason) == "empty cone") return;
  const int64_t dims[4] = {1, 12, 16, 16};
  reason.clear();
  EXPECT_FALSE(le::buildSourceConePerFrame(model, GetParam().boundary, dims, 4, out, reason));
  EXPECT_EQ(reason, GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(Graphs, SourceConeRefusal,
                         testing::Values(RefusalCase{"cone_prior_outside", "tip", "P_rgb is also read outside the cone by Neg"},
                                         RefusalCase{"cone_escape", "tip", "cone value 'vxx' escapes to Relu"},
                                         RefusalCase{"cone_reads_input", "tip", "cone reads graph input 'extra'"},
                                         RefusalCase{"cone_ghost_leaf", "tip", "cone leaf 'ghost' has no producer"},
                                         RefusalCase{"gs_w13", "Y", "no P_rgb input"},
                                         RefusalCase{"cone_unused_prior", "k", "empty cone"}),
                         [](const auto& info) { return std::string(info.param.model) + "_" + info.param.boundary; });

TEST(SourceCone, RefusesWithoutAGraphOrFourDimensions) {
  GsBytes out;
  std::string reason;
  const GsBytes irVersionOnly{0x08, 0x08};
  EXPECT_FALSE(le::buildSourceConePrep(irVersionOnly, "tip", out, reason));
  EXPECT_EQ(reason, "no graph");
  const int64_t dims[3] = {12, 16, 16};
  EXPECT_FALSE(le::buildSourceConePerFrame(le::test::testModel("cone"), "tip", dims, 3, out, reason));
  EXPECT_EQ(reason, "the boundary has 3 dimensions, not 4");
}

}  // namespace
