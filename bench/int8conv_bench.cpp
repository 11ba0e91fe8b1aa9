// Int8ConvVNNI against ONNX Runtime on director-like 3x3 convolutions (pads 1, stride 1), two
// threads: against the float Conv over the dequantised weights on the same float input, and against
// QLinearConv on the same quantised input and weights (the peer starts from bytes, ours from floats).
#include <benchmark/benchmark.h>
#include <onnxruntime_cxx_api.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "pool/pool.h"
#include "ratio.h"
#include "render/graph/onnx_emitter.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/ops/int8_conv_domain.h"

namespace {

constexpr int kThreads = 2;
enum ElemType : int32_t { kFloat = 1, kUint8 = 2, kInt8 = 3, kInt32 = 6 };

struct Shape {
  int64_t c, side;
  std::string text() const { return "c" + std::to_string(c) + "_" + std::to_string(side) + "x" + std::to_string(side); }
  int64_t inputCount() const { return c * side * side; }
};

// Float input in [-0.5, 1] and per-channel int8 weights, quantised once for every arm.
struct Data {
  std::vector<float> x, wFloat, wScale, bias;
  std::vector<int8_t> w;
  std::vector<uint8_t> xq;
  float xScale = 1.f;
  uint8_t xZero = 0;
};

Data makeData(const Shape& s) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> value(-0.5f, 1.f), weight(-0.2f, 0.2f);
  Data d;
  d.x.resize(static_cast<size_t>(s.inputCount()));
  for (float& v : d.x) v = value(rng);
  const size_t perChannel = static_cast<size_t>(s.c * 9);
  for (int64_t m = 0; m < s.c; ++m) {
    std::vector<float> w(perChannel);
    float peak = 0.f;
    for (float& v : w) v = weight(rng), peak = std::max(peak, std::fabs(v));
    d.wScale.push_back(peak / 127.f);
    for (float v : w) {
      d.w.push_back(static_cast<int8_t>(std::rint(v / d.wScale.back())));
      d.wFloat.push_back(d.w.back() * d.wScale.back());
    }
    d.bias.push_back(0.01f * float(m % 7));
  }
  const float lo = std::min(0.f, *std::min_element(d.x.begin(), d.x.end()));
  const float hi = std::max(0.f, *std::max_element(d.x.begin(), d.x.end()));
  d.xScale = (hi - lo) / 255.f;
  d.xZero = static_cast<uint8_t>(std::rint(-lo / d.xScale));
  for (float v : d.x) d.xq.push_back(static_cast<uint8_t>(std::clamp(std::rint(v / d.xScale) + d.xZero, 0.f, 255.f)));
  return d;
}

// A ValueInfoProto of a tensor of any element type, wrapped as graph field n.
void valueInfo(le::GsBytes& graph, uint32_t n, const std::string& name, int32_t elem, const std::vector<int64_t>& dims) {
  le::GsBytes shape, tensor, type, info;
  for (int64_t v : dims) {
    le::GsBytes dim;
    le::gsPutVarintField(dim, 1, static_cast<uint64_t>(v));
    le::gsPutBytes(shape, 1, dim);
  }
  le::gsPutVarintField(tensor, 1, static_cast<uint64_t>(elem));
  le::gsPutBytes(tensor, 2, shape);
  le::gsPutBytes(type, 1, tensor);
  le::gsPutBytes(info, 1, name);
  le::gsPutBytes(info, 2, type);
  le::gsPutBytes(graph, n, info);
}

le::GsBytes modelOf(const le::GsBytes& graph, bool int8Domain) {
  le::GsBytes model, opset;
  le::gsPutVarintField(model, 1, 8);
  le::gsPutBytes(model, le::kModelGraph, graph);
  le::gsPutVarintField(opset, le::kOpsetVersion, 17);
  le::gsPutBytes(model, le::kModelOpsetImport, opset);
  if (int8Domain) {
    le::GsBytes custom;
    le::gsPutBytes(custom, le::kOpsetDomain, std::string("com.zentrova.int8"));
    le::gsPutVarintField(custom, le::kOpsetVersion, 1);
    le::gsPutBytes(model, le::kModelOpsetImport, custom);
  }
  return model;
}

le::GsBytes convAttributes() {
  le::GsBytes attrs;
  const int64_t pads[] = {1, 1, 1, 1}, ones[] = {1, 1};
  le::gsAttrIs(attrs, "pads", pads, 4);
  le::gsAttrIs(attrs, "strides", ones, 2);
  le::gsAttrIs(attrs, "dilations", ones, 2);
  return attrs;
}

le::GsBytes oursModel(const Shape& s, const Data& d) {
  le::GsBytes graph, attrs = convAttributes();
  le::gsAttrI(attrs, "group", 1);
  le::gsNode(graph, "Int8ConvVNNI", {"X", "W", "scale", "bias"}, "Y", "conv", attrs, "com.zentrova.int8");
  le::gsInit(graph, "W", kInt8, {s.c, s.c, 3, 3}, d.w.data(), d.w.size());
  le::gsInit(graph, "scale", kFloat, {s.c}, d.wScale.data(), d.wScale.size() * sizeof(float));
  le::gsInit(graph, "bias", kFloat, {s.c}, d.bias.data(), d.bias.size() * sizeof(float));
  valueInfo(graph, le::kGraphInput, "X", kFloat, {1, s.c, s.side, s.side});
  valueInfo(graph, le::kGraphOutput, "Y", kFloat, {1, s.c, s.side, s.side});
  return modelOf(graph, true);
}

