// The teeth pass: construction from the bank, and the frame flow that holds each frame until the
// next one arrives so that the next frame's donor choice can steer it.
#include "tessera/teeth_pass.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "tessera/teeth_pass_impl.h"

namespace le::tessera {

namespace {

void checkBank(const BankData& bank) {
  bank.stamp.validate();
  const int64_t required = int64_t(bank.n_donors) * bank.stamp.bandH() * bank.stamp.bandW() * 3;
  if (int64_t(bank.donors.size()) != required)
    throw std::runtime_error("teeth: reference track is " + std::to_string(bank.donors.size()) +
                             " bytes, the stamp requires " + std::to_string(required) +
                             " (n * stored_h * stored_w * 3) — a decoder that delivered a different pixel "
                             "format would land here");
  if (bank.aperture.size() != size_t(bank.n_donors) || bank.cent.size() != size_t(bank.n_donors))
    throw std::runtime_error("teeth: bank sidecar arrays disagree with n_donors");
  if (bank.n_donors < 1)
    throw std::runtime_error("teeth: a bank of " + std::to_string(bank.n_donors) + " donors has nothing to borrow");
}

void checkConfig(const ServeConfig& config) {
  if (config.K < 1 || config.kshort < 1)
    throw std::runtime_error("teeth: serving config K=" + std::to_string(config.K) + ", kshort=" +
                             std::to_string(config.kshort) + " — every frame needs at least one donor");
}

}  // namespace

TeethPass::Impl::Impl(const BankData& bank, const HeadWeights& headWeights, const ServeConfig& serving)
    : stamp(bank.stamp), config(serving), head(headWeights) {
  checkBank(bank);
  checkConfig(config);
  nDonors = bank.n_donors;
  donors = bank.donors;
  aperture = bank.aperture;
  cCanon = bank.c_canon;
  for (const auto& centre : bank.cent) {
    dy.push_back(int32_t(std::nearbyint(centre[1] - cCanon[1])));
    dx.push_back(int32_t(std::nearbyint(centre[0] - cCanon[0])));
  }
  windowW = stamp.window_w;
  windowH = stamp.window_h;
  pooledW = windowW / kIndexPooling;
  pooledH = windowH / kIndexPooling;
  bandW = int32_t(stamp.bandW());
  bandH = int32_t(stamp.bandH());
  bandMask.assign(windowPixels(), 0);
  for (int32_t i = stamp.band_r0; i < stamp.band_r1; ++i)
    for (int32_t x = stamp.band_c0; x < stamp.band_c1; ++x) bandMask[size_t(i) * windowW + x] = 1;
  buildIndex();
}

void TeethPass::Impl::deriveShift(Pending& frame, const std::optional<Shift>& shift) const {
  frame.ok = true;
  frame.reason.clear();
  if (shift) {
    frame.rowShift = shift->first;
    frame.colShift = shift->second;
  } else {
    double rows = 0.0, cols = 0.0;
    int64_t count = 0;
    for (int32_t y = 0; y < stamp.canvas_h; ++y)
      for (int32_t x = 0; x < stamp.canvas_w; ++x)
        if (frame.canvasPi[size_t(y) * stamp.canvas_w + x] >= 128) rows += y, cols += x, ++count;
    if (count == 0) {
      frame.ok = false;
      frame.reason = "empty-pi";
      return;
    }
    frame.rowShift = int32_t(std::nearbyint(rows / double(count) - cCanon[1]));
    frame.colShift = int32_t(std::nearbyint(cols / double(count) - cCanon[0]));
  }
  if (std::abs(frame.rowShift) > stamp.pad || std::abs(frame.colShift) > stamp.pad) {
    frame.ok = false;
    frame.reason = "shift-out-of-range";
  }
}

TeethPass::TeethPass(const BankData& bank, const HeadWeights& head, const ServeConfig& config)
    : impl_(std::make_unique<Impl>(bank, head, config)) {}

TeethPass::~TeethPass() = default;
TeethPass::TeethPass(TeethPass&&) noexcept = default;
TeethPass& TeethPass::operator=(TeethPass&&) noexcept = default;

bool TeethPass::push(int32_t frameIndex, const uint8_t* canvasRgb, const uint8_t* canvasPi, std::optional<Shift> shift,
                     FrameResult& result) {
  Impl& s = *impl_;
  Pending& frame = s.incoming;
  const size_t canvas = size_t(s.stamp.canvas_w) * s.stamp.canvas_h;
  frame.frameIndex = frameIndex;
  frame.canvasRgb.assign(canvasRgb, canvasRgb + canvas * 3);
  frame.canvasPi.assign(canvasPi, canvasPi + canvas);
  frame.selection.clear();
  s.deriveShift(frame, shift);
  if (frame.ok) frame.selection = s.retrieve(canvasRgb, canvasPi, frame.rowShift, frame.colShift);
  const bool emitted = s.holding;
  if (emitted) s.emit(s.held, frame.ok ? &frame.selection : nullptr, result);
  std::swap(s.held, s.incoming);
  s.holding = true;
  return emitted;
}

bool TeethPass::flush(FrameResult& result) {
  Impl& s = *impl_;
  if (!s.holding) return false;
  s.emit(s.held, nullptr, result);
  s.holding = false;
  return true;
}

void TeethPass::canonicalWindowF16(int32_t donor, uint16_t* out) const {
  impl_->canonicalRowsF16(donor, out, 0, impl_->windowH);
}

void TeethPass::canonicalWindowF16Rows(int32_t donor, uint16_t* out, int32_t row0, int32_t row1) const {
  impl_->canonicalRowsF16(donor, out, row0, row1);
}

std::vector<int32_t> TeethPass::retrieve(const uint8_t* canvasRgb, const uint8_t* canvasPi, int32_t rowShift,
                                         int32_t colShift) {
  return impl_->retrieve(canvasRgb, canvasPi, rowShift, colShift);
}

const GeometryStamp& TeethPass::stamp() const { return impl_->stamp; }
const ServeConfig& TeethPass::config() const { return impl_->config; }
TeethPass::SynthStats TeethPass::synthStats() const { return impl_->stats; }

}  // namespace le::tessera
