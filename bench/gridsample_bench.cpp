// GridSampleFast against ONNX Runtime's own GridSample: one GridSample node (bilinear, border,
// align_corners 0) opened as the graph stores it and after the load-time rewrite, on the same
// inputs, in the same process, with one and two intra-op threads.
#include <benchmark/benchmark.h>
#include <onnxruntime_cxx_api.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ratio.h"
#include "render/graph/gridsample_rewrite.h"
#include "render/graph/onnx_emitter.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/ops/zentrova_domain.h"

namespace {

struct Shape {
  int64_t n, c, h, w;
  std::string text() const {
    return std::to_string(n) + "x" + std::to_string(c) + "x" + std::to_string(h) + "x" + std::to_string(w);
  }
};

le::GsBytes gridSampleModel(const Shape& s) {
  le::GsBytes attrs, graph, model, opset;
  le::gsAttrS(attrs, "mode", "bilinear");
  le::gsAttrS(attrs, "padding_mode", "border");
  le::gsAttrI(attrs, "align_corners", 0);
  le::gsNode(graph, "GridSample", {"X", "grid"}, "Y", "warp", attrs);
  const int64_t x[] = {s.n, s.c, s.h, s.w}, grid[] = {s.n, s.h, s.w, 2};
  le::gsPutTensorValueInfo(graph, le::kGraphInput, "X", x, 4);
  le::gsPutTensorValueInfo(graph, le::kGraphInput, "grid", grid, 4);
  le::gsPutTensorValueInfo(graph, le::kGraphOutput, "Y", x, 4);
  le::gsPutVarintField(model, 1, 8);
  le::gsPutBytes(model, le::kModelGraph, graph);
  le::gsPutVarintField(opset, 2, 16);
  le::gsPutBytes(model, le::kModelOpsetImport, opset);
  return model;
}

Ort::Env& env() {
  static Ort::Env instance(ORT_LOGGING_LEVEL_WARNING, "le");
  return instance;
}

// One session over one model with its input and output tensors, run repeatedly.
class Runner {
 public:
  Runner(const le::GsBytes& model, const Shape& s, int threads) : session_(nullptr) {
    Ort::SessionOptions options;
    options.SetIntraOpNumThreads(threads);
    options.SetInterOpNumThreads(1);
    options.SetGraphOptimizationLevel(ORT_ENABLE_ALL);
    options.AddConfigEntry("session.intra_op.allow_spinning", "0");
    le::registerGridSampleFast(options);
    session_ = Ort::Session(env(), model.data(), model.size(), options);

    std::mt19937 rng(5);
    std::uniform_real_distribution<float> value(0.f, 1.f), jitter(-0.002f, 0.002f);
    x_.resize(static_cast<size_t>(s.n * s.c * s.h * s.w));
    for (float& v : x_) v = value(rng);
    y_.resize(x_.size());
    // A smooth warp (a few pixels of displacement, like a face moving) rather than noise.
    grid_.resize(static_cast<size_t>(s.n * s.h * s.w * 2));
    for (int64_t n = 0; n < s.n; ++n)
      for (int64_t i = 0; i < s.h; ++i)
        for (int64_t j = 0; j < s.w; ++j) {
          const float gx = (2.f * j + 1.f) / s.w - 1.f, gy = (2.f * i + 1.f) / s.h - 1.f;
          float* g = grid_.data() + ((n * s.h + i) * s.w + j) * 2;
          g[0] = gx + 0.04f * std::sin(3.f * gy + n) + jitter(rng);
          g[1] = gy + 0.03f * std::cos(2.f * gx) + jitter(rng);
        }
    const Ort::MemoryInfo memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
    const int64_t xs[] = {s.n, s.c, s.h, s.w}, gs[] = {s.n, s.h, s.w, 2};
    inputs_.push_back(Ort::Value::CreateTensor<float>(memory, x_.data(), x_.size(), xs, 4));
    inputs_.push_back(Ort::Value::CreateTensor<float>(memory, grid_.data(), grid_.size(), gs, 4));
    outputs_.push_back(Ort::Value::CreateTensor<float>(memory, y_.data(), y_.size(), xs, 4));
  }

  void run() {
    static const char* in[] = {"X", "grid"};
    static const char* out[] = {"Y"};
    session_.Run(Ort::RunOptions{nullptr}, in, inputs_.data(), 2, out, outputs_.data(), 1);
  }

 private:
  Ort::Session session_;
  std::vector<float> x_, grid_, y_;
  std::vector<Ort::Value> inputs_, outputs_;
};

// Collects the real time per iteration of each benchmark, by registered name, for the RATIO lines.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(le::bench::kPlainTable) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)
      if (!r.error_occurred && r.run_type == Run::RT_Iteration) times_[r.run_name.function_name] = r.GetAdjustedRealTime();
  }
  const std::map<std::string, double>& times() const { return times_; }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const Shape shapes[] = {{1, 12, 512, 512}, {4, 64, 64, 64}};
  std::vector<std::string> pairs;
  for (const Shape& s : shapes) {
    const le::GsBytes original = gridSampleModel(s);
    le::GsBytes rewritten = original;
    if (le::rewriteGridSampleToFast(rewritten) != 1) {
      std::fprintf(stderr, "gridsample_bench: the rewrite did not apply\n");
      return 1;
    }
    for (int threads : {1, 2}) {
      const std::string base = "gridsample/" + s.text() + "_t" + std::to_string(threads);
      pairs.push_back(base);
      const std::pair<const char*, const le::GsBytes*> arms[] = {{"ort", &original}, {"ours", &rewritten}};
      for (const auto& [impl, bytes] : arms) {
        const le::GsBytes model = *bytes;
        benchmark::RegisterBenchmark((base + "/" + impl).c_str(), [model, s, threads](benchmark::State& state) {
          Runner runner(model, s, threads);
          runner.run();
          for (auto _ : state) runner.run();
        })->UseRealTime()->Unit(benchmark::kMillisecond);
      }
    }
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const std::string& base : pairs) {
    const auto ort = reporter.times().find(base + "/ort"), ours = reporter.times().find(base + "/ours");
    if (ort == reporter.times().end() || ours == reporter.times().end()) continue;
    std::printf("RATIO %s %.2f\n", base.c_str(), ort->second / ours->second);
  }
  benchmark::Shutdown();
  return 0;
}
