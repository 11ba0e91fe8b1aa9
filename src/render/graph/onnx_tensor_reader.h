// Readers for ONNX tensors (TensorProto) and the tensor of a Constant node.
#pragma once

#include <cstdint>
#include <vector>

#include "render/graph/onnx_proto_reader.h"

namespace le {

inline constexpr uint32_t kTensorDims = 1;
inline constexpr uint32_t kTensorDataType = 2;
inline constexpr uint32_t kTensorFloatData = 4;
inline constexpr uint32_t kTensorName = 8;
inline constexpr uint32_t kTensorRawData = 9;
inline constexpr int32_t kTensorFloat = 1;

// The dims of a tensor, packed or unpacked varints, in order.
void gsTensorDims(GsSlice tensor, std::vector<int64_t>& dims);

// The values of a FLOAT tensor from raw_data, else from float_data (packed or unpacked). False for
// another data type, or for data whose byte count is not a whole number of floats.
bool gsTensorFloats(GsSlice tensor, std::vector<float>& values);

// The raw_data bytes of a tensor (empty when absent).
GsSlice gsPayload(GsSlice tensor);

// The tensor held by the `value` attribute of a Constant node (empty when absent).
GsSlice gsConstValue(GsSlice node);

}  // namespace le
