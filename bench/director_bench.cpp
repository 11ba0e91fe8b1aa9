// The demo-size director (crop 512) at batch 1 and 4, run by ONNX Runtime's CPU provider with two
// intra-op threads as the renderer opens it, once as baked (ONNX Runtime's own GridSample) and once
// with the load-time rewrite to com.zentrova::GridSampleFast; at batch 1 also with the warp node,
// hoisted, and through the renderer on the demo bundle; and the whole frame call a host makes,
// le_render_drive_rgba on the demo bundle at 1280 x 720 (render and paste). Beside them, the cubic
// x2 Resize of a full-size head (half the crop to the crop) against the chain the head rewrite
// puts in its place.
#include <benchmark/benchmark.h>
#include <onnxruntime_cxx_api.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "le/le.h"
#include "ratio.h"
#include "render/graph/gridsample_rewrite.h"
#include "render/graph/head_resize_rewrite.h"
#include "render/graph/onnx_emitter.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_tensor_reader.h"
#include "render/graph/source_cone.h"
#include "render/graph/warp_block.h"
#include "render/ops/zentrova_domain.h"

namespace {

constexpr int64_t kCrop = 512;
constexpr int kThreads = 2;

Ort::Env& env() {
  static Ort::Env instance(ORT_LOGGING_LEVEL_WARNING, "director_bench");
  return instance;
}

le::GsBytes readModel(int batch) {
  const std::string path = std::string(LE_BENCH_FIXTURES) + "/director-512/model_b" + std::to_string(batch) + ".onnx";
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "director_bench: cannot open %s\n", path.c_str());
    std::exit(1);
  }
  return le::GsBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The options both sessions run with: the bench's threads, no spinning, every graph optimisation.
Ort::SessionOptions sessionOptions() {
  Ort::SessionOptions opts;
  opts.SetIntraOpNumThreads(kThreads);
  opts.SetInterOpNumThreads(1);
  opts.SetGraphOptimizationLevel(GraphOptimizationLevel::ORT_ENABLE_ALL);
  opts.AddConfigEntry("session.intra_op.allow_spinning", "0");
  opts.AddConfigEntry("mlas.disable_kleidiai", "1");
  return opts;
}

// One director session with its inputs and output bound over buffers, as the renderer binds them.
class Director {
 public:
  // boundary: the hoisted per-frame graph's input (name and shape) bound in place of P_rgb.
  Director(const le::GsBytes& model, int batch, const std::string& boundary = {},
           const std::vector<int64_t>& boundaryShape = {}) {
    Ort::SessionOptions opts = sessionOptions();
    le::registerGridSampleFast(opts);
    session_ = Ort::Session(env(), model.data(), model.size(), opts);

    pooled_.resize(size_t(batch) * 64 * 32 * 32);
    prior_.resize(size_t(batch) * 3 * kCrop * kCrop);
    rgb_.resize(prior_.size());
    kd_.resize(size_t(batch) * 63);
    ks_.resize(kd_.size());
    for (size_t i = 0; i < pooled_.size(); ++i) pooled_[i] = std::sin(float(i) * 0.01f);
    for (size_t i = 0; i < prior_.size(); ++i) prior_[i] = 0.5f + 0.4f * std::sin(float(i) * 0.003f);
    for (size_t i = 0; i < kd_.size(); ++i) {
      ks_[i] = 0.6f * std::sin(float(i) * 0.7f);
      kd_[i] = ks_[i] + 0.03f * std::cos(float(i) * 1.3f);
    }
    const Ort::MemoryInfo mem = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
    binding_ = Ort::IoBinding(session_);
    auto bind = [&](const char* name, std::vector<float>& buffer, std::vector<int64_t> shape, bool input) {
      values_.push_back(Ort::Value::CreateTensor<float>(mem, buffer.data(), buffer.size(), shape.data(), shape.size()));
      input ? binding_.BindInput(name, values_.back()) : binding_.BindOutput(name, values_.back());
    };
    values_.reserve(5);
    bind("pooled64", pooled_, {batch, 64, 32, 32}, true);
    if (boundary.empty()) {
      bind("P_rgb", prior_, {batch, 3, kCrop, kCrop}, true);
    } else {
      int64_t count = 1;
      for (int64_t d : boundaryShape) count *= d;
      boundary_.resize(size_t(count));
      for (size_t i = 0; i < boundary_.size(); ++i) boundary_[i] = 0.5f + 0.4f * std::sin(float(i) * 0.003f);
      bind(boundary.c_str(), boundary_, boundaryShape, true);
    }
    bind("kp_driving", kd_, {batch, 21, 3}, true);
    bind("kp_source", ks_, {batch, 21, 3}, true);
    bind("rgb", rgb_, {batch, 3, kCrop, kCrop}, false);
  }

