#include "render/ops/warp_director_op.h"

#include <stdexcept>
#include <string>

#include "render/ops/warp_director.h"

namespace le {

namespace {

constexpr int64_t kBandRows = 16;
// Sample positions are formed in float, which holds every pixel index exactly below 2^24.
constexpr int64_t kMaxSide = int64_t(1) << 24;

// One batch item of one call: pass 1 writes planes, pass 2 reads them.
struct ItemJob {
  const float* src;
  const float* grid;
  float* out;
  float* planes;
  int64_t W, H;
};

void planesBand(void* data, size_t band) {
  const auto& job = *static_cast<const ItemJob*>(data);
  const int64_t row0 = static_cast<int64_t>(band) * kBandRows;
  warpDirectorPlanesBand(job.src, job.planes, job.W, job.H, row0, row0 + kBandRows);
}

void gatherBand(void* data, size_t band) {
  const auto& job = *static_cast<const ItemJob*>(data);
  const int64_t row0 = static_cast<int64_t>(band) * kBandRows;
  warpDirectorGatherBand(job.planes, job.grid, job.out, job.W, job.H, row0, row0 + kBandRows);
}

void checkShapes(const std::vector<int64_t>& source, const std::vector<int64_t>& grid) {
  if (source.size() != 4)
    throw std::runtime_error("com.zentrova::WarpDirector: the source must be [N,3,H,W]; got " + opShapeText(source));
  if (source[1] != 3)
    throw std::runtime_error(
        "com.zentrova::WarpDirector: this node warps the director's 3-channel source and the graph handed it C=" +
        std::to_string(source[1]) + ". REFUSING rather than writing a frame nobody asked for.");
  if (grid.size() != 4 || grid[0] != source[0] || grid[1] != source[2] || grid[2] != source[3] || grid[3] != 2)
    throw std::runtime_error("com.zentrova::WarpDirector: the grid must be [N,H,W,2] of the source " +
                             opShapeText(source) + "; got " + opShapeText(grid));
  if (source[2] >= kMaxSide || source[3] >= kMaxSide)
    throw std::runtime_error("com.zentrova::WarpDirector: the source " + opShapeText(source) +
                             " is too large to address its pixels in float");
}

}  // namespace

OrtStatusPtr WarpDirectorOp::CreateKernelV2(const OrtApi&, const OrtKernelInfo*, void** kernel) const {
  *kernel = new WarpDirectorKernel();
  return nullptr;
}

OrtStatusPtr WarpDirectorKernel::ComputeV2(OrtKernelContext* raw) {
  return computeToStatus(raw, [this](Ort::KernelContext& context) { compute(context); });
}

void WarpDirectorKernel::compute(Ort::KernelContext& context) {
  const Ort::ConstValue source = context.GetInput(0);
  const Ort::ConstValue grid = context.GetInput(1);
  const std::vector<int64_t> shape = source.GetTensorTypeAndShapeInfo().GetShape();
  checkShapes(shape, grid.GetTensorTypeAndShapeInfo().GetShape());
  const int64_t N = shape[0], H = shape[2], W = shape[3];
  Ort::UnownedValue out = context.GetOutput(0, shape);
  if (N == 0 || H == 0 || W == 0) return;

  const std::lock_guard<std::mutex> lock(mutex_);
  if (W != width_ || H != height_) {
    planes_.resize(warpPlanesFloats(W, H));
    width_ = W;
    height_ = H;
  }
  const size_t imageFloats = size_t(3 * H * W), gridFloats = size_t(H * W * 2);
  const size_t bands = size_t((H + kBandRows - 1) / kBandRows);
  for (int64_t n = 0; n < N; ++n) {
    ItemJob job{source.GetTensorData<float>() + size_t(n) * imageFloats,
                grid.GetTensorData<float>() + size_t(n) * gridFloats,
                out.GetTensorMutableData<float>() + size_t(n) * imageFloats, planes_.data(), W, H};
    context.ParallelFor(&planesBand, bands, 0, &job);
    context.ParallelFor(&gatherBand, bands, 0, &job);
  }
}

}  // namespace le
