#include "render/ops/gridsample_fast_op.h"

#include <stdexcept>
#include <string>
#include <vector>

#include "render/ops/gridsample_fast.h"

namespace le {

namespace {

constexpr int64_t kBandRows = 16;

struct BandJob {
  const float* X;
  const float* grid;
  float* Y;
  GridSampleExtent extent;
  int64_t bands;
};

void runBand(void* data, size_t index) {
  const auto& job = *static_cast<const BandJob*>(data);
  const GridSampleExtent& e = job.extent;
  const int64_t n = static_cast<int64_t>(index) / job.bands;
  const int64_t row0 = static_cast<int64_t>(index) % job.bands * kBandRows;
  const size_t item = static_cast<size_t>(n);
  gridSampleBand(job.X + item * static_cast<size_t>(e.C * e.H * e.W),
                       job.grid + item * static_cast<size_t>(e.Ho * e.Wo * 2),
                       job.Y + item * static_cast<size_t>(e.C * e.Ho * e.Wo), e, row0, row0 + kBandRows);
}

}  // namespace

OrtStatusPtr GridSampleFastOp::CreateKernelV2(const OrtApi&, const OrtKernelInfo*, void** kernel) const {
  *kernel = new GridSampleFastKernel();
  return nullptr;
}

OrtStatusPtr GridSampleFastKernel::ComputeV2(OrtKernelContext* raw) {
  return computeToStatus(raw, [](Ort::KernelContext& context) {
    const Ort::ConstValue X = context.GetInput(0);
    const Ort::ConstValue grid = context.GetInput(1);
    const std::vector<int64_t> xs = X.GetTensorTypeAndShapeInfo().GetShape();
    const std::vector<int64_t> gs = grid.GetTensorTypeAndShapeInfo().GetShape();
    // The output takes its spatial size from the grid, as ONNX GridSample does; a grid of another
    // size than X is sampled correctly rather than read out of bounds.
    if (xs.size() != 4 || gs.size() != 4 || gs[0] != xs[0] || gs[3] != 2)
      throw std::runtime_error("GridSampleFast: X must be [N,C,H,W] and grid [N,H_out,W_out,2]; got X " +
                               opShapeText(xs) + " and grid " + opShapeText(gs));
    const int64_t N = xs[0];
    const GridSampleExtent e{xs[1], xs[2], xs[3], gs[1], gs[2]};
    Ort::UnownedValue Y = context.GetOutput(0, {N, e.C, e.Ho, e.Wo});
    if (N == 0 || e.C == 0 || e.Ho == 0 || e.Wo == 0) return;
    if (e.H == 0 || e.W == 0)
      throw std::runtime_error("GridSampleFast: X " + opShapeText(xs) + " has no pixels to sample");
    const int64_t bands = (e.Ho + kBandRows - 1) / kBandRows;
    BandJob job{X.GetTensorData<float>(), grid.GetTensorData<float>(), Y.GetTensorMutableData<float>(), e, bands};
    context.ParallelFor(&runBand, static_cast<size_t>(N * bands), 0, &job);
  });
}

}  // namespace le
