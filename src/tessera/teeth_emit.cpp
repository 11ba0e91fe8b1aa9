// Emitting a held frame: the donor set steered by the next frame and the sticky set, the donors
// placed at the frame's shift, the blend head over them, and the blend laid into the live window
// through the pi mask.
#include <algorithm>
#include <cmath>

#include "pool/pool.h"
#include "tessera/teeth_pass_impl.h"
#include "tessera/teeth_selection.h"

namespace le::tessera {

namespace {

constexpr size_t kLiveRowGrain = 8;
constexpr size_t kOutputRowGrain = 4;

void resetResult(FrameResult& result) {
  result.pixels.clear();
  result.refused = false;
  result.reason.clear();
  result.donors = 0;
  result.synthMean = 0.f;
  result.synthMax = 0.f;
}

}  // namespace

void TeethPass::Impl::emit(const Pending& frame, const std::vector<int32_t>* lookahead, FrameResult& result) {
  resetResult(result);
  if (!frame.ok) {
    result.refused = true;
    result.reason = frame.reason;
    return;
  }
  const std::vector<int32_t> set = chooseSet(frame, lookahead);
  gatherCandidates(frame, set);
  buildBlendMask(frame, set);
  liveWindow(frame);
  headForward(head, {candidates.data(), int(set.size()), windowLive.data(), windowH, windowW, blendMask.data()},
              headOut);
  recordSynthesis(result);
  sticky = stickyByWeight(set, headOut.totals, config.hysteresis);
  lastEmitted = frame.frameIndex;
  writePixels(frame, result);
  result.donors = int32_t(set.size());
}

std::vector<int32_t> TeethPass::Impl::chooseSet(const Pending& frame, const std::vector<int32_t>* lookahead) const {
  const auto firstOf = [](const std::vector<int32_t>& list, int32_t n) {
    return std::vector<int32_t>(list.begin(), list.begin() + std::min(list.size(), size_t(std::max(n, 0))));
  };
  const std::vector<int32_t> current = firstOf(frame.selection, config.K);
  std::vector<int32_t> ahead;
  if (lookahead && config.lookahead_enabled) ahead = firstOf(*lookahead, config.lookahead);
  const bool consecutive = int64_t(frame.frameIndex) == int64_t(lastEmitted) + 1;
  return donorSet(current, ahead, consecutive ? &sticky : nullptr, config.K);
}

void TeethPass::Impl::gatherCandidates(const Pending& frame, const std::vector<int32_t>& set) {
  const size_t pixels = windowPixels(), w = size_t(windowW);
  candidates.resize(set.size() * 3 * pixels);
  pool::parallelRange(set.size(), 1, [&](size_t begin, size_t end) {
    std::vector<uint8_t> row(3 * w);
    for (size_t k = begin; k < end; ++k) {
      const Placement at = placement(set[k], frame.rowShift, frame.colShift);
      float* planes = candidates.data() + k * 3 * pixels;
      for (int32_t i = 0; i < windowH; ++i) {
        placedRowRgb8(set[k], at, i, row.data());
        for (size_t x = 0; x < w; ++x)
          for (size_t c = 0; c < 3; ++c) planes[c * pixels + size_t(i) * w + x] = float(row[3 * x + c]) / 255.f;
      }
    }
  });
}

// The band, and above it the band columns where the canvas shows mouth interior and every donor
// of the set has stored pixels at the frame's shift.
void TeethPass::Impl::buildBlendMask(const Pending& frame, const std::vector<int32_t>& set) {
  blendMask = bandMask;
  std::vector<Placement> at;
  for (int32_t donor : set) at.push_back(placement(donor, frame.rowShift, frame.colShift));
  for (int32_t i = 0; i < stamp.band_r0; ++i)
    for (int32_t x = stamp.band_c0; x < stamp.band_c1; ++x) {
      const size_t canvasAt = size_t(stamp.window_y0 + i) * stamp.canvas_w + size_t(stamp.window_x0 + x);
      if (frame.canvasPi[canvasAt] == 0) continue;
      const bool covered = std::all_of(at.begin(), at.end(), [&](const Placement& p) { return stored(p, i, x); });
      if (covered) blendMask[size_t(i) * windowW + x] = 1;
    }
}

void TeethPass::Impl::liveWindow(const Pending& frame) {
  const size_t pixels = windowPixels(), w = size_t(windowW);
  windowLive.resize(3 * pixels);
  pool::parallelRange(size_t(windowH), kLiveRowGrain, [&](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
      const uint8_t* row = frame.canvasRgb.data() +
                           (size_t(stamp.window_y0) + i) * stamp.canvas_w * 3 + size_t(stamp.window_x0) * 3;
      for (size_t x = 0; x < w; ++x)
        for (size_t c = 0; c < 3; ++c) windowLive[c * pixels + i * w + x] = float(row[3 * x + c]) / 255.f;
    }
  });
}

void TeethPass::Impl::recordSynthesis(FrameResult& result) {
  double sum = 0.0;
  float largest = 0.f;
  int64_t count = 0;
  for (size_t p = 0; p < blendMask.size(); ++p)
    if (blendMask[p]) {
      sum += headOut.synth[p];
      largest = count ? std::max(largest, headOut.synth[p]) : headOut.synth[p];
      ++count;
    }
  result.synthMean = count ? float(sum / double(count)) : 0.f;
  result.synthMax = largest;
  stats.largest = stats.frames ? std::max(stats.largest, largest) : largest;
  stats.frames += 1;
  stats.pixels += count;
  stats.sumOfMeans += result.synthMean;
}

void TeethPass::Impl::writePixels(const Pending& frame, FrameResult& result) const {
  const size_t pixels = windowPixels(), w = size_t(windowW);
  result.pixels.resize(3 * pixels);
  pool::parallelRange(size_t(windowH), kOutputRowGrain, [&](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
      const uint8_t* pi = frame.canvasPi.data() + (size_t(stamp.window_y0) + i) * stamp.canvas_w + stamp.window_x0;
      for (size_t x = 0; x < w; ++x) {
        const float alpha = float(pi[x]) / 255.f;
        for (size_t c = 0; c < 3; ++c) {
          const size_t p = c * pixels + i * w + x;
          const float v = std::clamp((1.f - alpha) * windowLive[p] + alpha * headOut.blended[p], 0.f, 1.f);
          result.pixels[(i * w + x) * 3 + c] = uint8_t(std::nearbyint(v * 255.f));
        }
      }
    }
  });
}

}  // namespace le::tessera
