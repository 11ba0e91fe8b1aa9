// The Int8ConvVNNI custom operator of the com.zentrova.int8 domain: a convolution whose weights are
// stored as int8 with one float scale per output channel, run on the CPU execution provider.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstdint>
#include <mutex>
#include <vector>

#include "render/ops/int8_conv_pack.h"

namespace le {

// The convolution attributes of one node: strides and dilations (two each), pads (top, left,
// bottom, right) and group.
struct Int8ConvAttributes {
  std::vector<int64_t> strides{1, 1}, pads{0, 0, 0, 0}, dilations{1, 1};
  int64_t group = 1;
};

// Per node: the attributes and the weights, packed on the first Compute (the weight input is an
// initializer, so later calls see the same values).
struct Int8ConvKernel {
  explicit Int8ConvKernel(Int8ConvAttributes attributes) : attributes_(std::move(attributes)) {}
  OrtStatusPtr ComputeV2(OrtKernelContext* context);

 private:
  Int8ConvAttributes attributes_;
  std::once_flag packOnce_;
  Int8PackedWeights packed_;
};

struct Int8ConvOp : Ort::CustomOpBase<Int8ConvOp, Int8ConvKernel, true> {
  Int8ConvOp();
  OrtStatusPtr CreateKernelV2(const OrtApi& api, const OrtKernelInfo* info, void** kernel) const;
  const char* GetName() const { return "Int8ConvVNNI"; }
  const char* GetExecutionProviderType() const { return "CPUExecutionProvider"; }
  size_t GetInputTypeCount() const { return 4; }
  ONNXTensorElementDataType GetInputType(size_t index) const {
    return index == 1 ? ONNX_TENSOR_ELEMENT_DATA_TYPE_INT8 : ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT;
  }
  size_t GetOutputTypeCount() const { return 1; }
  ONNXTensorElementDataType GetOutputType(size_t) const { return ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT; }
};

}  // namespace le
