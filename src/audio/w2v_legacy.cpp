// Feature frames from 8 s encoder windows.
#include "audio/w2v_legacy.h"

#include <algorithm>
#include <vector>

#include "audio/w2v_normalise.h"
#include "audio/w2v_run.h"

namespace le::w2v {
namespace {

// The window of frames [start, start + 200): audio where the utterance has it, zeros elsewhere.
void fillWindow(const float* audio, int64_t seen, int64_t start, std::vector<float>& window) {
  window.assign(size_t(kLongSamples), 0.0f);
  const int64_t from = start * kFrameSamples;
  const int64_t count = std::clamp<int64_t>(seen - from, 0, kLongSamples);
  std::copy(audio + from, audio + from + count, window.begin());
  normaliseWindow(window.data(), window.size());
}

// Feature frame f (position j of the window) = h(emb[l][j][.]) for every layer l.
void storeFrame(FeatureStore& store, const std::vector<float>& emb, int64_t j, int64_t f) {
  float* out = store.frame(f);
  for (int l = 0; l < kLayers; ++l) {
    const float* row = emb.data() + (size_t(l) * kLongFrames + size_t(j)) * kChannels;
    std::copy(row, row + kChannels, out + size_t(l) * kChannels);
  }
  roundToHalf(out, kFrameFloats);
}

}  // namespace

void fillLongWindows(FeatureStore& store, Ort::Session& encoder, const float* audio, int64_t seen,
                     int64_t wanted, int64_t limit, bool finished) {
  std::vector<float> window, emb;
  while (store.done < wanted) {
    const int64_t s = store.cursor;
    const int64_t end = finished ? s + kLongFrames : std::min(s + kLongFrames, limit);
    if (end <= store.done) return;
    fillWindow(audio, seen, s, window);
    runLongEncoder(encoder, window.data(), emb);
    store.ensure(end);
    for (int64_t j = s == 0 ? 0 : kLongFirstUsed; j < kLongFrames && s + j < end; ++j)
      if (s + j >= store.done) storeFrame(store, emb, j, s + j);
    store.done = std::max(store.done, end);
    if (end < s + kLongFrames) return;
    store.cursor = s + kLongHop;
  }
}

}  // namespace le::w2v
