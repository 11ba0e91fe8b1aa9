#include "audio/eager_controller.h"

#include <algorithm>

namespace le::audio {

namespace {
// A step is worth repeating once as many frames of audio arrived as it takes to run.
constexpr double kFrameMs = 40.0;
constexpr int kMaxAdaptiveThreshold = 8;
}  // namespace

int EagerController::threshold(int64_t pulled) const {
  if (value_ > 0) return value_;
  if (pulled == 0) return 1;
  return std::clamp(int(emaMs_ / kFrameMs + 0.999), 1, kMaxAdaptiveThreshold);
}

bool EagerController::shouldStep(int64_t h, int64_t pulled) const {
  if (!on()) return false;
  if (fresh_) return true;
  if (covered_ >= h) return false;
  if (value_ > 0 && pulled == 0) return true;
  return h - covered_ >= threshold(pulled);
}

void EagerController::stepDone(int64_t b, double ms) {
  covered_ = b;
  fresh_ = false;
  horizon_ = std::max(horizon_, b - 1);
  emaMs_ = measured_ ? 0.7 * emaMs_ + 0.3 * ms : ms;
  measured_ = true;
}

int64_t EagerController::available(int64_t timelineLength, int64_t pulled) const {
  return std::max<int64_t>(0, std::min(horizon_, timelineLength - 1) - pulled);
}

void EagerController::clear() {
  covered_ = 0;
  fresh_ = false;
  horizon_ = 0;
}

}  // namespace le::audio