  void run() {
    session_.Run(Ort::RunOptions{nullptr}, binding_);
    benchmark::DoNotOptimize(rgb_.data());
  }

 private:
  Ort::Session session_{nullptr};
  Ort::IoBinding binding_{nullptr};
  std::vector<float> pooled_, prior_, boundary_, rgb_, kd_, ks_;
  std::vector<Ort::Value> values_;
};

void registerDirector(const std::string& name, const le::GsBytes& model, int batch, const std::string& boundary = {},
                      const std::vector<int64_t>& boundaryShape = {}) {
  benchmark::RegisterBenchmark(name.c_str(), [model, batch, boundary, boundaryShape](benchmark::State& state) {
    Director director(model, batch, boundary, boundaryShape);
    director.run();
    for (auto _ : state) director.run();
    // Seconds per frame (a batch renders `batch` frames per run).
    state.counters["s_per_frame"] =
        benchmark::Counter(batch, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  })->UseRealTime()->Unit(benchmark::kMillisecond);
}

// The demo bundle scripts/demo bakes; LE_DEMO_BUNDLE names another.
std::string demoBundle() {
  const char* env = std::getenv("LE_DEMO_BUNDLE");
  return env && *env ? env : std::string(LE_SOURCE_DIR) + "/out/demo-bundle";
}

void driveRgba(benchmark::State& state) {
  le_ctx* ctx = le_create(demoBundle().c_str(), "b1", 0, nullptr);
  if (!ctx) {
    state.SkipWithError(("no demo bundle (run scripts/demo): " + std::string(le_last_error())).c_str());
    return;
  }
  std::vector<uint8_t> rgba(size_t(le_width(ctx)) * size_t(le_height(ctx)) * 4);
  const int frames = le_drive_frames(ctx);
  if (!le_render_drive_rgba(ctx, 0, rgba.data(), rgba.size())) state.SkipWithError(le_last_error());
  int i = 1;
  for (auto _ : state) {
    if (!le_render_drive_rgba(ctx, i++ % frames, rgba.data(), rgba.size())) {
      state.SkipWithError(le_last_error());
      break;
    }
  }
  state.SetLabel(std::to_string(le_width(ctx)) + "x" + std::to_string(le_height(ctx)));
  le_destroy(ctx);
}

// The director's crop for drive frame i through the C interface: the renderer with every load-time
// choice it makes by default (the source-cone hoist on a batch-1 director), or with the warp node.
void renderCrop(benchmark::State& state, bool warpNode) {
  le_ctx* ctx = le_create(demoBundle().c_str(), "b1", kThreads, nullptr);
  if (!ctx) {
    state.SkipWithError(("no demo bundle (run scripts/demo): " + std::string(le_last_error())).c_str());
    return;
  }
  const int frames = le_drive_frames(ctx);
  // The director opens at the first render, which is when it reads LE_WARP_NODE.
  if (warpNode) setenv("LE_WARP_NODE", "1", 1);
  const bool rendered = le_render_drive_crop(ctx, 0) != nullptr;
  unsetenv("LE_WARP_NODE");
  if (!rendered) state.SkipWithError(le_last_error());
  int i = 1;
  for (auto _ : state) {
    if (!le_render_drive_crop(ctx, i++ % frames)) {
      state.SkipWithError(le_last_error());
      break;
    }
  }
  le_destroy(ctx);
}

// The full-size head's last step: a 1x1 Conv (which names the channel count) and the cubic x2
// Resize from half the demo crop to the crop, as baked and after the load-time head rewrite.
le::GsBytes headResizeModel() {
  constexpr int64_t kChannels = 3, kSide = kCrop / 2;
  le::GsBytes graph, model, opset, none, resizeAttrs;
  std::vector<float> weights(kChannels * kChannels, 0.f);
  for (int64_t c = 0; c < kChannels; ++c) weights[size_t(c * kChannels + c)] = 1.f;
  const float scales[] = {1.f, 1.f, 2.f, 2.f};
  le::gsInit(graph, "w", le::kTensorFloat, {kChannels, kChannels, 1, 1}, weights.data(), weights.size() * 4);
  le::gsInit(graph, "scales", le::kTensorFloat, {4}, scales, sizeof scales);
  le::gsNode(graph, "Conv", {"X", "w"}, "feat", "/head/conv2", none);
  le::gsAttrS(resizeAttrs, "mode", "cubic");
  le::gsAttrS(resizeAttrs, "coordinate_transformation_mode", "half_pixel");
  le::gsNode(graph, "Resize", {"feat", "", "scales"}, "Y", "/head/up_cubic", resizeAttrs);
  const int64_t x[] = {1, kChannels, kSide, kSide}, y[] = {1, kChannels, kCrop, kCrop};
  le::gsPutTensorValueInfo(graph, le::kGraphInput, "X", x, 4);
  le::gsPutTensorValueInfo(graph, le::kGraphOutput, "Y", y, 4);
  le::gsPutVarintField(model, 1, 8);
  le::gsPutBytes(model, le::kModelGraph, graph);
  le::gsPutVarintField(opset, 2, 18);
  le::gsPutBytes(model, le::kModelOpsetImport, opset);
  return model;
}

// One session over the head resize model with its input and output bound.
class HeadResize {
 public:
  explicit HeadResize(const le::GsBytes& model) {
    Ort::SessionOptions opts = sessionOptions();
    session_ = Ort::Session(env(), model.data(), model.size(), opts);
    x_.resize(size_t(3) * (kCrop / 2) * (kCrop / 2));
    y_.resize(size_t(3) * kCrop * kCrop);
    for (size_t i = 0; i < x_.size(); ++i) x_[i] = 0.5f + 0.4f * std::sin(float(i) * 0.002f);
    const Ort::MemoryInfo mem = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
    const int64_t xs[] = {1, 3, kCrop / 2, kCrop / 2}, ys[] = {1, 3, kCrop, kCrop};
    binding_ = Ort::IoBinding(session_);
    values_.push_back(Ort::Value::CreateTensor<float>(mem, x_.data(), x_.size(), xs, 4));
    values_.push_back(Ort::Value::CreateTensor<float>(mem, y_.data(), y_.size(), ys, 4));
    binding_.BindInput("X", values_[0]);
    binding_.BindOutput("Y", values_[1]);
  }

  void run() {
    session_.Run(Ort::RunOptions{nullptr}, binding_);
    benchmark::DoNotOptimize(y_.data());
  }

 private:
  Ort::Session session_{nullptr};
  Ort::IoBinding binding_{nullptr};
  std::vector<float> x_, y_;
  std::vector<Ort::Value> values_;
};

void registerHeadResize(const std::string& name, const le::GsBytes& model) {
  benchmark::RegisterBenchmark(name.c_str(), [model](benchmark::State& state) {
    HeadResize head(model);
    head.run();
    for (auto _ : state) head.run();
  })->UseRealTime()->Unit(benchmark::kMillisecond);
}

// The batch-1 director as the renderer may open it: one WarpDirector node in place of the warp
// block, or the source cone hoisted out (the per-frame graph alone, and the prep graph that runs
// once per source frame on a spare core); and the whole renderer against the graph as baked.
void registerBatchOneArms(std::vector<le::bench::Comparison>& comparisons) {
  const le::GsBytes original = readModel(1);
  le::GsBytes warp = original;
  std::string reason;
  if (le::rewriteWarpBlockToCustomOp(warp, reason) == 0) {
    std::fprintf(stderr, "director_bench: the warp rewrite did not apply (%s)\n", reason.c_str());
    std::exit(1);
  }
  registerDirector("director/b1/warp_node", warp, 1);
  le::GsBytes fast = original, prep, perFrame;
  le::rewriteGridSampleToFast(fast);
  std::string boundary;
  const std::vector<int64_t> shape{1, 12, kCrop, kCrop};
  if (le::findSourceConeBoundary(fast, boundary) != 1 || !le::buildSourceConePrep(fast, boundary, prep, reason) ||
      !le::buildSourceConePerFrame(fast, boundary, shape.data(), shape.size(), perFrame, reason)) {
    std::fprintf(stderr, "director_bench: the hoist did not apply (%s)\n", reason.c_str());
    std::exit(1);
  }
  registerDirector("director/b1/hoist_per_frame", perFrame, 1, boundary, shape);
  benchmark::RegisterBenchmark("director/b1/hoist_prep", [prep, boundary](benchmark::State& state) {
    Ort::SessionOptions opts = sessionOptions();
    opts.SetIntraOpNumThreads(1);
    Ort::Session session(env(), prep.data(), prep.size(), opts);
    std::vector<float> prior(size_t(3) * kCrop * kCrop, 0.5f);
    const int64_t dims[] = {1, 3, kCrop, kCrop};
    const Ort::MemoryInfo mem = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
    Ort::Value input = Ort::Value::CreateTensor<float>(mem, prior.data(), prior.size(), dims, 4);
    const char* in = "P_rgb";
    const char* out = boundary.c_str();
    for (auto _ : state) benchmark::DoNotOptimize(session.Run(Ort::RunOptions{nullptr}, &in, &input, 1, &out, 1));
  })->UseRealTime()->Unit(benchmark::kMillisecond);
  // The renderer as it opens by default (the hoist) and with the warp node, the fastest path here.
  benchmark::RegisterBenchmark("director/b1_hoisted/ours", [](benchmark::State& state) { renderCrop(state, false); })
      ->UseRealTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("director/b1_best/ours", [](benchmark::State& state) { renderCrop(state, true); })
      ->UseRealTime()->Unit(benchmark::kMillisecond);
  comparisons.push_back({"director_b1_best", "director/b1/ort/real_time", "director/b1_best/ours/real_time"});
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<le::bench::Comparison> comparisons;
  for (int batch : {1, 4}) {
    const le::GsBytes original = readModel(batch);
    le::GsBytes rewritten = original;
    if (le::rewriteGridSampleToFast(rewritten) == 0) {
      std::fprintf(stderr, "director_bench: the rewrite did not apply\n");
      return 1;
    }
    // The same graph as baked (ONNX Runtime's own GridSample) and after our load-time rewrite.
    const std::string base = "director/b" + std::to_string(batch);
    registerDirector(base + "/ort", original, batch);
    registerDirector(base + "/ours", rewritten, batch);
    // Runs timed in real time carry the suffix "/real_time" in their names.
    comparisons.push_back({base, base + "/ort/real_time", base + "/ours/real_time"});
  }
  registerBatchOneArms(comparisons);
  const le::GsBytes head = headResizeModel();
  le::GsBytes chain = head;
  if (le::rewriteHeadCubicResize(chain) != 1) {
    std::fprintf(stderr, "director_bench: the head rewrite did not apply\n");
    return 1;
  }
  registerHeadResize("director/head_resize/ort", head);
  registerHeadResize("director/head_resize/ours", chain);
  comparisons.push_back({"director/head_resize", "director/head_resize/ort/real_time", "director/head_resize/ours/real_time"});
  benchmark::RegisterBenchmark("director/drive_rgba/ours", driveRgba)->UseRealTime()->Unit(benchmark::kMillisecond);
  return le::bench::runWithRatios(argc, argv, comparisons);
}
