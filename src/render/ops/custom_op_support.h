// What every custom operator of the library shares: the float-in, float-out operator definition on
// the CPU execution provider, the kernel's exceptions turned into ONNX Runtime statuses, and shapes
// spelt for error texts.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstdint>
#include <string>
#include <vector>

namespace le {

// An operator of two float inputs and one float output, computed by Kernel::ComputeV2 on the CPU.
template <class Op, class Kernel>
struct FloatCpuOp : Ort::CustomOpBase<Op, Kernel, true> {
  const char* GetExecutionProviderType() const { return "CPUExecutionProvider"; }
  size_t GetInputTypeCount() const { return 2; }
  ONNXTensorElementDataType GetInputType(size_t) const { return ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT; }
  size_t GetOutputTypeCount() const { return 1; }
  ONNXTensorElementDataType GetOutputType(size_t) const { return ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT; }
};

// Runs compute(context) and returns null, or the status of the exception it threw (the runtime's
// own error code for its exceptions, a runtime error for every other).
template <class Compute>
OrtStatusPtr computeToStatus(OrtKernelContext* raw, Compute&& compute) {
  try {
    Ort::KernelContext context(raw);
    compute(context);
    return nullptr;
  } catch (const Ort::Exception& ex) {
    return Ort::GetApi().CreateStatus(ex.GetOrtErrorCode(), ex.what());
  } catch (const std::exception& ex) {
    return Ort::GetApi().CreateStatus(ORT_RUNTIME_EXCEPTION, ex.what());
  }
}

// "[1,3,64,64]".
std::string opShapeText(const std::vector<int64_t>& shape);

}  // namespace le
