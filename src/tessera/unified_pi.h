// The mouth-interior (pi) mask of the compose canvas, drawn from a frame's 21 keypoints with the
// geometry the bundle was baked with: the union of a soft ellipse around the lip landmarks and a
// teeth gate that opens with the mouth. The geometry comes from the manifest's `unified` block; the
// same class identifies which of the three known corpus geometries a bank's donors were cut with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace le::tessera {

// Pixel columns x0..x1 and rows y0..y1, half-open.
struct Box {
  int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

class UnifiedPi {
 public:
  struct EllParams {
    float cx = 0, cy = 0, ax = 0, ay = 0;
    float radiusPx = 0;  // sqrt(ax * ay) * 256
  };

  // The geometry of the manifest's unified.pi block for an engine rendering at `canvas` pixels.
  static UnifiedPi fromManifestJson(const std::string& manifestText, int canvas);
  // The manifest geometry with the lip parameters of the corpus geometry whose canonical centroid
  // over xsTarget (frames x 63 floats) lies nearest cCanon (x, y pixels); name receives its name.
  static UnifiedPi corpusFromManifestJson(const std::string& manifestText, int canvas, const float* xsTarget,
                                          int frames, const float cCanon[2], std::string* name);

  // Masks of canvas x canvas values from keypoints kp (21 x 3 floats).
  void lipMask(const float* kp, float* out) const;
  void propTeethGate(const float* kp, float* out) const;
  EllParams lipParams(const float* kp) const;
  EllParams gateParams(const float* kp, float* gateOut) const;
  Box ellBox(const EllParams& e) const;
  Box supportBox(const float* kp) const;

  // The pi mask as bytes over the whole canvas, or only inside the two ellipse boxes (0 elsewhere;
  // the same bytes inside them).
  void piU8(const float* kp, uint8_t* out) const;
  void piU8Boxed(const float* kp, uint8_t* out) const;
  // min(limit, pi) inside box where limit > 0 (out is left as it is elsewhere).
  void piU8ShrunkBy(const float* kp, const float* limit, const Box& box, uint8_t* out) const;

  // Mean column and row of the bytes >= 128 (in the box); false when there are none.
  bool piU8Centroid(const uint8_t* mask, float& cx, float& cy) const;
  bool piU8Centroid(const uint8_t* mask, const Box& box, float& cx, float& cy) const;
  // The boxed mask and the rounded shift of its centroid from cCanon; false, shifts untouched,
  // when the support box holds no byte >= 128.
  bool piU8AndShift(const float* kp, const float cCanon[2], uint8_t* out, int& rowShift, int& colShift) const;
  // The mean pi centroid over the frames of xsTarget that have one.
  void canonicalCentroid(const float* xsTarget, int frames, float& cx, float& cy) const;

  int canvas() const { return canvas_; }
  const std::string& mode() const { return mode_; }
  bool cornerRecovery() const { return cornerRecovery_; }
  float propGateScale() const { return propGateScale_; }
  const std::vector<int32_t>& lipIdx() const { return lipIdx_; }
  float padX() const { return padX_; }
  float padY() const { return padY_; }
  float down() const { return down_; }
  void setLipGeometry(float padX, float padY, float down);

 private:
  struct LipStats {
    float mx = 0, my = 0, dx = 0, dy = 0;
  };
  LipStats lipStats(const float* kp) const;
  float softEllipse(const EllParams& e, int col, int row) const;
  uint8_t piByte(const EllParams& lip, const EllParams& gate, float g, int col, int row) const;
  void piInBox(const EllParams& lip, const EllParams& gate, float g, const Box& box, uint8_t* out) const;

  int32_t canvas_ = 0;
  std::string mode_;
  bool cornerRecovery_ = false;
  float propGateScale_ = 1.0f;
  std::vector<int32_t> lipIdx_;
  float padX_ = 0, padY_ = 0, down_ = 0;
  std::vector<float> gridX_, gridY_;
};

}  // namespace le::tessera
