// The ONNX reader target's seeds: small models emitted by the byte-level writer, each the shape one
// of the rewrites looks for.
#include <utility>

#include "fuzz/fuzz_seeds.h"
#include "render/graph/onnx_emitter.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_tensor_reader.h"

namespace le::fuzz {
namespace {

using le::GsBytes;

GsBytes modelOf(const GsBytes& graph, bool importZentrova) {
  GsBytes model, opset;
  le::gsPutVarintField(model, 1, 8);
  le::gsPutBytes(model, 2, std::string("le-fuzz"));
  le::gsPutBytes(model, le::kModelGraph, graph);
  le::gsPutVarintField(opset, 2, 18);
  le::gsPutBytes(model, le::kModelOpsetImport, opset);
  if (importZentrova) {
    opset.clear();
    le::gsPutBytes(opset, 1, std::string("com.zentrova"));
    le::gsPutVarintField(opset, 2, 1);
    le::gsPutBytes(model, le::kModelOpsetImport, opset);
  }
  return model;
}

// A source cone (one node and the Concat), its GridSample and a two-Slice recombination: the shape
// the warp rewrite and the source-cone hoist look for.
GsBytes warpBlockSeed(const GsBytes& samplerAttrs) {
  const int64_t x[] = {1, 3, 8, 8}, planes[] = {1, 2, 8, 8};
  const int64_t lo0 = 0, hi0 = 3, lo1 = 3, hi1 = 6, axis = 1;
  GsBytes graph, none, concatAxis, perm;
  const int64_t order[] = {0, 2, 3, 1};
  le::gsAttrI(concatAxis, "axis", 1);
  le::gsAttrIs(perm, "perm", order, 4);
  for (const auto& [name, value] : {std::pair{"lo0", &lo0}, {"hi0", &hi0}, {"lo1", &lo1}, {"hi1", &hi1}, {"ax", &axis}})
    le::gsInit(graph, name, 7, {1}, value, sizeof(int64_t));
  le::gsNode(graph, "Neg", {"P_rgb"}, "v", "cone", none);
  le::gsNode(graph, "Concat", {"P_rgb", "v"}, "tip", "tip", concatAxis);
  le::gsNode(graph, "Transpose", {"gp"}, "grid", "grid", perm);
  le::gsNode(graph, "GridSample", {"tip", "grid"}, "s", "sample", samplerAttrs);
  le::gsNode(graph, "Slice", {"s", "lo0", "hi0", "ax"}, "s0", "s0", none);
  le::gsNode(graph, "Slice", {"s", "lo1", "hi1", "ax"}, "s1", "s1", none);
  le::gsNode(graph, "Mul", {"a", "s1"}, "as1", "as1", none);
  le::gsNode(graph, "Sub", {"s0", "as1"}, "out", "out", none);
  le::gsPutTensorValueInfo(graph, le::kGraphInput, "P_rgb", x, 4);
  le::gsPutTensorValueInfo(graph, le::kGraphInput, "gp", planes, 4);
  le::gsPutTensorValueInfo(graph, le::kGraphInput, "a", x, 4);
  le::gsPutTensorValueInfo(graph, le::kGraphOutput, "out", x, 4);
  return modelOf(graph, false);
}

std::vector<GsBytes> onnxSeeds() {
  const int64_t x[] = {1, 3, 8, 8}, grid[] = {1, 8, 8, 2}, dyn[] = {1, -1, 8, 0};
  std::vector<GsBytes> seeds;

  GsBytes attrs, graph;
  le::gsAttrS(attrs, "mode", "bilinear");
  le::gsAttrS(attrs, "padding_mode", "border");
  le::gsAttrI(attrs, "align_corners", 0);
  le::gsNode(graph, "GridSample", {"P_rgb", "grid"}, "rgb", "warp", attrs);
  le::gsPutTensorValueInfo(graph, le::kGraphInput, "P_rgb", x, 4);
  le::gsPutTensorValueInfo(graph, le::kGraphInput, "grid", grid, 4);
  le::gsPutTensorValueInfo(graph, le::kGraphOutput, "rgb", x, 4);
  seeds.push_back(modelOf(graph, false));

  GsBytes baked, none;
  le::gsNode(baked, "GridSampleFast", {"X", "grid"}, "Y", "baked", none, "com.zentrova");
  le::gsNode(baked, "GridSample", {"Y", "grid"}, "Z", "std", attrs);
  le::gsPutTensorValueInfo(baked, le::kGraphValueInfo, "Y", dyn, 4);
  seeds.push_back(modelOf(baked, true));

  GsBytes resizeAttrs, head;
  const int64_t axes[] = {2, 3};
  const float scales[] = {1.f, 1.f, 2.f, 2.f};
  le::gsAttrS(resizeAttrs, "mode", "cubic");
  le::gsAttrS(resizeAttrs, "coordinate_transformation_mode", "half_pixel");
  le::gsAttrIs(resizeAttrs, "axes", axes, 2);
  le::gsAttrI(resizeAttrs, "exclude_outside", 1);
  le::gsInit(head, "scales", le::kTensorFloat, {4}, scales, sizeof scales);
  le::gsNode(head, "Relu", {"t"}, "u", "reads_before", none);
  le::gsNode(head, "Resize", {"P_rgb", "", "scales"}, "t", "head", resizeAttrs);
  le::gsPutTensorValueInfo(head, le::kGraphInput, "P_rgb", x, 4);
  seeds.push_back(modelOf(head, false));
  seeds.push_back(warpBlockSeed(attrs));
  return seeds;
}

}  // namespace

SeedCorpus seedCorpus() { return {onnxSeeds(), ".onnx"}; }

}  // namespace le::fuzz
