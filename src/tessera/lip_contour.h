// The inner lip outline of the person as a polygon driven by a few lip keypoints, read from the
// bundle's lip template ("lip_template.v1.json"). Each frame's polygon is rasterised with a soft
// feather running outward from its edge; the result bounds the over-covering elliptical pi mask.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tessera/unified_pi.h"

namespace le::tessera {

class LipContour {
 public:
  // Reads a "lip-template-v1" document for an engine composing on `canvas` pixels. Every error is
  // a std::runtime_error "lip_template.v1.json: <reason>"; there is no partial contour.
  static LipContour fromTemplateJson(const std::string& text, int canvas);

  // A contour from nv unit-polygon vertices (x, y pairs) driven by the n keypoint rows lipIdx.
  LipContour(int canvas, float featherPx, const double* uCanon, int nv, const int32_t* lipIdx, int n);
  // Attaches the anchor-linear map: W is rows x cols (rows = 2 nv, cols = 2 k), b has rows entries,
  // lipIdx (k rows, 1..8) replaces the anchor rows. Throws on a shape that does not match.
  void attachMap(const double* W, const double* b, int rows, int cols, const int32_t* lipIdx, int k);

  // The nv vertices (x, y pairs, canvas pixels) for one frame's 63 keypoint floats.
  void polygon(const float* kp, std::vector<double>& verts) const;
  // The polygon's bounding box grown by the feather and a margin, clipped to the canvas.
  Box box(const std::vector<double>& verts) const;
  // Even-odd scanline fill of the polygon inside the box: one byte (0 or 1) per box pixel.
  void fillScanline(const std::vector<double>& verts, const Box& box, std::vector<uint8_t>& inside) const;
  // The feathered alpha inside the box, one float per box pixel, rows of the box width.
  void contourF32(const std::vector<double>& verts, const Box& box, float* out);
  // The feathered alpha over the whole canvas (zero outside the polygon's box).
  void contourF32Canvas(const float* kp, float* out);

  // The pi mask limited by the contour, canvas x canvas bytes.
  void deliveredU8(const float* kp, const UnifiedPi& pi, uint8_t* out);
  // Inside box: bytes outside the contour's box become 0, the others min(byte, alpha byte). True
  // when a byte in the box stays non-zero.
  bool shrinkU8InPlace(const float* kp, const Box& box, uint8_t* mask);
  // The ellipse pi mask and its shift (taken before shrinking), then shrunk by the contour. False
  // when the ellipse has no shift.
  bool deliveredU8AndShift(const float* kp, const UnifiedPi& pi, const float cCanon[2], uint8_t* out,
                           int& rowShift, int& colShift);

  int canvas() const { return canvas_; }
  float featherPx() const { return featherPx_; }
  int vertexCount() const { return nv_; }
  const std::vector<int32_t>& anchorIdx() const { return anchorIdx_; }
  bool hasMap() const { return !mapW_.empty(); }

 private:
  // The feathered alpha of the box written row by row `stride` floats apart.
  void alphaInto(const std::vector<double>& verts, const Box& box, float* out, size_t stride);

  int32_t canvas_ = 0;
  float featherPx_ = 0.f;
  int32_t nv_ = 0;
  std::vector<double> uCanon_;
  std::vector<int32_t> anchorIdx_;
  std::vector<double> mapW_, mapB_;
  int32_t mapCols_ = 0;
  std::vector<uint8_t> inside_;
  std::vector<float> distance_;
  std::vector<float> canvasScratch_;
};

}  // namespace le::tessera
