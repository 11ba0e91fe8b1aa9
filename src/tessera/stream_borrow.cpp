#include "tessera/stream_borrow.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "core/log.h"
#include "pool/pool.h"

namespace le::tessera {

namespace {

constexpr size_t kPixelGrain = 4096;

// A canvas value as a byte: 0 for v <= 0 or not a number, else min(v, 1) * 255 rounded to nearest
// with ties to even.
uint8_t toByte(float v) {
  if (!(v > 0.f)) return 0;
  return uint8_t(std::nearbyint(std::min(v, 1.f) * 255.f));
}

void checkCanvases(const GeometryStamp& stamp, const UnifiedPi& pi) {
  if (stamp.canvas_w != stamp.canvas_h)
    throw std::runtime_error("teeth stream: non-square compose canvas " + std::to_string(stamp.canvas_w) + "x" +
                             std::to_string(stamp.canvas_h) + " \xe2\x80\x94 le_core renders a square crop");
  if (pi.canvas() != stamp.canvas_w)
    throw std::runtime_error("teeth stream: manifest pi canvas " + std::to_string(pi.canvas()) +
                             " != bank compose canvas " + std::to_string(stamp.canvas_w) +
                             " \xe2\x80\x94 refusing to compose a mouth on a canvas the stamp does not name");
}

std::unique_ptr<LipContour> contourOf(const std::string& text, int canvas) {
  if (text.empty()) {
    le::logPrintf("[borrow] !!! delivery mask: ELLIPSE \xe2\x80\x94 this bundle carries no %s, so it serves the "
                  "over-covering elliptical mask the contour replaces. BACKFILL IT: "
                  "models/ombrine-2/tools/bake_lip_templates.py\n",
                  "lip_template.v1.json");
    return nullptr;
  }
  auto contour = std::make_unique<LipContour>(LipContour::fromTemplateJson(text, canvas));
  le::logPrintf("[borrow] delivery mask: LIP CONTOUR (%d verts, feather %.1f px) \xe2\x80\x94 the ellipse is not "
                "reachable in this session\n",
                contour->vertexCount(), double(contour->featherPx()));
  return contour;
}

// The window's bytes must be the stamp's window, and the canvas the stamp's canvas.
void checkWindow(const FrameResult& result, int side, const GeometryStamp& stamp) {
  const size_t want = size_t(stamp.window_w) * size_t(stamp.window_h) * 3;
  if (result.pixels.size() != want)
    throw std::runtime_error("teeth stream: window " + std::to_string(result.pixels.size()) +
                             " bytes does not match the stamp window " + std::to_string(stamp.window_h) + "x" +
                             std::to_string(stamp.window_w) + " \xe2\x80\x94 refusing to write back");
  if (side != stamp.canvas_w || side != stamp.canvas_h)
    throw std::runtime_error("teeth stream: canvas side " + std::to_string(side) + " is not the stamp's canvas " +
                             std::to_string(stamp.canvas_w) + " \xe2\x80\x94 refusing to write back");
}

// The borrowed byte in place of the canvas value's 8-bit part, its sub-8-bit remainder kept.
float withByte(float u, uint8_t byte) {
  const float q = float(toByte(u)) / 255.f;
  return std::clamp(float(byte) / 255.f - q + u, 0.f, 1.f);
}

}  // namespace

StreamBorrow::StreamBorrow(const BankData& bank, const HeadWeights& head, const ServeConfig& config,
                           const UnifiedPi& pi, const std::string& lipTemplateText)
    : pass_(bank, head, config), pi_(pi) {
  checkCanvases(bank.stamp, pi);
  contour_ = contourOf(lipTemplateText, bank.stamp.canvas_w);
  cCanon_[0] = float(bank.c_canon[0]);
  cCanon_[1] = float(bank.c_canon[1]);
  side_ = bank.stamp.canvas_w;
  rgb_.resize(size_t(side_) * size_t(side_) * 3);
  piMask_.resize(size_t(side_) * size_t(side_));
}

bool StreamBorrow::push(const float* canvasF32, const float* keypoints, FrameResult& result) {
  const size_t pixels = size_t(side_) * size_t(side_);
  for (size_t c = 0; c < 3; ++c) {
    const float* plane = canvasF32 + c * pixels;
    le::pool::parallelRange(pixels, kPixelGrain, [&](size_t begin, size_t end) {
      for (size_t i = begin; i < end; ++i) rgb_[3 * i + c] = toByte(plane[i]);
    });
  }
  return pushSynth(keypoints, result);
}

bool StreamBorrow::pushRgba(const uint8_t* canvasRgba, const float* keypoints, FrameResult& result) {
  const size_t pixels = size_t(side_) * size_t(side_);
  for (size_t i = 0; i < pixels; ++i) std::copy_n(canvasRgba + 4 * i, 3, rgb_.begin() + std::ptrdiff_t(3 * i));
  return pushSynth(keypoints, result);
}

bool StreamBorrow::pushSynth(const float* keypoints, FrameResult& result) {
  int rowShift = 0, colShift = 0;
  const bool found = contour_ ? contour_->deliveredU8AndShift(keypoints, pi_, cCanon_, piMask_.data(), rowShift, colShift)
                              : pi_.piU8AndShift(keypoints, cCanon_, piMask_.data(), rowShift, colShift);
  const std::optional<Shift> shift = found ? std::optional<Shift>(Shift{rowShift, colShift}) : std::nullopt;
  return pass_.push(frameCounter_++, rgb_.data(), piMask_.data(), shift, result);
}

void StreamBorrow::writeWindowDelta(float* canvasF32, int side, const FrameResult& result,
                                    const GeometryStamp& stamp) {
  if (result.refused) return;
  checkWindow(result, side, stamp);
  const size_t pixels = size_t(side) * size_t(side);
  for (int c = 0; c < 3; ++c) {
    for (int j = 0; j < stamp.window_h; ++j) {
      float* row = canvasF32 + size_t(c) * pixels + size_t(stamp.window_y0 + j) * size_t(side) + size_t(stamp.window_x0);
      const uint8_t* bytes = result.pixels.data() + size_t(j) * size_t(stamp.window_w) * 3 + size_t(c);
      for (int x = 0; x < stamp.window_w; ++x) row[x] = withByte(row[x], bytes[3 * x]);
    }
  }
}

void StreamBorrow::writeWindowDeltaRgba(uint8_t* canvasRgba, int side, const FrameResult& result,
                                        const GeometryStamp& stamp) {
  const size_t pixels = size_t(side) * size_t(side);
  for (size_t i = 0; i < pixels; ++i) canvasRgba[4 * i + 3] = 255;
  if (result.refused) return;
  checkWindow(result, side, stamp);
  for (int j = 0; j < stamp.window_h; ++j) {
    uint8_t* row = canvasRgba + (size_t(stamp.window_y0 + j) * size_t(side) + size_t(stamp.window_x0)) * 4;
    const uint8_t* bytes = result.pixels.data() + size_t(j) * size_t(stamp.window_w) * 3;
    for (int x = 0; x < stamp.window_w; ++x)
      for (int c = 0; c < 3; ++c) row[4 * x + c] = toByte(withByte(float(row[4 * x + c]) / 255.f, bytes[3 * x + c]));
  }
}

bool StreamBorrow::hostSplit(std::vector<uint8_t>&) const { return false; }

}  // namespace le::tessera
