// Runs an in-memory ONNX model through ONNX Runtime's CPU provider with the com.zentrova and
// com.zentrova.int8 domains registered, on deterministic inputs, and returns every output.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "render/graph/onnx_proto_writer.h"

namespace le::test {

struct HostTensor {
  std::vector<int64_t> shape;
  std::vector<float> data;
};
using TensorMap = std::map<std::string, HostTensor>;

// Inputs for every graph input of the model: inputs whose name begins with "grid" or "flow" get
// sampling grids in [-1.15, 1.15] with exact -1 and 1 sprinkled in; the others values in [0, 1].
TensorMap makeInputs(const GsBytes& model, uint32_t seed);

TensorMap runModel(const GsBytes& model, const TensorMap& inputs, int threads = 1);

// Largest absolute difference over outputs present in both maps (with equal shapes, else infinity).
float maxAbsDiff(const TensorMap& a, const TensorMap& b);

}  // namespace le::test
