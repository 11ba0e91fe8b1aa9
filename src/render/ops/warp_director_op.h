// The WarpDirector custom operator of the com.zentrova domain: the director's whole warp block
// (source cone, GridSample, recombination) as one node on the CPU execution provider.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstdint>
#include <mutex>
#include <vector>

#include "render/ops/custom_op_support.h"

namespace le {

// Validates the shapes, then per batch item computes the planes of the source and gathers them
// at the grid, each pass in bands of 16 rows on the session's intra-op threads.
struct WarpDirectorKernel {
  OrtStatusPtr ComputeV2(OrtKernelContext* context);

 private:
  void compute(Ort::KernelContext& context);

  // Concurrent Run calls of one session share this kernel and its scratch; they take turns.
  std::mutex mutex_;
  // Guarded by mutex_: the extent of the last call and its planes.
  int64_t width_ = 0, height_ = 0;
  std::vector<float> planes_;
};

struct WarpDirectorOp : FloatCpuOp<WarpDirectorOp, WarpDirectorKernel> {
  OrtStatusPtr CreateKernelV2(const OrtApi& api, const OrtKernelInfo* info, void** kernel) const;
  const char* GetName() const { return "WarpDirector"; }
};

}  // namespace le
