#include "audio/fca.h"

#include <stdexcept>
#include <vector>

#include "audio/fca_features.h"
#include "audio/ort_tensors.h"
#include "audio/w2v_legacy.h"
#include "audio/w2v_options.h"

namespace le::fca {

namespace {

constexpr int64_t kKeypointFloats = 63;
constexpr int64_t kHiddenFloats = 384;

}  // namespace

Animator::Animator(const std::string& encoderPath, const std::string& animatorPath, int threads)
    : options_(w2v::encoderSessionOptions(threads, "fca")) {
  encoder_ = w2v::openEncoderSession(env_, encoderPath, options_);
  animator_ = Ort::Session(env_, animatorPath.c_str(), options_);
}

int64_t Animator::framesOf(int64_t count) {
  return count <= 0 ? 0 : (count + w2v::kFrameSamples - 1) / w2v::kFrameSamples;
}

void Animator::features(const float* samples, int64_t count, int64_t frames, float* out) {
  w2v::FeatureStore store;
  w2v::fillLongWindows(store, encoder_, samples, count, frames, frames, true);
  for (int64_t k = 0; k < frames; ++k) averageLayers(store.frame(k), out + size_t(k) * kFeatureChannels);
}

void Animator::step(const float* cond, float* prev, float* h) {
  const char* inputNames[] = {"cond", "prev", "h"};
  Ort::Value inputs[] = {audio::wrapFloats(cond, {1, kCondFloats}), audio::wrapFloats(prev, {1, kKeypointFloats}),
                         audio::wrapFloats(h, {1, 1, kHiddenFloats})};
  const char* outputNames[] = {"m", "hn"};
  std::vector<Ort::Value> outputs = animator_.Run(Ort::RunOptions{nullptr}, inputNames, inputs, 3, outputNames, 2);
  audio::takeFloats(outputs[0], size_t(kKeypointFloats), prev, "the animator", "m");
  audio::takeFloats(outputs[1], size_t(kHiddenFloats), h, "the animator", "hn");
}

int64_t Animator::deltas(const float* samples, int64_t count, float* out) {
  const int64_t frames = framesOf(count);
  if (frames == 0) return 0;
  std::vector<float> feature(size_t(frames) * kFeatureChannels), centred(feature.size());
  features(samples, count, frames, feature.data());
  centreVoiced(feature.data(), frames, centred.data());
  std::vector<float> cond(kCondFloats), prev(kKeypointFloats, 0.f), h(kHiddenFloats, 0.f);
  for (int64_t k = 0; k < frames; ++k) {
    windowRows(centred.data(), frames, k, cond.data());
    step(cond.data(), prev.data(), h.data());
    std::copy(prev.begin(), prev.end(), out + size_t(k) * kKeypointFloats);
  }
  return frames;
}

}  // namespace le::fca
