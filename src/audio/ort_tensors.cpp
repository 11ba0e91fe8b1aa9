#include "audio/ort_tensors.h"

#include <algorithm>
#include <stdexcept>

namespace le::audio {

const Ort::MemoryInfo& cpuMemory() {
  static const Ort::MemoryInfo info = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  return info;
}

Ort::Value wrapFloats(const float* data, std::initializer_list<int64_t> shape) {
  size_t count = 1;
  for (int64_t d : shape) count *= size_t(d);
  return Ort::Value::CreateTensor<float>(cpuMemory(), const_cast<float*>(data), count, shape.begin(), shape.size());
}

void takeFloats(const Ort::Value& value, size_t count, float* out, const std::string& where, const char* what) {
  const size_t got = value.GetTensorTypeAndShapeInfo().GetElementCount();
  if (got != count)
    throw std::runtime_error(where + ": " + what + " output has " + std::to_string(got) + " values, not " +
                             std::to_string(count));
  const float* data = value.GetTensorData<float>();
  std::copy(data, data + count, out);
}

}  // namespace le::audio
