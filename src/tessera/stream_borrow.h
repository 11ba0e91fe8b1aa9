// The teeth pass adapted to a live stream of rendered crops: each canvas and its keypoints in, the
// frame's mouth mask drawn (the lip contour when the bundle carries a template, else the pi
// ellipse), the pass fed one frame behind, and an emitted teeth window written back into a canvas.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tessera/lip_contour.h"
#include "tessera/teeth_pass.h"
#include "tessera/unified_pi.h"

namespace le::tessera {

class StreamBorrow {
 public:
  // Builds the pass and checks that the stamp's canvas is square and the geometry's canvas.
  // Throws std::runtime_error ("teeth stream: ...", the pass's and the lip template's texts).
  StreamBorrow(const BankData& bank, const HeadWeights& head, const ServeConfig& config, const UnifiedPi& pi,
               const std::string& lipTemplateText);

  // A planar float canvas (3 planes of side x side values in [0, 1]) or a packed RGBA8 canvas and
  // the frame's 63 keypoint floats; true when `result` holds the previous frame's window.
  bool push(const float* canvasF32, const float* keypoints, FrameResult& result);
  bool pushRgba(const uint8_t* canvasRgba, const float* keypoints, FrameResult& result);
  // The common tail: the mask and the shift from the keypoints, the RGB8 scratch already filled.
  bool pushSynth(const float* keypoints, FrameResult& result);
  bool flush(FrameResult& result) { return pass_.flush(result); }

  // Writes an emitted window into a canvas of side x side; a refused result changes nothing (but the
  // alpha bytes of an RGBA canvas, which become 255). Throws on a window of the wrong size.
  static void writeWindowDelta(float* canvasF32, int side, const FrameResult& result, const GeometryStamp& stamp);
  static void writeWindowDeltaRgba(uint8_t* canvasRgba, int side, const FrameResult& result,
                                   const GeometryStamp& stamp);

  // This build splits nothing to the host and runs on the CPU.
  bool hostSplit(std::vector<uint8_t>& out) const;
  const char* backend() const { return "cpu"; }

  const GeometryStamp& stamp() const { return pass_.stamp(); }
  TeethPass::SynthStats synthStats() const { return pass_.synthStats(); }
  bool hasLipContour() const { return contour_ != nullptr; }

 private:
  TeethPass pass_;
  UnifiedPi pi_;
  std::unique_ptr<LipContour> contour_;
  float cCanon_[2] = {0.f, 0.f};
  int32_t frameCounter_ = 0;
  int32_t side_ = 0;
  std::vector<uint8_t> rgb_;
  std::vector<uint8_t> piMask_;
};

}  // namespace le::tessera
