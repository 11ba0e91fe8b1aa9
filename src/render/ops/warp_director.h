// The director's warp block computed directly: curvature planes of the 3-channel source (the
// value and its second differences vxx, vyy, vxxyy, edge-clamped), then a bilinear gather of those
// planes at a sampling grid (border padding, align_corners = 0) recombined with curvature weights
// of the sample position. This is the function the director graph's source cone, GridSample and
// Slice/Mul/Sub/Add recombination compute, to float rounding.
#pragma once

#include <cstddef>
#include <cstdint>

namespace le {

// Floats of the planes scratch of a W x H source: per pixel (row-major), per channel (3), the four
// floats v, vxx, vyy, vxxyy.
size_t warpPlanesFloats(int64_t W, int64_t H);

// Planes of rows row0 (clamped to >= 0) to row1 (clamped to <= H), exclusive, of all three
// channels of the [3][H][W] source src, written into planes (warpPlanesFloats(W, H) floats, the
// whole image). Rows row0 - 1 and row1 of the source are read, clamped to the image.
void warpDirectorPlanesBand(const float* src, float* planes, int64_t W, int64_t H, int64_t row0,
                            int64_t row1);

// Output rows row0 to row1 (clamped as above), exclusive, of the [3][H][W] output out, sampled
// from the whole-image planes at the [H][W][2] grid of normalised (x, y). Every planes row the
// band's grid reaches must have been computed.
void warpDirectorGatherBand(const float* planes, const float* grid, float* out, int64_t W,
                            int64_t H, int64_t row0, int64_t row1);

// The same output rows without a shared scratch, for callers outside ONNX Runtime: computes into
// a buffer of its own the planes of just the source rows the band's grid reaches.
void warpDirectorBand(const float* src, const float* grid, float* out, int64_t W, int64_t H,
                      int64_t row0, int64_t row1);

// warpDirectorBand over rows 0 to H.
void warpDirector(const float* src, const float* grid, float* out, int64_t W, int64_t H);

// Name of the body that computes the warp: the kernel is vectorised with Highway, so this is the
// name of the instruction-set target chosen for this CPU ("AVX3_DL", "AVX3", "AVX2", "SSE4", ...).
// Every target gives the same bits.
const char* warpBody();

}  // namespace le
