// The a2x object's own networks.
#include "audio/a2x_nets.h"

#include <algorithm>
#include <stdexcept>

#include "audio/w2v_features.h"
#include "audio/ort_tensors.h"
#include "audio/w2v_options.h"
#include "render/graph/onnx_model_check.h"

namespace le {
namespace {

constexpr int64_t kKeypointFloats = 63;

}  // namespace

A2xNets::A2xNets(int threads) : options_(w2v::encoderSessionOptions(threads, "enc/dec")) {}

void A2xNets::openEncoder(const std::string& path) {
  requirePlausibleModelFile(path);
  encoder_ = Ort::Session(env_, path.c_str(), options_);
  Ort::AllocatorWithDefaultOptions allocator;
  encoderOutputs_.clear();
  for (size_t i = 0; i < encoder_.GetOutputCount(); ++i)
    encoderOutputs_.push_back(encoder_.GetOutputNameAllocated(i, allocator).get());
}

void A2xNets::openDecoder(const std::string& path) {
  requirePlausibleModelFile(path);
  decoder_ = Ort::Session(env_, path.c_str(), options_);
}

void A2xNets::encode(const float* feat, const float* pos, const float* mask, int64_t l, int64_t h,
                     std::vector<float>& out, std::vector<float>& wn) {
  const char* inputNames[] = {"feat", "pos_window", "attn"};
  Ort::Value inputs[] = {audio::wrapFloats(feat, {1, l, w2v::kLayers, w2v::kChannels}), audio::wrapFloats(pos, {1, l, h}),
                         audio::wrapFloats(mask, {1, 1, l, l})};
  const size_t outputCount = std::min<size_t>(encoderOutputs_.size(), 2);
  const char* outputNames[2] = {encoderOutputs_[0].c_str(), outputCount > 1 ? encoderOutputs_[1].c_str() : nullptr};
  std::vector<Ort::Value> outputs =
      encoder_.Run(Ort::RunOptions{nullptr}, inputNames, inputs, 3, outputNames, outputCount);
  out.resize(size_t(l * h));
  audio::takeFloats(outputs[0], out.size(), out.data(), "a2x", "encoder output 0");
  if (outputCount > 1) {
    wn.resize(size_t(l));
    audio::takeFloats(outputs[1], wn.size(), wn.data(), "a2x", "encoder wn");
  }
}

void A2xNets::decode(const float* ctx, float* prev, float* hidden, int64_t h) {
  const char* inputNames[] = {"ctx_t", "prev", "h"};
  Ort::Value inputs[] = {audio::wrapFloats(ctx, {1, h}), audio::wrapFloats(prev, {1, kKeypointFloats}), audio::wrapFloats(hidden, {1, 1, h})};
  const char* outputNames[] = {"m", "h_out"};
  std::vector<Ort::Value> outputs = decoder_.Run(Ort::RunOptions{nullptr}, inputNames, inputs, 3, outputNames, 2);
  audio::takeFloats(outputs[0], size_t(kKeypointFloats), prev, "a2x", "decoder m");
  audio::takeFloats(outputs[1], size_t(h), hidden, "a2x", "decoder h_out");
}

}  // namespace le
