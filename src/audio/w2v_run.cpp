// One run of each speech-encoder network over caller buffers.
#include "audio/w2v_run.h"

#include <stdexcept>
#include <string>

#include "audio/ort_tensors.h"
#include "audio/w2v_features.h"
#include "simd/simd.h"

namespace le::w2v {
namespace {

Ort::Value wrap(const float* data, size_t count, const int64_t* shape, size_t rank) {
  return Ort::Value::CreateTensor<float>(audio::cpuMemory(), const_cast<float*>(data), count, shape, rank);
}

size_t elementCount(const Ort::Value& value) {
  return value.GetTensorTypeAndShapeInfo().GetElementCount();
}

// Runs a one-input, one-output network and returns its output.
Ort::Value runOne(Ort::Session& session, const char* input, Ort::Value& value, const char* output) {
  std::vector<Ort::Value> outputs = session.Run(Ort::RunOptions{nullptr}, &input, &value, 1, &output, 1);
  return std::move(outputs.at(0));
}

}  // namespace

void runLongEncoder(Ort::Session& encoder, const float* window, std::vector<float>& emb) {
  const int64_t shape[] = {1, kLongSamples};
  Ort::Value input = wrap(window, size_t(kLongSamples), shape, 2);
  Ort::Value out = runOne(encoder, "input_values", input, "audio_emb");
  const size_t want = size_t(kLayers) * kLongFrames * kChannels;
  if (elementCount(out) != want)
    throw std::runtime_error("w2v: audio_emb has " + std::to_string(elementCount(out)) + " values, expected " +
                             std::to_string(want));
  const float* data = out.GetTensorData<float>();
  emb.assign(data, data + want);
}

int64_t runTrunk(const ShortWindowPair& pair, const float* window, std::vector<float>& x) {
  const int64_t shape[] = {1, kTrunkSamples};
  Ort::Value input = wrap(window, size_t(kTrunkSamples), shape, 2);
  Ort::Value out = runOne(*pair.trunk, "input_values", input, pair.trunkOutput.c_str());
  const Ort::TensorTypeAndShapeInfo info = out.GetTensorTypeAndShapeInfo();
  const std::vector<int64_t> dims = info.GetShape();
  if (info.GetElementType() != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16 || dims.size() != 3 ||
      dims[1] != kTrunkChannels || dims[2] < 1)
    throw std::runtime_error("w2v_win: trunk output is not f16 [1, 640, LT]");
  int64_t lt = pair.lengthSteps();
  if (lt == 0) {
    pair.learnLengthSteps(dims[2]);
    lt = pair.lengthSteps();
  }
  if (dims[2] != lt) throw std::runtime_error("w2v_win: trunk output length changed between runs");
  x.resize(size_t(kTrunkChannels * lt));
  le::simd::f16ToF32(out.GetTensorData<uint16_t>(), x.data(), x.size());
  return lt;
}

void runHead(const ShortWindowPair& pair, const float* x, std::vector<float>& emb) {
  const int64_t shape[] = {kBlockFrames, kTrunkChannels};
  Ort::Value input = wrap(x, size_t(kBlockFrames * kTrunkChannels), shape, 2);
  Ort::Value out = runOne(*pair.head, "x", input, "emb");
  const size_t want = size_t(kBlockFrames) * kFrameFloats;
  if (elementCount(out) != want) throw std::runtime_error("w2v_win: head emb is not [8, 12, 768]");
  const float* data = out.GetTensorData<float>();
  emb.assign(data, data + want);
}

}  // namespace le::w2v
