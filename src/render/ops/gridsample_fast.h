// GridSample with bilinear interpolation, border padding and align_corners = 0 on float32 planes,
// computed in bands of output rows: an AVX2 + FMA path and a scalar path.
#pragma once

#include <cstdint>

namespace le {

// Extent of one batch item: X is [C, H, W], the grid [Ho, Wo, 2] holds (x, y) in [-1, 1], and Y
// is [C, Ho, Wo].
struct GridSampleExtent {
  int64_t C = 0, H = 0, W = 0, Ho = 0, Wo = 0;
};

// Which path gridSampleBand takes: Auto uses AVX2 + FMA when the CPU has both; Scalar forces
// the scalar loop (tests run both paths through the same operator).
enum class GridSamplePath { Auto, Scalar };
void setGridSampleFastPath(GridSamplePath path);
GridSamplePath gridSampleFastPath();
bool gridSampleAvx2Available();

// Output rows row0 (clamped to >= 0) to row1 (clamped to <= Ho), exclusive, of one batch item.
void gridSampleBand(const float* X, const float* grid, float* Y, const GridSampleExtent& extent, int64_t row0,
                          int64_t row1);

// The grid's spatial size equals X's (Ho = H, Wo = W).
void gridSampleBand(const float* X, const float* grid, float* Y, int64_t C, int64_t H, int64_t W,
                          int64_t row0, int64_t row1);
void gridSampleImage(const float* X, const float* grid, float* Y, int64_t C, int64_t H, int64_t W);

// The two paths, exposed so that tests compare each with a reference.
void gridSampleScalar(const float* X, const float* grid, float* Y, const GridSampleExtent& extent, int64_t row0, int64_t row1);
// Requires AVX2 + FMA and H x W below 2^31.
void gridSampleAvx2(const float* X, const float* grid, float* Y, const GridSampleExtent& extent, int64_t row0, int64_t row1);
// Columns col0 to col1 of output row i on the scalar path (the tail of an AVX2 row).
void gridSampleScalarRow(const float* X, const float* grid, float* Y, const GridSampleExtent& extent, int64_t i, int64_t col0,
                   int64_t col1);

}  // namespace le
