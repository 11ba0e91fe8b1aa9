// The head resize rewrite against ONNX Runtime's own cubic Resize, its node and initializer names,
// its taps, and the graphs it must leave alone.
#include "render/graph/head_resize_rewrite.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "render/graph/head_resize_chain.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_tensor_reader.h"
#include "render/support/ort_runner.h"
#include "render/support/test_models.h"

namespace {

using le::test::testModel;

struct ReadGraph {
  std::vector<le::GsNodeInfo> nodes;
  std::set<std::string> initializers, inputs;
};

ReadGraph readGraph(const le::GsBytes& model) {
  ReadGraph g;
  le::gsReadGraph(le::gsGraphOf(le::gsSliceOf(model)), g.nodes, g.initializers, g.inputs);
  return g;
}

// The floats of the initializer of that name.
std::vector<float> initializerFloats(const le::GsBytes& model, const std::string& name) {
  le::GsReader reader(le::gsGraphOf(le::gsSliceOf(model)));
  le::GsField f;
  std::vector<float> values;
  while (reader.next(f))
    if (f.number == le::kGraphInitializer && le::gsFirstStr(f.payload, le::kTensorName) == name)
      le::gsTensorFloats(f.payload, values);
  return values;
}

class HeadResizeRewrite : public testing::TestWithParam<const char*> {};

TEST_P(HeadResizeRewrite, ChainEqualsOnnxRuntimesCubicResize) {
  const le::GsBytes& original = testModel(GetParam());
  le::GsBytes rewritten = original;
  ASSERT_EQ(le::rewriteHeadCubicResize(rewritten), 1u);
  const le::test::TensorMap inputs = le::test::makeInputs(original, 3);
  const le::test::TensorMap expected = le::test::runModel(original, inputs);
  const le::test::TensorMap got = le::test::runModel(rewritten, inputs);
  ASSERT_EQ(got.at("Y0").shape, (std::vector<int64_t>{1, 5, 34, 46}));
  EXPECT_LE(le::test::maxAbsDiff(expected, got), 2e-6f);
}

INSTANTIATE_TEST_SUITE_P(Models, HeadResizeRewrite, testing::Values("head_cubic", "head_cubic_const", "head_cubic_shared"));

TEST(HeadResizeRewriteNames, ChainTakesTheResizesPlaceAndName) {
  le::GsBytes model = testModel("head_cubic");
  ASSERT_EQ(le::rewriteHeadCubicResize(model), 1u);
  const ReadGraph g = readGraph(model);
  ASSERT_EQ(g.nodes.size(), 4u);
  EXPECT_EQ(g.nodes[1].opType, "Pad");
  EXPECT_EQ(g.nodes[1].inputs, (std::vector<std::string>{"feat", "/head/up_cubic_pads"}));
  EXPECT_EQ(g.nodes[2].opType, "Conv");
  EXPECT_EQ(g.nodes[2].inputs, (std::vector<std::string>{"/head/up_cubic_padout", "/head/up_cubic_dw_w"}));
  EXPECT_EQ(g.nodes[3].opType, "DepthToSpace");
  EXPECT_EQ(g.nodes[3].inputs, (std::vector<std::string>{"/head/up_cubic_convout"}));
  EXPECT_EQ(g.nodes[3].outputs, (std::vector<std::string>{"Y0"}));
  EXPECT_TRUE(g.initializers.count("/head/up_cubic_pads"));
  EXPECT_TRUE(g.initializers.count("/head/up_cubic_dw_w"));
  EXPECT_FALSE(g.initializers.count("scales0"));  // nothing reads them any more
  EXPECT_NE(std::string(model.begin(), model.end()).find("/head/up_cubic/dwconv"), std::string::npos);

  le::GsBytes unnamed = testModel("head_cubic_const");
  ASSERT_EQ(le::rewriteHeadCubicResize(unnamed), 1u);
  const ReadGraph u = readGraph(unnamed);
  EXPECT_TRUE(u.initializers.count("/Resize_dw_w"));
  ASSERT_EQ(u.nodes.size(), 4u);  // the Constant that held the scales went with the Resize
  EXPECT_EQ(u.nodes[1].opType, "Pad");

  le::GsBytes shared = testModel("head_cubic_shared");
  ASSERT_EQ(le::rewriteHeadCubicResize(shared), 1u);
  EXPECT_TRUE(readGraph(shared).initializers.count("scales0"));
}

TEST(HeadResizeRewriteTaps, WithoutCubicCoeffATheTapsAreThoseOfMinus075) {
  const std::array<double, 4> quarter = le::headResizeTaps(0.25, -0.75);
  const double expected[4] = {-0.10546875, 0.87890625, 0.26171875, -0.03515625};
  for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(quarter[size_t(i)], expected[i]) << i;

  le::GsBytes model = testModel("head_cubic");
  ASSERT_EQ(le::rewriteHeadCubicResize(model), 1u);
  const std::vector<float> w = initializerFloats(model, "/head/up_cubic_dw_w");
  ASSERT_EQ(w.size(), size_t(5 * 4 * 25));
  // Channel 2, odd row and odd column: t = 0.25 in slots 1 to 4 of both directions.
  const float* odd = w.data() + (2 * 4 + 3) * 25;
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) {
      const double want = y == 0 || x == 0 ? 0.0 : expected[y - 1] * expected[x - 1];
      EXPECT_FLOAT_EQ(odd[y * 5 + x], float(want)) << y << "," << x;
    }
}

class HeadResizeNearMiss : public testing::TestWithParam<const char*> {};

TEST_P(HeadResizeNearMiss, IsLeftUntouched) {
  le::GsBytes model = testModel(GetParam());
  EXPECT_EQ(le::rewriteHeadCubicResize(model), 0u);
  EXPECT_EQ(model, testModel(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Models, HeadResizeNearMiss,
                         testing::Values("head_cubic_two", "head_cubic_scales23", "head_cubic_corners",
                                         "head_cubic_exclude", "head_cubic_axes", "head_cubic_noconv", "director",
                                         "gs_w13"));

}  // namespace
