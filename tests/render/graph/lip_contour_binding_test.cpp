// Binding the lip contour to the compose alpha: the rewired graph computes min(alpha, lip_delivery)
// (so all ones leave the output exactly as it was), every reason a graph is left alone, and the
// baked directors' compose tail.
#include "render/graph/lip_contour_binding.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "bundle/manifest.h"
#include "render/graph/onnx_graph_index.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/support/ort_runner.h"
#include "render/support/test_models.h"

namespace {

using le::GsBytes;
using le::test::HostTensor;
using le::test::TensorMap;

GsBytes bakedDirector(const std::string& fixture) {
  const std::string path = le::loadManifest(std::string(LE_TEST_FIXTURES) + "/" + fixture).modelPath("b1");
  std::ifstream in(path, std::ios::binary);
  return GsBytes(std::istreambuf_iterator<char>(in), {});
}

GsBytes bound(const GsBytes& model, int* canvas = nullptr, int* second = nullptr) {
  GsBytes bytes = model;
  std::string reason;
  EXPECT_TRUE(le::rewriteBindLipContour(bytes, reason, canvas, second)) << reason;
  return bytes;
}

// The inputs of the unrewired graph plus lip_delivery filled with one value.
TensorMap withDelivery(const GsBytes& model, const GsBytes& rewired, float value) {
  TensorMap inputs = le::test::makeInputs(model, 7);
  HostTensor delivery = le::test::makeInputs(rewired, 7).at("lip_delivery");
  std::fill(delivery.data.begin(), delivery.data.end(), value);
  inputs["lip_delivery"] = delivery;
  return inputs;
}

TEST(LipContourBinding, AllOnesLeaveTheComposeAsItWas) {
  for (const char* name : {"compose", "compose_constant_one"}) {
    const GsBytes& model = le::test::testModel(name);
    int canvas = -1, second = -1;
    const GsBytes rewired = bound(model, &canvas, &second);
    EXPECT_EQ(canvas, 8);
    EXPECT_EQ(second, 8);
    const TensorMap before = le::test::runModel(model, le::test::makeInputs(model, 7));
    EXPECT_EQ(le::test::maxAbsDiff(before, le::test::runModel(rewired, withDelivery(model, rewired, 1.f))), 0.f)
        << name;
  }
}

TEST(LipContourBinding, TheDeliveryBoundsTheAlpha) {
  const GsBytes& model = le::test::testModel("compose");
  const GsBytes rewired = bound(model);
  // With lip_delivery 0 the compose is the background alone: rgb = P_rgb.
  const TensorMap inputs = withDelivery(model, rewired, 0.f);
  const TensorMap out = le::test::runModel(rewired, inputs);
  EXPECT_EQ(out.at("rgb").data, inputs.at("P_rgb").data);
  const le::GsGraphIndex graph = le::gsIndexGraph(le::gsGraphOf(le::gsSliceOf(rewired)));
  EXPECT_EQ(graph.readersOf("a").size(), 1u);
  EXPECT_EQ(graph.readersOf(le::kLipDeliveryAlpha).size(), 2u);  // the Mul and the Sub that read it
}

TEST(LipContourBinding, BindsTheBakedDirectorsAtTheirCrop) {
  for (const char* fixture : {"test", "test-crop128", "test-gs-fast"}) {
    const GsBytes model = bakedDirector(fixture);
    int canvas = 0, second = 0;
    const GsBytes rewired = bound(model, &canvas, &second);
    EXPECT_EQ(canvas, le::loadManifest(std::string(LE_TEST_FIXTURES) + "/" + fixture).crop) << fixture;
    EXPECT_EQ(second, canvas);
    const TensorMap before = le::test::runModel(model, le::test::makeInputs(model, 3));
    TensorMap inputs = le::test::makeInputs(model, 3);
    HostTensor delivery = le::test::makeInputs(rewired, 3).at("lip_delivery");
    std::fill(delivery.data.begin(), delivery.data.end(), 1.f);
    inputs["lip_delivery"] = delivery;
    EXPECT_EQ(le::test::maxAbsDiff(before, le::test::runModel(rewired, inputs)), 0.f) << fixture;
  }
}

struct MissCase {
  const char* model;
  const char* reason;
};

class LipContourBindingMiss : public testing::TestWithParam<MissCase> {};

TEST_P(LipContourBindingMiss, GivesItsReasonAndLeavesTheBytes) {
  GsBytes bytes = le::test::testModel(GetParam().model);
  const GsBytes original = bytes;
  std::string reason;
  int canvas = -1, second = -1;
  EXPECT_FALSE(le::rewriteBindLipContour(bytes, reason, &canvas, &second));
  EXPECT_EQ(reason, GetParam().reason);
  EXPECT_EQ(bytes, original);
  EXPECT_EQ(canvas, 0);
  EXPECT_EQ(second, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Graphs, LipContourBindingMiss,
    testing::Values(
        MissCase{"compose_0999", "the graph does not carry the unified compose tail"},
        MissCase{"compose_five_passthroughs", "the graph does not carry the unified compose tail"},
        MissCase{"compose_sigmoid_alpha", "the graph does not carry the unified compose tail"},
        MissCase{"compose_alpha_input", "the compose alpha 'a' has no producer node"},
        MissCase{"compose_has_lip_delivery", "the graph already carries an input named lip_delivery"},
        MissCase{"compose_symbolic_canvas", "cannot read the compose canvas off the graph"},
        MissCase{"compose_alpha_leak",
                 "self-check: rewire did not take: 1 consumers of a, one still reads the alpha \xe2\x80\x94 refusing a "
                 "graph that would serve the ellipse with the input attached and ignored"},
        MissCase{"cone", "the graph does not carry the unified compose tail"}));

TEST(LipContourBinding, NoGraphIsNoGraph) {
  GsBytes empty;
  std::string reason;
  EXPECT_FALSE(le::rewriteBindLipContour(empty, reason, nullptr, nullptr));
  EXPECT_EQ(reason, "no graph");
}

}  // namespace