le::GsBytes floatModel(const Shape& s, const Data& d) {
  le::GsBytes graph;
  le::gsNode(graph, "Conv", {"X", "W", "bias"}, "Y", "conv", convAttributes());
  le::gsInit(graph, "W", kFloat, {s.c, s.c, 3, 3}, d.wFloat.data(), d.wFloat.size() * sizeof(float));
  le::gsInit(graph, "bias", kFloat, {s.c}, d.bias.data(), d.bias.size() * sizeof(float));
  valueInfo(graph, le::kGraphInput, "X", kFloat, {1, s.c, s.side, s.side});
  valueInfo(graph, le::kGraphOutput, "Y", kFloat, {1, s.c, s.side, s.side});
  return modelOf(graph, false);
}

le::GsBytes qlinearModel(const Shape& s, const Data& d) {
  le::GsBytes graph;
  le::gsNode(graph, "QLinearConv", {"X", "x_scale", "x_zero", "W", "w_scale", "w_zero", "y_scale", "y_zero", "bias"},
             "Y", "conv", convAttributes());
  const float yScale = 0.05f;
  const uint8_t yZero = 128;
  const std::vector<int8_t> wZero(static_cast<size_t>(s.c), 0);
  std::vector<int32_t> bias;
  for (size_t m = 0; m < d.bias.size(); ++m) bias.push_back(static_cast<int32_t>(std::rint(d.bias[m] / (d.xScale * d.wScale[m]))));
  le::gsInit(graph, "x_scale", kFloat, {}, &d.xScale, sizeof(float));
  le::gsInit(graph, "x_zero", kUint8, {}, &d.xZero, 1);
  le::gsInit(graph, "W", kInt8, {s.c, s.c, 3, 3}, d.w.data(), d.w.size());
  le::gsInit(graph, "w_scale", kFloat, {s.c}, d.wScale.data(), d.wScale.size() * sizeof(float));
  le::gsInit(graph, "w_zero", kInt8, {s.c}, wZero.data(), wZero.size());
  le::gsInit(graph, "y_scale", kFloat, {}, &yScale, sizeof(float));
  le::gsInit(graph, "y_zero", kUint8, {}, &yZero, 1);
  le::gsInit(graph, "bias", kInt32, {s.c}, bias.data(), bias.size() * sizeof(int32_t));
  valueInfo(graph, le::kGraphInput, "X", kUint8, {1, s.c, s.side, s.side});
  valueInfo(graph, le::kGraphOutput, "Y", kUint8, {1, s.c, s.side, s.side});
  return modelOf(graph, false);
}

Ort::Env& env() {
  static Ort::Env instance(ORT_LOGGING_LEVEL_WARNING, "le");
  return instance;
}

// One session over one single-node model with its input and output bound to host buffers.
class Runner {
 public:
  template <class In, class Out>
  Runner(const le::GsBytes& model, std::vector<In>& x, std::vector<Out>& y, const Shape& s) : session_(nullptr) {
    Ort::SessionOptions options;
    options.SetIntraOpNumThreads(kThreads);
    options.SetInterOpNumThreads(1);
    options.SetGraphOptimizationLevel(ORT_ENABLE_ALL);
    options.AddConfigEntry("session.intra_op.allow_spinning", "0");
    le::registerInt8ConvVNNI(options);
    session_ = Ort::Session(env(), model.data(), model.size(), options);
    const Ort::MemoryInfo memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
    const int64_t dims[] = {1, s.c, s.side, s.side};
    input_ = Ort::Value::CreateTensor<In>(memory, x.data(), x.size(), dims, 4);
    output_ = Ort::Value::CreateTensor<Out>(memory, y.data(), y.size(), dims, 4);
  }

  void run() {
    static const char* in[] = {"X"};
    static const char* out[] = {"Y"};
    session_.Run(Ort::RunOptions{nullptr}, in, &input_, 1, out, &output_, 1);
  }

 private:
  Ort::Session session_;
  Ort::Value input_{nullptr}, output_{nullptr};
};

// Everything one shape's three arms read and write, alive for the whole run.
struct Case {
  explicit Case(const Shape& shape) : s(shape), d(makeData(shape)) {
    const size_t n = static_cast<size_t>(s.inputCount());
    yOurs.resize(n), yFloat.resize(n), yQ.resize(n);
    ours = std::make_unique<Runner>(oursModel(s, d), d.x, yOurs, s);
    floatConv = std::make_unique<Runner>(floatModel(s, d), d.x, yFloat, s);
    qlinear = std::make_unique<Runner>(qlinearModel(s, d), d.xq, yQ, s);
  }
  Shape s;
  Data d;
  std::vector<float> yOurs, yFloat;
  std::vector<uint8_t> yQ;
  std::unique_ptr<Runner> ours, floatConv, qlinear;
};

void registerArm(const std::string& name, Runner* runner) {
  benchmark::RegisterBenchmark(name.c_str(), [runner](benchmark::State& state) {
    runner->run();
    for (auto _ : state) runner->run();
  })->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(0.2)->Repetitions(5);
}

}  // namespace

int main(int argc, char** argv) {
  le::pool::setThreads(kThreads);
  const Shape shapes[] = {{16, 128}, {32, 64}, {32, 128}, {64, 64}};
  std::vector<std::unique_ptr<Case>> cases;
  std::vector<le::bench::Comparison> comparisons;
  for (const Shape& s : shapes) {
    cases.push_back(std::make_unique<Case>(s));
    Case& c = *cases.back();
    const std::string base = "int8conv/" + s.text();
    registerArm(base + "/ours", c.ours.get());
    registerArm(base + "/float", c.floatConv.get());
    registerArm(base + "/qlinear", c.qlinear.get());
    comparisons.push_back({base + "_float", base + "/float", base + "/ours"});
    comparisons.push_back({base + "_qlinear", base + "/qlinear", base + "/ours"});
  }
  return le::bench::runWithMedianRatios(argc, argv, comparisons);
}
