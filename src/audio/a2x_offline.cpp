// The encoder and decoder runs shared by the live and offline paths, the offline motion of a whole
// utterance, and silence priming of the decoder state.
#include <algorithm>

#include "audio/a2x.h"
#include "audio/a2x_nets.h"
#include "audio/w2v_legacy.h"
#include "audio/w2v_sessions.h"
#include "core/log.h"

namespace le {
namespace {

constexpr int64_t kOfflineChunk = 24;

}  // namespace

void A2x::encodeChunk(const w2v::FeatureStore& features, int64_t c0, int64_t c1, int64_t s, int64_t e,
                      std::vector<float>& out, std::vector<float>& wn) {
  const int64_t l = e - s;
  std::vector<float> pos(size_t(l * h_)), mask(size_t(l * l)), rows, rowWn;
  for (int64_t k = 0; k < l; ++k) {
    const float* row = pos_.data() + size_t(a2x::positionalRow(s + k, posRows_) * h_);
    std::copy(row, row + h_, pos.begin() + k * h_);
  }
  a2x::bandMask(l, left_, window_, mask.data());
  nets_->encode(features.frame(s), pos.data(), mask.data(), l, h_, rows, rowWn);
  out.resize(std::max(out.size(), size_t(c1 * h_)));
  std::copy(rows.begin() + (c0 - s) * h_, rows.begin() + (c1 - s) * h_, out.begin() + c0 * h_);
  if (!hasWn_) return;
  wn.resize(std::max(wn.size(), size_t(c1)));
  std::copy(rowWn.begin() + (c0 - s), rowWn.begin() + (c1 - s), wn.begin() + c0);
}

void A2x::decodeFrame(const float* ctx, float* prev, float* hidden, float* delta) {
  nets_->decode(ctx, prev, hidden, h_);
  for (int64_t k = 0; k < kA2xKpFloats; ++k) delta[k] = prev[k] * std_[size_t(k)] + mean_[size_t(k)];
}

int64_t A2x::deltas(const float* samples, int64_t count, float* out, float* wn, int64_t maxWn) {
  const int64_t frames = a2x::totalFrames(count);
  w2v::FeatureStore features;
  w2v::fillLongWindows(features, longEncoder(), samples, count, frames, frames, true);
  features.ensure(frames);
  std::vector<float> encoded, encodedWn;
  for (int64_t c0 = 0; c0 < frames; c0 += kOfflineChunk) {
    const int64_t c1 = std::min(c0 + kOfflineChunk, frames);
    encodeChunk(features, c0, c1, std::max<int64_t>(0, c0 - history_), std::min(c1 + lookahead_, frames), encoded,
                encodedWn);
  }
  const bool primed = !primedPrev_.empty() && !primedHidden_.empty();
  std::vector<float> prev = primed ? primedPrev_ : std::vector<float>(size_t(kA2xKpFloats), 0.0f);
  std::vector<float> hidden = primed ? primedHidden_ : std::vector<float>(size_t(h_), 0.0f);
  for (int64_t t = 0; t < frames; ++t)
    decodeFrame(encoded.data() + size_t(t * h_), prev.data(), hidden.data(), out + size_t(t) * kA2xKpFloats);
  if (wn)
    for (int64_t t = 0; t < maxWn; ++t) wn[t] = size_t(t) < encodedWn.size() ? encodedWn[size_t(t)] : 0.0f;
  return frames;
}

void A2x::primeWithSilence(int frames) {
  const std::vector<float>& emb = w2v::silenceEmbedding(longEncoder());
  w2v::FeatureStore features;
  features.ensure(frames);
  for (int64_t f = 0; f < frames; ++f) {
    for (int l = 0; l < w2v::kLayers; ++l) {
      const float* row = emb.data() + (size_t(l) * w2v::kLongFrames + size_t(f)) * w2v::kChannels;
      std::copy(row, row + w2v::kChannels, features.frame(f) + size_t(l) * w2v::kChannels);
    }
  }
  w2v::roundToHalf(features.data.data(), features.data.size());
  features.done = frames;
  std::vector<float> encoded, encodedWn;
  std::vector<float> delta(static_cast<size_t>(kA2xKpFloats));
  encodeChunk(features, 0, frames, 0, frames, encoded, encodedWn);
  primedPrev_.assign(size_t(kA2xKpFloats), 0.0f);
  primedHidden_.assign(size_t(h_), 0.0f);
  for (int64_t t = 0; t < frames; ++t)
    decodeFrame(encoded.data() + size_t(t * h_), primedPrev_.data(), primedHidden_.data(), delta.data());
  le::logPrintf("[le_a2x] silence-primed AR state cached (%d frames)\n", frames);
}

}  // namespace le
