// Puts a rendered face crop back into a full RGB24 frame: unsharp mask, inverse warp through the
// frame's 2x3 paste transform with 8x8 Lanczos (or bicubic / bilinear) resampling, and a blend
// through the feathered mask, in place or from a driver frame into an output frame. CPU only;
// loops run on the calling thread's worker pool.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "paste/paste_taps.h"

namespace le {

struct Unsharp {
  float amount = 1.3f;
  float sigma = 2.0f;
  int ksize = 13;  // odd
};

class Paste {
 public:
  enum Executor { kLanczos8 = 0, kBicubic = 1, kBilinear = 2 };

  // The largest crop side: the unsharp pass keeps one row of blur on the stack.
  static constexpr int kMaxSide = paste::kMaxSide;
  // Throws "paste: side > 1024: ..." for a side the compositor cannot paste.
  static void requireSide(int side);

  // mask: side x side bytes, 0 keeps the frame, 255 takes the crop. Reads LE_PASTE_FAST (executor)
  // and LE_PASTE_KSIZE (a narrower odd kernel). Throws the requireSide refusal, "paste: mask size"
  // / "paste: ksize must be odd" / "paste: ksize too large for the crop".
  Paste(std::vector<uint8_t> mask, int side, const Unsharp& u);
  Paste(const Paste&) = delete;
  Paste& operator=(const Paste&) = delete;

  // Pastes one crop (three planes R, G, B of side x side floats, multiplied by scale) into frame
  // (width x height RGB24) through M, the 2x3 map from crop pixel to frame pixel. A singular or
  // non-finite M, or a box outside the frame, leaves the frame untouched. One call at a time
  // per object.
  void composite(const float* crop, float scale, const float* M, uint8_t* frame, int width, int height);
  // The same with the driver frame read in place and the result written to out (both width x
  // height RGB24, not overlapping): out receives the bytes the in-place form would leave in a copy
  // of driverFrame, each row copied and pasted while it is in cache.
  void composite(const float* crop, float scale, const float* M, const uint8_t* driverFrame, uint8_t* out,
                 int width, int height);

  // The steps of composite, exposed for tests and benchmarks.
  void fillPlanes(const float* crop, float scale);
  void unsharpPlane(std::vector<float>& plane);
  void compositeTail(uint8_t* frame, int width, int x0, int x1, int y0, double dudY, double dvdY, double uBase,
                     double vBase, int y1);

  int side() const { return side_; }
  int ksize() const { return ksize_; }
  int padded() const { return padded_; }
  int executor() const { return executor_; }

 private:
  // The frame box [x0, x1] x [y0, y1] a paste covers and the inverse map's row terms.
  struct Box {
    int x0, x1, y0, y1;
    double dudY, dvdY, uBase, vBase;
  };
  // Sharpens the crop and fills the column tables; false when M or the box leaves nothing to paste.
  bool prepare(const float* crop, float scale, const float* M, int width, int height, Box& box);
  // Pastes box rows [y0, y1] of frame; with source, every frame row is first copied from it.
  void warpRows(const Box& box, const uint8_t* source, uint8_t* frame, int width, int height);
  void interleaveCrop();
  void lanczosRow(const Box& box, int Y, uint8_t* row) const;
  void separableRow(const Box& box, int Y, uint8_t* row) const;

  int side_;
  int ksize_;
  int padded_;
  float amount_;
  int executor_ = kLanczos8;
  std::vector<uint8_t> mask_;
  std::vector<float> gaussian_;
  std::array<float, paste::kPhases * 8> lanczos_;
  std::array<float, paste::kPhases * 2> bilinear_;
  std::array<float, paste::kPhases * 4> bicubic_;
  std::array<std::vector<float>, 3> planes_;
  std::vector<float> paddedRows_;  // side rows, each mirrored out to padded columns
  std::vector<float> horizontal_;  // padded rows of side columns: the horizontal blur
  std::vector<float> crop4_;
  std::vector<int32_t> colU_;
  std::vector<int32_t> colV_;
};

}  // namespace le
