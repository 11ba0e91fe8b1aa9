// The director's warp block at crops 256 and 512 on two intra-op threads: the baker's own block
// (source cone, GridSample of the twelve planes, recombination) run by ONNX Runtime, against the one
// com.zentrova::WarpDirector node that replaces it, on the same inputs in the same process.
#include <benchmark/benchmark.h>
#include <onnxruntime_cxx_api.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "ratio.h"
#include "render/graph/gridsample_rewrite.h"
#include "render/graph/onnx_emitter.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/ops/zentrova_domain.h"

namespace {

constexpr int kThreads = 2;
constexpr int kCrops[] = {256, 512};

Ort::Env& env() {
  static Ort::Env instance(ORT_LOGGING_LEVEL_WARNING, "warp_bench");
  return instance;
}

// The block as the baker writes it for benchmarks (tools/bake/fixtures.py, warp-block/).
le::GsBytes blockModel(int crop) {
  const std::string path = std::string(LE_BENCH_FIXTURES) + "/warp-block/warp_block_" + std::to_string(crop) + ".onnx";
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "warp_bench: cannot open %s (build the le_fixtures target)\n", path.c_str());
    std::exit(1);
  }
  return le::GsBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void putOpset(le::GsBytes& model, const std::string& domain, int64_t version) {
  le::GsBytes opset;
  if (!domain.empty()) le::gsPutBytes(opset, 1, domain);
  le::gsPutVarintField(opset, 2, static_cast<uint64_t>(version));
  le::gsPutBytes(model, le::kModelOpsetImport, opset);
}

// One WarpDirector node over the block's inputs and output.
le::GsBytes nodeModel(int crop) {
  le::GsBytes graph, model, none;
  le::gsNode(graph, "WarpDirector", {"P_rgb", "grid"}, "/warp/out", "le_warp_director", none, le::kZentrovaDomain);
  const int64_t image[] = {1, 3, crop, crop}, grid[] = {1, crop, crop, 2};
  le::gsPutTensorValueInfo(graph, le::kGraphInput, "P_rgb", image, 4);
  le::gsPutTensorValueInfo(graph, le::kGraphInput, "grid", grid, 4);
  le::gsPutTensorValueInfo(graph, le::kGraphOutput, "/warp/out", image, 4);
  le::gsPutVarintField(model, 1, 8);
  le::gsPutBytes(model, le::kModelGraph, graph);
  putOpset(model, "", 17);
  putOpset(model, le::kZentrovaDomain, 1);
  return model;
}

// One session with its inputs and output over buffers: a smooth face-like source and a smooth
// warp of a few pixels, as the director's field produces.
class Runner {
 public:
  Runner(const le::GsBytes& model, int crop) {
    Ort::SessionOptions options;
    options.SetIntraOpNumThreads(kThreads);
    options.SetInterOpNumThreads(1);
    options.SetGraphOptimizationLevel(ORT_ENABLE_ALL);
    options.AddConfigEntry("session.intra_op.allow_spinning", "0");
    le::registerWarpDirector(options);
    session_ = Ort::Session(env(), model.data(), model.size(), options);

    src_.resize(size_t(3) * crop * crop);
    for (size_t i = 0; i < src_.size(); ++i) src_[i] = 0.5f + 0.4f * std::sin(float(i) * 0.003f);
    out_.resize(src_.size());
    grid_.resize(size_t(2) * crop * crop);
    for (int i = 0; i < crop; ++i)
      for (int j = 0; j < crop; ++j) {
        const float gx = (2.f * j + 1.f) / crop - 1.f, gy = (2.f * i + 1.f) / crop - 1.f;
        grid_[(size_t(i) * crop + j) * 2] = gx + 0.04f * std::sin(3.f * gy);
        grid_[(size_t(i) * crop + j) * 2 + 1] = gy + 0.03f * std::cos(2.f * gx);
      }
    const Ort::MemoryInfo memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
    const int64_t image[] = {1, 3, crop, crop}, grid[] = {1, crop, crop, 2};
    inputs_.push_back(Ort::Value::CreateTensor<float>(memory, src_.data(), src_.size(), image, 4));
    inputs_.push_back(Ort::Value::CreateTensor<float>(memory, grid_.data(), grid_.size(), grid, 4));
    outputs_.push_back(Ort::Value::CreateTensor<float>(memory, out_.data(), out_.size(), image, 4));
  }

  void run() {
    static const char* in[] = {"P_rgb", "grid"};
    static const char* out[] = {"/warp/out"};
    session_.Run(Ort::RunOptions{nullptr}, in, inputs_.data(), 2, out, outputs_.data(), 1);
    benchmark::DoNotOptimize(out_.data());
  }

 private:
  Ort::Session session_{nullptr};
  std::vector<float> src_, grid_, out_;
  std::vector<Ort::Value> inputs_, outputs_;
};

void registerArm(const std::string& name, const le::GsBytes& model, int crop) {
  benchmark::RegisterBenchmark(name.c_str(), [model, crop](benchmark::State& state) {
    Runner runner(model, crop);
    runner.run();
    for (auto _ : state) runner.run();
  })->UseRealTime()->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<le::bench::Comparison> comparisons;
  for (int crop : kCrops) {
    const std::string base = "warp/crop" + std::to_string(crop);
    registerArm(base + "/ort", blockModel(crop), crop);
    registerArm(base + "/ours", nodeModel(crop), crop);
    // Runs timed in real time carry the suffix "/real_time" in their names.
    comparisons.push_back({base, base + "/ort/real_time", base + "/ours/real_time"});
  }
  return le::bench::runWithRatios(argc, argv, comparisons);
}
