#include "render/support/ort_runner.h"

#include <onnxruntime_cxx_api.h>

#include <cmath>
#include <limits>
#include <random>

#include "core/ort_log.h"
#include "render/ops/int8_conv_domain.h"
#include "render/ops/zentrova_domain.h"

namespace le::test {

namespace {

Ort::Env& env() {
  static Ort::Env instance(ORT_LOGGING_LEVEL_WARNING, "le", le::ortLog, nullptr);
  return instance;
}

Ort::Session openSession(const GsBytes& model, int threads) {
  Ort::SessionOptions options;
  options.SetIntraOpNumThreads(threads);
  options.SetInterOpNumThreads(1);
  options.SetGraphOptimizationLevel(ORT_ENABLE_ALL);
  options.AddConfigEntry("session.intra_op.allow_spinning", "0");
  registerGridSampleFast(options);
  registerInt8ConvVNNI(options);
  return Ort::Session(env(), model.data(), model.size(), options);
}

bool isGrid(const std::string& name) { return name.rfind("grid", 0) == 0 || name.rfind("flow", 0) == 0; }

}  // namespace

TensorMap makeInputs(const GsBytes& model, uint32_t seed) {
  Ort::Session session = openSession(model, 1);
  Ort::AllocatorWithDefaultOptions allocator;
  std::mt19937 rng(seed);
  TensorMap inputs;
  for (size_t i = 0; i < session.GetInputCount(); ++i) {
    const std::string name = session.GetInputNameAllocated(i, allocator).get();
    HostTensor t;
    t.shape = session.GetInputTypeInfo(i).GetTensorTypeAndShapeInfo().GetShape();
    size_t count = 1;
    for (int64_t d : t.shape) count *= static_cast<size_t>(d);
    t.data.resize(count);
    if (isGrid(name)) {
      std::uniform_real_distribution<float> coord(-1.15f, 1.15f);
      std::uniform_int_distribution<int> pick(0, 15);
      for (float& v : t.data) {
        const int k = pick(rng);
        v = k == 0 ? -1.f : k == 1 ? 1.f : coord(rng);
      }
    } else {
      std::uniform_real_distribution<float> value(0.f, 1.f);
      for (float& v : t.data) v = value(rng);
    }
    inputs[name] = std::move(t);
  }
  return inputs;
}

TensorMap runModel(const GsBytes& model, const TensorMap& inputs, int threads) {
  Ort::Session session = openSession(model, threads);
  Ort::AllocatorWithDefaultOptions allocator;
  const Ort::MemoryInfo memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  std::vector<std::string> inNames, outNames;
  std::vector<Ort::Value> values;
  for (size_t i = 0; i < session.GetInputCount(); ++i) {
    inNames.push_back(session.GetInputNameAllocated(i, allocator).get());
    const HostTensor& t = inputs.at(inNames.back());
    values.push_back(Ort::Value::CreateTensor<float>(memory, const_cast<float*>(t.data.data()), t.data.size(),
                                                     t.shape.data(), t.shape.size()));
  }
  for (size_t i = 0; i < session.GetOutputCount(); ++i) outNames.push_back(session.GetOutputNameAllocated(i, allocator).get());
  std::vector<const char*> inPtrs, outPtrs;
  for (const auto& n : inNames) inPtrs.push_back(n.c_str());
  for (const auto& n : outNames) outPtrs.push_back(n.c_str());
  std::vector<Ort::Value> outs = session.Run(Ort::RunOptions{nullptr}, inPtrs.data(), values.data(), values.size(),
                                             outPtrs.data(), outPtrs.size());
  TensorMap result;
  for (size_t i = 0; i < outs.size(); ++i) {
    HostTensor t;
    const auto info = outs[i].GetTensorTypeAndShapeInfo();
    t.shape = info.GetShape();
    const float* p = outs[i].GetTensorData<float>();
    t.data.assign(p, p + info.GetElementCount());
    result[outNames[i]] = std::move(t);
  }
  return result;
}

float maxAbsDiff(const TensorMap& a, const TensorMap& b) {
  float worst = 0.f;
  for (const auto& [name, t] : a) {
    const auto it = b.find(name);
    if (it == b.end()) continue;
    if (it->second.shape != t.shape) return std::numeric_limits<float>::infinity();
    for (size_t i = 0; i < t.data.size(); ++i) {
      const float d = std::fabs(t.data[i] - it->second.data[i]);
      if (!(d <= worst)) worst = d;  // NaN propagates as the worst
    }
  }
  return worst;
}

}  // namespace le::test
