// Runs the fuzz target without libFuzzer (g++ has none): over the files named on the command line,
// or over a seed corpus of emitted models and seeded mutations of it.
//   le_onnx_fuzz_replay FILE...                     replay inputs (for example a libFuzzer finding)
//   le_onnx_fuzz_replay [--runs N] [--seed S] [--corpus-out DIR]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "render/graph/onnx_emitter.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_tensor_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

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

std::vector<GsBytes> seedCorpus() {
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

GsBytes mutate(const GsBytes& seed, std::mt19937& rng) {
  GsBytes m = seed;
  const int edits = 1 + static_cast<int>(rng() % 4);
  for (int e = 0; e < edits && !m.empty(); ++e) {
    const size_t at = rng() % m.size();
    switch (rng() % 5) {
      case 0: m[at] = static_cast<uint8_t>(rng()); break;
      case 1: m[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
      case 2: m.resize(at); break;
      case 3: m.insert(m.begin() + static_cast<long>(at), static_cast<uint8_t>(rng())); break;
      default: m[at] = 0xff; break;
    }
  }
  return m;
}

int replayFiles(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "le_onnx_fuzz_replay: cannot open %s\n", argv[i]);
      return 1;
    }
    const GsBytes bytes((std::istreambuf_iterator<char>(in)), {});
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::printf("replayed %d input(s)\n", argc - 1);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strncmp(argv[1], "--", 2) != 0) return replayFiles(argc, argv);
  long runs = 200000;
  unsigned seed = 1;
  std::string corpusOut;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--runs")) runs = std::atol(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--seed")) seed = static_cast<unsigned>(std::atol(argv[i + 1]));
    else if (!std::strcmp(argv[i], "--corpus-out")) corpusOut = argv[i + 1];
  }
  const std::vector<GsBytes> seeds = seedCorpus();
  if (!corpusOut.empty()) {
    std::filesystem::create_directories(corpusOut);
    for (size_t i = 0; i < seeds.size(); ++i) {
      std::ofstream out(std::filesystem::path(corpusOut) / ("seed" + std::to_string(i) + ".onnx"), std::ios::binary);
      out.write(reinterpret_cast<const char*>(seeds[i].data()), static_cast<std::streamsize>(seeds[i].size()));
    }
  }
  for (const GsBytes& s : seeds) LLVMFuzzerTestOneInput(s.data(), s.size());
  std::mt19937 rng(seed);
  for (long r = 0; r < runs; ++r) {
    const GsBytes m = mutate(seeds[static_cast<size_t>(r) % seeds.size()], rng);
    LLVMFuzzerTestOneInput(m.data(), m.size());
  }
  std::printf("%ld mutated input(s) over %zu seed(s): no finding\n", runs, seeds.size());
  return 0;
}
