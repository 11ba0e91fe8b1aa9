#include "paste/paste.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "core/log.h"
#include "pool/pool.h"
#include "simd/simd.h"

namespace le {
namespace {

constexpr size_t kGrain = 64;
// Fixed-point positions are clamped so that a row part plus a column part never overflows; any
// position this far out lies outside every crop and is skipped.
constexpr double kFixedLimit = double(1 << 29);

int32_t toFixed(double pixels) {
  return int32_t(std::rint(std::clamp(pixels * paste::kOne, -kFixedLimit, kFixedLimit)));
}

int reflect(int q, int side) {
  q = std::abs(q);
  return q < side ? q : 2 * side - q - 2;
}

int executorFromEnv() {
  const char* v = std::getenv("LE_PASTE_FAST");
  if (!v) return Paste::kLanczos8;
  long mode = std::strtol(v, nullptr, 10);
  return mode == 1 || mode == 2 ? int(mode) : Paste::kLanczos8;
}

// The feather weight at a source position: bilinear over the four mask bytes around it (outside
// counts 0), rounded to a whole byte value.
float maskAlpha(const uint8_t* mask, int side, int px, int py, const float* wu, const float* wv) {
  auto at = [&](int x, int y) -> float {
    return x >= 0 && y >= 0 && x < side && y < side ? float(mask[size_t(y) * side + x]) : 0.0f;
  };
  const float top = at(px, py) * wu[0] + at(px + 1, py) * wu[1];
  const float bottom = at(px, py + 1) * wu[0] + at(px + 1, py + 1) * wu[1];
  return std::nearbyint(top * wv[0] + bottom * wv[1]) / 255.0f;
}

uint8_t blend(uint8_t dst, float alpha, float colour) {
  const float out = float(dst) * (1.0f - alpha) + alpha * colour;
  return uint8_t(std::clamp(out, 0.0f, 255.0f));
}

void logExecutorOnce(int side, int ksize) {
  static std::once_flag once;
  std::call_once(once, [&] {
    le::logPrintf("[le-paste] executor=%s (side=%d, ksize=%d, threads=%d) \xe2\x80\x94 1080p frame\n", "cpu",
                 side, ksize, le::pool::threads());
  });
}

}  // namespace

void Paste::requireSide(int side) {
  if (side > kMaxSide)
    throw std::runtime_error("paste: side > 1024: a face crop of " + std::to_string(side) +
                             " pixels is larger than the compositor pastes");
}

Paste::Paste(std::vector<uint8_t> mask, int side, const Unsharp& u)
    : side_(side), ksize_(u.ksize), padded_(0), amount_(u.amount), mask_(std::move(mask)) {
  requireSide(side);
  if (side < 1 || mask_.size() != size_t(side) * size_t(side)) throw std::runtime_error("paste: mask size");
  if (ksize_ % 2 == 0 || ksize_ < 1) throw std::runtime_error("paste: ksize must be odd");
  executor_ = executorFromEnv();
  if (const char* v = std::getenv("LE_PASTE_KSIZE")) {
    long k = std::strtol(v, nullptr, 10);
    if (k > 2 && k % 2 == 1 && k <= ksize_) ksize_ = int(k);
  }
  // Mirror padding reaches ksize / 2 pixels past each edge; it needs that many pixels inside.
  if (ksize_ / 2 >= side) throw std::runtime_error("paste: ksize too large for the crop");
  padded_ = side + ksize_ - 1;
  gaussian_ = paste::gaussianTaps(ksize_, u.sigma);
  lanczos_ = paste::lanczos8Taps();
  bilinear_ = paste::bilinearTaps();
  bicubic_ = paste::bicubicTaps();
  const size_t area = size_t(side) * side;
  for (auto& plane : planes_) plane.assign(area, 0.0f);
  crop4_.assign(area * 4, 0.0f);
  paddedRows_.assign(size_t(side) * padded_, 0.0f);
  horizontal_.assign(size_t(padded_) * side, 0.0f);
}

bool Paste::prepare(const float* crop, float scale, const float* M, int width, int height, Box& box) {
  for (int i = 0; i < 6; ++i)
    if (!std::isfinite(M[i])) return false;
  const double det = double(M[0]) * M[4] - double(M[1]) * M[3];
  if (det == 0 || !std::isfinite(det)) return false;

  float minX = INFINITY, maxX = -INFINITY, minY = INFINITY, maxY = -INFINITY;
  const float lo = -4.0f, hi = float(side_ + 3);
  for (float cy : {lo, hi})
    for (float cx : {lo, hi}) {
      const float X = M[0] * cx + M[1] * cy + M[2], Y = M[3] * cx + M[4] * cy + M[5];
      minX = std::min(minX, X), maxX = std::max(maxX, X);
      minY = std::min(minY, Y), maxY = std::max(maxY, Y);
    }
  const double fx0 = std::max(0.0, double(std::floor(minX))), fx1 = std::min(double(width - 1), double(std::ceil(maxX)));
  const double fy0 = std::max(0.0, double(std::floor(minY))), fy1 = std::min(double(height - 1), double(std::ceil(maxY)));
  if (fx1 < fx0 || fy1 < fy0) return false;
  box.x0 = int(fx0), box.x1 = int(fx1), box.y0 = int(fy0), box.y1 = int(fy1);

  const double dudX = M[4] / det, dvdX = -M[3] / det;
  box.dudY = -M[1] / det, box.dvdY = M[0] / det;
  box.uBase = -(M[2] * M[4] / det + M[5] * (-M[1] / det));
  box.vBase = -(M[2] * (-M[3] / det) + M[5] * M[0] / det);

  const size_t columns = size_t(box.x1 - box.x0 + 1);
  if (colU_.size() < columns) {
    colU_.resize(columns);
    colV_.resize(columns);
  }
  for (int X = box.x0; X <= box.x1; ++X) {
    colU_[size_t(X - box.x0)] = toFixed(X * dudX);
    colV_[size_t(X - box.x0)] = toFixed(X * dvdX);
  }

  logExecutorOnce(side_, ksize_);
  fillPlanes(crop, scale);
  for (auto& plane : planes_) unsharpPlane(plane);
  return true;
}

void Paste::composite(const float* crop, float scale, const float* M, uint8_t* frame, int width, int height) {
  Box box;
  if (prepare(crop, scale, M, width, height, box)) warpRows(box, nullptr, frame, width, height);
}

void Paste::composite(const float* crop, float scale, const float* M, const uint8_t* driverFrame, uint8_t* out,
                      int width, int height) {
  Box box;
  if (!prepare(crop, scale, M, width, height, box)) box = {0, -1, height, height - 1, 0, 0, 0, 0};
  warpRows(box, driverFrame, out, width, height);
}

void Paste::fillPlanes(const float* crop, float scale) {
  const size_t area = size_t(side_) * side_;
  for (size_t c = 0; c < 3; ++c) {
    const float* src = crop + c * area;
    float* dst = planes_[c].data();
    for (size_t i = 0; i < area; ++i) dst[i] = scale * src[i];
  }
}

void Paste::unsharpPlane(std::vector<float>& plane) {
  const int side = side_, padded = padded_, ksize = ksize_, r = ksize / 2;
  const size_t width = size_t(side);
  const float* kernel = gaussian_.data();
  float* dst = plane.data();
  // Horizontal pass, one source row at a time: the row mirrored out to padded columns, blurred
  // into row r + s of the horizontal plane (side columns, padded rows).
  float* h = horizontal_.data();
  pool::parallelRange(width, kGrain, [&](size_t b, size_t e) {
    for (size_t s = b; s < e; ++s) {
      const float* row = dst + s * width;
      float* mirrored = paddedRows_.data() + s * size_t(padded);
      for (int k = 0; k < r; ++k) mirrored[k] = row[reflect(k - r, side)];
      std::copy(row, row + width, mirrored + r);
      for (int k = r + side; k < padded; ++k) mirrored[k] = row[reflect(k - r, side)];
      simd::pasteBlurRow(mirrored, 1, kernel, ksize, h + (s + size_t(r)) * width, width);
    }
  });
  // Mirrored rows above and below: a padded row's horizontal blur is that of its source row.
  for (int q = 0; q < padded; ++q)
    if (q < r || q >= r + side)
      std::copy_n(h + size_t(r + reflect(q - r, side)) * width, width, h + size_t(q) * width);

  const float amount = amount_;
  pool::parallelRange(width, kGrain, [&](size_t b, size_t e) {
    float blur[paste::kMaxSide];
    for (size_t y = b; y < e; ++y) {
      simd::pasteBlurRow(h + y * width, width, kernel, ksize, blur, width);
      simd::pasteSharpenRow(dst + y * width, blur, amount, width);
    }
  });
}

void Paste::compositeTail(uint8_t* frame, int width, int x0, int x1, int y0, double dudY, double dvdY,
                          double uBase, double vBase, int y1) {
  warpRows({x0, x1, y0, y1, dudY, dvdY, uBase, vBase}, nullptr, frame, width, y1 + 1);
}

void Paste::warpRows(const Box& box, const uint8_t* source, uint8_t* frame, int width, int height) {
  const size_t stride = size_t(width) * 3;
  if (box.y0 <= box.y1 && executor_ == kLanczos8) interleaveCrop();
  pool::parallelRange(size_t(box.y1 - box.y0 + 1), kGrain, [&](size_t b, size_t e) {
    for (size_t r = b; r < e; ++r) {
      const int Y = box.y0 + int(r);
      uint8_t* row = frame + size_t(Y) * stride;
      if (source) std::memcpy(row, source + size_t(Y) * stride, stride);
      if (executor_ == kLanczos8) lanczosRow(box, Y, row);
      else separableRow(box, Y, row);
    }
  });
  if (!source) return;
  // The rows above and below the box are the driver's own.
  const size_t above = size_t(box.y0), below = size_t(height - 1 - box.y1);
  pool::parallelRange(above + below, kGrain * 4, [&](size_t b, size_t e) {
    for (size_t r = b; r < e; ++r) {
      const size_t Y = r < above ? r : size_t(box.y1) + 1 + (r - above);
      std::memcpy(frame + Y * stride, source + Y * stride, stride);
    }
  });
}

void Paste::interleaveCrop() {
  const size_t side = size_t(side_);
  pool::parallelRange(side, kGrain, [&](size_t b, size_t e) {
    for (size_t i = b * side; i < e * side; ++i) {
      crop4_[4 * i + 0] = planes_[0][i];
      crop4_[4 * i + 1] = planes_[1][i];
      crop4_[4 * i + 2] = planes_[2][i];
      crop4_[4 * i + 3] = 0.0f;
    }
  });
}

void Paste::lanczosRow(const Box& box, int Y, uint8_t* row) const {
  const int32_t rowU = toFixed(Y * box.dudY + box.uBase) + paste::kHalfPhase;
  const int32_t rowV = toFixed(Y * box.dvdY + box.vBase) + paste::kHalfPhase;
  simd::pasteLanczos8Row(crop4_.data(), side_, mask_.data(), lanczos_.data(), bilinear_.data(), colU_.data(),
                         colV_.data(), rowU, rowV, box.x0, box.x1, row);
}

void Paste::separableRow(const Box& box, int Y, uint8_t* row) const {
  const int side = side_;
  const bool cubic = executor_ == kBicubic;
  const int32_t rowU = toFixed(Y * box.dudY + box.uBase) + paste::kHalfPhase;
  const int32_t rowV = toFixed(Y * box.dvdY + box.vBase) + paste::kHalfPhase;
  for (int X = box.x0; X <= box.x1; ++X) {
    const int32_t u = rowU + colU_[size_t(X - box.x0)], v = rowV + colV_[size_t(X - box.x0)];
    const int px = u >> paste::kFracBits, py = v >> paste::kFracBits;
    const int fu = (u >> paste::kPhaseShift) & paste::kPhaseMask, fv = (v >> paste::kPhaseShift) & paste::kPhaseMask;
    if (u < -paste::kOne || v < -paste::kOne || px >= side || py >= side) continue;
    const float alpha = maskAlpha(mask_.data(), side, px, py, &bilinear_[size_t(fu) * 2], &bilinear_[size_t(fv) * 2]);
    if (alpha <= 0) continue;
    const int taps = cubic ? 4 : 2, first = cubic ? -1 : 0;
    const float* wu = cubic ? &bicubic_[size_t(fu) * 4] : &bilinear_[size_t(fu) * 2];
    const float* wv = cubic ? &bicubic_[size_t(fv) * 4] : &bilinear_[size_t(fv) * 2];
    for (int c = 0; c < 3; ++c) {
      const float* plane = planes_[size_t(c)].data();
      float colour = 0.0f;
      for (int j = 0; j < taps; ++j) {
        const int sy = py + first + j;
        if (sy < 0 || sy >= side) continue;
        float across = 0.0f;
        for (int i = 0; i < taps; ++i) {
          const int sx = px + first + i;
          if (sx >= 0 && sx < side) across += wu[i] * plane[size_t(sy) * side + sx];
        }
        colour += wv[j] * across;
      }
      row[3 * X + c] = blend(row[3 * X + c], alpha, colour);
    }
  }
}

}  // namespace le
