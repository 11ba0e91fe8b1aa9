// The GridSampleFast custom operator of the com.zentrova domain: ONNX GridSample with bilinear
// interpolation, border padding and align_corners = 0, on the CPU execution provider.
#pragma once

#include <onnxruntime_cxx_api.h>

#include "render/ops/custom_op_support.h"

namespace le {

// Stateless kernel: validates the shapes, then runs bands of 16 output rows on the session's
// intra-op threads.
struct GridSampleFastKernel {
  OrtStatusPtr ComputeV2(OrtKernelContext* context);
};

struct GridSampleFastOp : FloatCpuOp<GridSampleFastOp, GridSampleFastKernel> {
  OrtStatusPtr CreateKernelV2(const OrtApi& api, const OrtKernelInfo* info, void** kernel) const;
  const char* GetName() const { return "GridSampleFast"; }
};

}  // namespace le
