// The a2x object's own networks.
#include "audio/a2x_nets.h"

#include <algorithm>
#include <stdexcept>

#include "audio/w2v_features.h"
#include "audio/w2v_options.h"

namespace le {
namespace {

constexpr int64_t kKeypointFloats = 63;

const Ort::MemoryInfo& cpuMemory() {
  static const Ort::MemoryInfo info = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  return info;
}

Ort::Value wrap(const float* data, std::initializer_list<int64_t> shape) {
  size_t count = 1;
  for (int64_t d : shape) count *= size_t(d);
  return Ort::Value::CreateTensor<float>(cpuMemory(), const_cast<float*>(data), count, shape.begin(),
                                         shape.size());
}

// Copies exactly `count` floats of an output, refusing any other size.
void take(const Ort::Value& value, size_t count, float* out, const char* what) {
  if (value.GetTensorTypeAndShapeInfo().GetElementCount() != count)
    throw std::runtime_error(std::string("a2x: ") + what + " has an unexpected size");
  const float* data = value.GetTensorData<float>();
  std::copy(data, data + count, out);
}

}  // namespace

A2xNets::A2xNets(int threads) : options_(w2v::encoderSessionOptions(threads, "enc/dec")) {}

void A2xNets::openEncoder(const std::string& path) {
  encoder_ = Ort::Session(env_, path.c_str(), options_);
  Ort::AllocatorWithDefaultOptions allocator;
  encoderOutputs_.clear();
  for (size_t i = 0; i < encoder_.GetOutputCount(); ++i)
    encoderOutputs_.push_back(encoder_.GetOutputNameAllocated(i, allocator).get());
}

void A2xNets::openDecoder(const std::string& path) { decoder_ = Ort::Session(env_, path.c_str(), options_); }

void A2xNets::encode(const float* feat, const float* pos, const float* mask, int64_t l, int64_t h,
                     std::vector<float>& out, std::vector<float>& wn) {
  const char* inputNames[] = {"feat", "pos_window", "attn"};
  Ort::Value inputs[] = {wrap(feat, {1, l, w2v::kLayers, w2v::kChannels}), wrap(pos, {1, l, h}),
                         wrap(mask, {1, 1, l, l})};
  const size_t outputCount = std::min<size_t>(encoderOutputs_.size(), 2);
  const char* outputNames[2] = {encoderOutputs_[0].c_str(), outputCount > 1 ? encoderOutputs_[1].c_str() : nullptr};
  std::vector<Ort::Value> outputs =
      encoder_.Run(Ort::RunOptions{nullptr}, inputNames, inputs, 3, outputNames, outputCount);
  out.resize(size_t(l * h));
  take(outputs[0], out.size(), out.data(), "encoder output 0");
  if (outputCount > 1) {
    wn.resize(size_t(l));
    take(outputs[1], wn.size(), wn.data(), "encoder wn output");
  }
}

void A2xNets::decode(const float* ctx, float* prev, float* hidden, int64_t h) {
  const char* inputNames[] = {"ctx_t", "prev", "h"};
  Ort::Value inputs[] = {wrap(ctx, {1, h}), wrap(prev, {1, kKeypointFloats}), wrap(hidden, {1, 1, h})};
  const char* outputNames[] = {"m", "h_out"};
  std::vector<Ort::Value> outputs = decoder_.Run(Ort::RunOptions{nullptr}, inputNames, inputs, 3, outputNames, 2);
  take(outputs[0], size_t(kKeypointFloats), prev, "decoder m");
  take(outputs[1], size_t(h), hidden, "decoder h_out");
}

}  // namespace le
