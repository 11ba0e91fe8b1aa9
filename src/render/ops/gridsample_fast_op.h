// The GridSampleFast custom operator of the com.zentrova domain: ONNX GridSample with bilinear
// interpolation, border padding and align_corners = 0, on the CPU execution provider.
#pragma once

#include <onnxruntime_cxx_api.h>

namespace le {

// Stateless kernel: validates the shapes, then runs bands of 16 output rows on the session's
// intra-op threads.
struct GridSampleFastKernel {
  OrtStatusPtr ComputeV2(OrtKernelContext* context);
};

struct GridSampleFastOp : Ort::CustomOpBase<GridSampleFastOp, GridSampleFastKernel, true> {
  OrtStatusPtr CreateKernelV2(const OrtApi& api, const OrtKernelInfo* info, void** kernel) const;
  const char* GetName() const { return "GridSampleFast"; }
  const char* GetExecutionProviderType() const { return "CPUExecutionProvider"; }
  size_t GetInputTypeCount() const { return 2; }
  ONNXTensorElementDataType GetInputType(size_t) const { return ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT; }
  size_t GetOutputTypeCount() const { return 1; }
  ONNXTensorElementDataType GetOutputType(size_t) const { return ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT; }
};

}  // namespace le
