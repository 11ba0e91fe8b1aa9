// The audio networks' view of caller buffers as ONNX Runtime tensors: float arrays wrapped in
// place (no copy) on the CPU, and outputs copied out at exactly their expected size.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace le::audio {

const Ort::MemoryInfo& cpuMemory();

// A tensor over `data` with the given shape; the buffer must outlive the tensor.
Ort::Value wrapFloats(const float* data, std::initializer_list<int64_t> shape);

// Copies exactly `count` floats of an output; otherwise throws where + ": " + what + " output has
// N values, not count".
void takeFloats(const Ort::Value& value, size_t count, float* out, const std::string& where, const char* what);

}  // namespace le::audio
