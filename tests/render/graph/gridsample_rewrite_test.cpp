#include "render/graph/gridsample_rewrite.h"

#include <gtest/gtest.h>
#include <onnxruntime_cxx_api.h>

#include <string>
#include <vector>

#include "render/graph/onnx_emitter.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/ops/gridsample_fast.h"
#include "render/support/ort_runner.h"
#include "render/support/test_models.h"

namespace {

using le::GsBytes;

struct NodeCase {
  const char* name;
  const char* opType;
  const char* domain;
  const char* mode;     // nullptr: absent
  const char* padding;  // nullptr: absent
  int align;            // -1: absent
  bool rewritable;
};

GsBytes nodeOf(const NodeCase& c) {
  GsBytes attrs, graph;
  if (c.mode) le::gsAttrS(attrs, "mode", c.mode);
  if (c.padding) le::gsAttrS(attrs, "padding_mode", c.padding);
  if (c.align >= 0) le::gsAttrI(attrs, "align_corners", c.align);
  le::gsNode(graph, c.opType, {"X", "grid"}, "Y", "n", attrs, c.domain);
  le::GsReader reader(le::gsSliceOf(graph));
  le::GsField f;
  reader.next(f);
  return GsBytes(f.payload.data, f.payload.data + f.payload.size);
}

class GsRewritableNode : public testing::TestWithParam<NodeCase> {};

TEST_P(GsRewritableNode, QualifiesOnlyForTheExactCase) {
  const GsBytes node = nodeOf(GetParam());
  EXPECT_EQ(le::gsIsRewritableGridSample(le::gsSliceOf(node)), GetParam().rewritable);
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, GsRewritableNode,
    testing::Values(NodeCase{"BilinearBorder", "GridSample", "", "bilinear", "border", 0, true},
                    NodeCase{"LinearBorder", "GridSample", "", "linear", "border", 0, true},
                    NodeCase{"AlignCornersAbsent", "GridSample", "", "bilinear", "border", -1, true},
                    NodeCase{"AiOnnxDomain", "GridSample", "ai.onnx", "bilinear", "border", 0, true},
                    NodeCase{"ZerosPadding", "GridSample", "", "bilinear", "zeros", 0, false},
                    NodeCase{"ReflectionPadding", "GridSample", "", "bilinear", "reflection", 0, false},
                    NodeCase{"PaddingAbsent", "GridSample", "", "bilinear", nullptr, 0, false},
                    NodeCase{"ModeAbsent", "GridSample", "", nullptr, "border", 0, false},
                    NodeCase{"Nearest", "GridSample", "", "nearest", "border", 0, false},
                    NodeCase{"Bicubic", "GridSample", "", "bicubic", "border", 0, false},
                    NodeCase{"AlignCorners", "GridSample", "", "bilinear", "border", 1, false},
                    NodeCase{"MicrosoftDomain", "GridSample", "com.microsoft", "bilinear", "border", 0, false},
                    NodeCase{"AlreadyFast", "GridSampleFast", "com.zentrova", nullptr, nullptr, -1, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct NodeView {
  std::string name, opType, domain;
  std::vector<std::string> inputs, outputs;
  int attributes = 0;
  std::string raw;
};

std::vector<NodeView> nodesOf(const GsBytes& model) {
  std::vector<NodeView> nodes;
  le::GsReader reader(le::gsGraphOf(le::gsSliceOf(model)));
  le::GsField f;
  while (reader.next(f)) {
    if (f.number != le::kGraphNode) continue;
    NodeView v;
    v.raw = f.raw.str();
    v.name = le::gsFirstStr(f.payload, le::kNodeName);
    v.opType = le::gsFirstStr(f.payload, le::kNodeOpType);
    v.domain = le::gsFirstStr(f.payload, le::kNodeDomain);
    le::gsAllStr(f.payload, le::kNodeInput, v.inputs);
    le::gsAllStr(f.payload, le::kNodeOutput, v.outputs);
    le::GsReader fields(f.payload);
    le::GsField nf;
    while (fields.next(nf)) v.attributes += nf.number == le::kNodeAttribute;
    nodes.push_back(std::move(v));
  }
  return nodes;
}

int zentrovaImports(const GsBytes& model) {
  int n = 0;
  le::GsReader reader(le::gsSliceOf(model));
  le::GsField f;
  while (reader.next(f))
    n += f.number == le::kModelOpsetImport && le::gsFirstStr(f.payload, 1) == le::kZentrovaDomain;
  return n;
}

TEST(GridSampleRewrite, RewritesOnlyQualifyingNodesAndCopiesTheRest) {
  const GsBytes& original = le::test::testModel("director");
  GsBytes model = original;
  EXPECT_FALSE(le::graphHasBakedGridSampleFast(model));
  EXPECT_EQ(le::rewriteGridSampleToFast(model), 2u);
  EXPECT_TRUE(le::graphHasBakedGridSampleFast(model));
  EXPECT_EQ(zentrovaImports(model), 1);

  const std::vector<NodeView> before = nodesOf(original), after = nodesOf(model);
  ASSERT_EQ(before.size(), after.size());
  for (size_t i = 0; i < before.size(); ++i) {
    SCOPED_TRACE(before[i].name);
    EXPECT_EQ(after[i].name, before[i].name);
    EXPECT_EQ(after[i].inputs, before[i].inputs);
    EXPECT_EQ(after[i].outputs, before[i].outputs);
    if (before[i].name == "gs_border" || before[i].name == "gs_rgb") {
      EXPECT_EQ(after[i].opType, "GridSampleFast");
      EXPECT_EQ(after[i].domain, "com.zentrova");
      EXPECT_EQ(after[i].attributes, 0);
    } else {
      EXPECT_EQ(after[i].raw, before[i].raw);
    }
  }
}

TEST(GridSampleRewrite, AlreadyImportedDomainIsNotImportedTwice) {
  GsBytes model = le::test::testModel("baked");
  EXPECT_TRUE(le::graphHasBakedGridSampleFast(model));
  EXPECT_EQ(le::rewriteGridSampleToFast(model), 1u);
  EXPECT_EQ(zentrovaImports(model), 1);
}

TEST(GridSampleRewrite, NothingToRewriteLeavesTheBytes) {
  GsBytes model = le::test::testModel("unordered");
  const GsBytes before = model;
  EXPECT_EQ(le::rewriteGridSampleToFast(model), 0u);
  EXPECT_EQ(model, before);
  GsBytes once = le::test::testModel("gs_w13");
  ASSERT_EQ(le::rewriteGridSampleToFast(once), 1u);
  const GsBytes rewritten = once;
  EXPECT_EQ(le::rewriteGridSampleToFast(once), 0u);
  EXPECT_EQ(once, rewritten);
}

// The rewritten graph against ONNX Runtime's own GridSample, on each kernel path and thread count.
struct EquivalenceCase {
  std::string model;
  le::GridSamplePath path;
  int threads;
};

class GsRewriteMatchesOrt : public testing::TestWithParam<EquivalenceCase> {
 protected:
  void TearDown() override { le::setGridSampleFastPath(le::GridSamplePath::Auto); }
};

TEST_P(GsRewriteMatchesOrt, SameOutputsWithin1e5) {
  const EquivalenceCase& c = GetParam();
  if (c.path == le::GridSamplePath::Auto && !le::gridSampleAvx2Available()) GTEST_SKIP() << "CPU lacks AVX2 + FMA";
  const GsBytes& original = le::test::testModel(c.model);
  GsBytes rewritten = original;
  ASSERT_GT(le::rewriteGridSampleToFast(rewritten), 0u);
  const le::test::TensorMap inputs = le::test::makeInputs(original, 17);
  const le::test::TensorMap want = le::test::runModel(original, inputs, c.threads);
  le::setGridSampleFastPath(c.path);
  const le::test::TensorMap got = le::test::runModel(rewritten, inputs, c.threads);
  ASSERT_EQ(got.size(), want.size());
  EXPECT_LE(le::test::maxAbsDiff(want, got), 1e-5f);
}

std::vector<EquivalenceCase> equivalenceCases() {
  std::vector<std::string> models = le::test::gridSampleModelNames();
  models.push_back("director");
  std::vector<EquivalenceCase> cases;
  for (const std::string& m : models)
    for (le::GridSamplePath path : {le::GridSamplePath::Auto, le::GridSamplePath::Scalar})
      for (int threads : {1, 2}) cases.push_back({m, path, threads});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Models, GsRewriteMatchesOrt, testing::ValuesIn(equivalenceCases()), [](const auto& info) {
  return info.param.model + (info.param.path == le::GridSamplePath::Auto ? "_avx2" : "_scalar") + "_t" +
         std::to_string(info.param.threads);
});

TEST(GridSampleFastOp, BakedNodeMatchesTheStandardNodeBesideIt) {
  const GsBytes& model = le::test::testModel("baked");
  const le::test::TensorMap out = le::test::runModel(model, le::test::makeInputs(model, 8));
  le::test::TensorMap y1{{"Y", out.at("Y1")}}, y2{{"Y", out.at("Y2")}};
  EXPECT_LE(le::test::maxAbsDiff(y1, y2), 1e-5f);
}

TEST(GridSampleFastOp, RefusesAGridThatIsNotXYPairsAtRun) {
  GsBytes graph, model, opset, noAttrs;
  le::gsNode(graph, "GridSampleFast", {"X", "grid"}, "Y", "gsf", noAttrs, "com.zentrova");
  const int64_t xDims[] = {1, 2, 4, 4}, gDims[] = {1, 4, 4, 3};
  le::gsPutTensorValueInfo(graph, le::kGraphInput, "X", xDims, 4);
  le::gsPutTensorValueInfo(graph, le::kGraphInput, "grid", gDims, 4);
  le::gsPutTensorValueInfo(graph, le::kGraphOutput, "Y", xDims, 4);
  le::gsPutVarintField(model, 1, 8);
  le::gsPutBytes(model, le::kModelGraph, graph);
  le::gsPutBytes(opset, 1, std::string("com.zentrova"));
  le::gsPutVarintField(opset, 2, 1);
  le::gsPutBytes(model, le::kModelOpsetImport, opset);
  opset.clear();
  le::gsPutVarintField(opset, 2, 16);
  le::gsPutBytes(model, le::kModelOpsetImport, opset);
  try {
    le::test::runModel(model, le::test::makeInputs(model, 1));
    FAIL() << "a grid of triples was sampled";
  } catch (const Ort::Exception& e) {
    EXPECT_NE(std::string(e.what()).find("GridSampleFast: X must be [N,C,H,W] and grid [N,H_out,W_out,2]; got X "
                                         "[1,2,4,4] and grid [1,4,4,3]"),
              std::string::npos)
        << e.what();
  }
}

}  // namespace
