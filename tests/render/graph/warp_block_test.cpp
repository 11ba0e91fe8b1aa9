// Locating the director's warp block and replacing it by one WarpDirector node: the block of the
// baked directors and of small graphs shaped like them, and every way a graph can fall short.
#include "render/graph/warp_block.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "bundle/manifest.h"
#include "render/graph/onnx_graph_index.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_topo_check.h"
#include "render/support/ort_runner.h"
#include "render/support/test_models.h"

namespace {

using le::GsBytes;

GsBytes bakedDirector(const std::string& fixture, const std::string& key = "b1") {
  const std::string path = le::loadManifest(std::string(LE_TEST_FIXTURES) + "/" + fixture).modelPath(key);
  std::ifstream in(path, std::ios::binary);
  return GsBytes(std::istreambuf_iterator<char>(in), {});
}

le::GsGraphIndex indexOf(const GsBytes& model) { return le::gsIndexGraph(le::gsGraphOf(le::gsSliceOf(model))); }

TEST(WarpBlock, FindsTheConeSamplerAndRecombination) {
  le::WarpBlock block;
  std::string reason;
  // Pad, three Convs and the Concat; the GridSample; four Slices and the six-node recombination.
  EXPECT_EQ(le::findWarpBlock(le::test::testModel("cone"), &block, reason), 16u) << reason;
  EXPECT_EQ(block.source, "P_rgb");
  EXPECT_EQ(block.grid, "grid");
  EXPECT_EQ(block.exit, "warped");
  EXPECT_EQ(block.nodeCount, 16u);
}

TEST(WarpBlock, FindsTheBakedDirectorsBlockWithEitherSampler) {
  for (const char* fixture : {"test", "test-gs-fast", "test-prior-outside"}) {
    le::WarpBlock block;
    std::string reason;
    EXPECT_GT(le::findWarpBlock(bakedDirector(fixture), &block, reason), 0u) << fixture << ": " << reason;
    EXPECT_EQ(block.exit, "/warp/out") << fixture;
    EXPECT_EQ(block.grid, "/field/grid") << fixture;
  }
}

struct MissCase {
  const char* model;  // a test model, or "fixture:" + a baked bundle
  const char* reason;
};

class WarpBlockMiss : public testing::TestWithParam<MissCase> {};

TEST_P(WarpBlockMiss, GivesItsReasonAndLeavesTheBytes) {
  const std::string name = GetParam().model;
  const GsBytes original = name.rfind("fixture:", 0) == 0 ? bakedDirector(name.substr(8)) : le::test::testModel(name);
  le::WarpBlock block;
  std::string reason;
  EXPECT_EQ(le::findWarpBlock(original, &block, reason), 0u);
  EXPECT_EQ(reason, GetParam().reason);
  GsBytes bytes = original;
  reason.clear();
  EXPECT_EQ(le::rewriteWarpBlockToCustomOp(bytes, reason), 0u);
  EXPECT_EQ(reason, GetParam().reason);
  EXPECT_EQ(bytes, original);
}

INSTANTIATE_TEST_SUITE_P(
    Graphs, WarpBlockMiss,
    testing::Values(MissCase{"fixture:test-two-concat", "not one Concat consuming P_rgb (found 2)"},
                    MissCase{"gs_w13", "not one Concat consuming P_rgb (found 0)"},
                    MissCase{"cone_no_sampler", "no GridSample consuming 'tip'"},
                    MissCase{"cone_two_samplers", "two GridSamples on the cone's tip"},
                    MissCase{"cone_tip_relu", "the cone's tip 'tip' is also read by Relu"},
                    MissCase{"fixture:test-gs-zeros", "the fused GridSample is not bilinear/border/align_corners=0"},
                    MissCase{"cone_grid_input", "the grid has no producer"},
                    MissCase{"cone_reads_input", "cone reads graph input 'extra'"},
                    MissCase{"cone_ghost_leaf", "cone leaf 'ghost' has no producer"},
                    MissCase{"cone_escape", "cone value 'vxx' escapes to Relu"},
                    MissCase{"cone_exit_slice", "the recombination has 2 exits, not 1"}),
    [](const auto& info) {
      std::string n = info.param.model;
      for (char& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST(WarpBlock, WithoutBytesOrGraphThereIsNothingToFind) {
  std::string reason;
  le::WarpBlock block;
  EXPECT_EQ(le::findWarpBlock({}, &block, reason), 0u);
  EXPECT_EQ(reason, "no out param");
  EXPECT_EQ(le::findWarpBlock(le::test::testModel("cone"), nullptr, reason), 0u);
  EXPECT_EQ(reason, "no out param");
  const GsBytes irVersionOnly{0x08, 0x08};
  EXPECT_EQ(le::findWarpBlock(irVersionOnly, &block, reason), 0u);
  EXPECT_EQ(reason, "no graph");
}

TEST(WarpBlockRewrite, LeavesOneNodeAtTheSamplersPositionAndNoStaleNames) {
  GsBytes bytes = le::test::testModel("cone");
  const le::GsGraphIndex before = indexOf(bytes);
  std::string reason;
  ASSERT_EQ(le::rewriteWarpBlockToCustomOp(bytes, reason), 16u) << reason;
  const le::GsGraphIndex after = indexOf(bytes);
  EXPECT_EQ(after.nodes.size(), before.nodes.size() - 15);
  const auto node = after.producer.find("warped");
  ASSERT_NE(node, after.producer.end());
  const le::GsNodeView& warp = after.nodes[node->second];
  EXPECT_EQ(warp.opType, "WarpDirector");
  EXPECT_EQ(warp.domain, "com.zentrova");
  EXPECT_EQ(warp.name, "le_warp_director");
  EXPECT_EQ(warp.inputs, (std::vector<std::string>{"P_rgb", "grid"}));
  // The node stands where the GridSample stood: right after the grid's Transpose.
  EXPECT_EQ(node->second, after.producer.at("grid") + 1);
  EXPECT_EQ(le::gsTopoSelfCheck(bytes), "");
  // The cone's weights and the value infos of removed tensors are gone with their nodes.
  EXPECT_EQ(after.initializers.count("w_xx"), 0u);
  EXPECT_EQ(after.initializers.count("half"), 1u);
  le::GsReader graph(le::gsGraphOf(le::gsSliceOf(bytes)));
  le::GsField f;
  while (graph.next(f))
    if (f.number == le::kGraphValueInfo) ADD_FAILURE() << le::gsFirstStr(f.payload, le::kValueInfoName);
  // The domain is imported once, also when the rewrite runs on a graph that already imports it.
  size_t imports = 0;
  le::GsReader model(le::gsSliceOf(bytes));
  while (model.next(f)) imports += f.number == le::kModelOpsetImport && le::gsFirstStr(f.payload, 1) == "com.zentrova";
  EXPECT_EQ(imports, 1u);
}

TEST(WarpBlockRewrite, KeepsPRgbForItsOtherReaders) {
  GsBytes bytes = le::test::testModel("cone_prior_outside");
  std::string reason;
  ASSERT_GT(le::rewriteWarpBlockToCustomOp(bytes, reason), 0u) << reason;
  const le::GsGraphIndex after = indexOf(bytes);
  EXPECT_EQ(after.readersOf("P_rgb").size(), 2u);
}

}  // namespace
