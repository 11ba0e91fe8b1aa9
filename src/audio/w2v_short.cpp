// Feature frames from the short-window trunk and head.
#include "audio/w2v_short.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "audio/w2v_normalise.h"
#include "audio/w2v_run.h"

namespace le::w2v {
namespace {

void fillWindow(const float* audio, int64_t n, int64_t start, std::vector<float>& window) {
  window.assign(size_t(kTrunkSamples), 0.0f);
  const int64_t from = std::max<int64_t>(start, 0);
  const int64_t to = std::min(start + kTrunkSamples, n);
  if (to > from) std::copy(audio + from, audio + to, window.begin() + (from - start));
  normaliseWindow(window.data(), window.size());
}

// Head input row of one frame: the trunk output interpolated at the frame's position.
void headRow(const std::vector<float>& x, int64_t lt, double p, float* row) {
  const double base = std::floor(p);
  if (base < 0 || base >= double(lt)) throw std::runtime_error("w2v_win: trunk pos out of range");
  const int64_t i0 = int64_t(base);
  const int64_t i1 = std::min(i0 + 1, lt - 1);
  const double t = p - base;
  for (int64_t c = 0; c < kTrunkChannels; ++c) {
    const double v = double(x[size_t(c * lt + i0)]) * (1.0 - t) + double(x[size_t(c * lt + i1)]) * t;
    row[c] = float(v);
  }
  roundToHalf(row, size_t(kTrunkChannels));
}

}  // namespace

int64_t longWindowOf(int64_t k) { return k < kLongFrames ? 0 : kLongHop * (k / kLongHop - 1); }

double trunkPosition(int64_t k, int64_t windowStart) {
  const int64_t b = longWindowOf(k);
  const double offset = double((b * kFrameSamples - windowStart) / kTrunkStepSamples);
  // An 8 s window has 1600 trunk steps and 200 frames; its frames 0 and 199 sit on steps 0 and 1598.
  return offset + double(k - b) * 1598.0 / 199.0;
}

void fillShortWindows(FeatureStore& store, const ShortWindowPair& pair, const float* audio, int64_t n,
                      int64_t wanted, int64_t usable, bool finished, int64_t right) {
  std::vector<float> window, x, rows(size_t(kBlockFrames * kTrunkChannels)), emb;
  while (store.done < wanted) {
    const int64_t s = store.cursor;
    const int64_t end = (s + kBlockFrames + right) * kFrameSamples;
    if (!finished && end > usable) return;
    fillWindow(audio, n, end - kTrunkSamples, window);
    const int64_t lt = runTrunk(pair, window.data(), x);
    for (int64_t k = 0; k < kBlockFrames; ++k)
      headRow(x, lt, trunkPosition(s + k, end - kTrunkSamples), rows.data() + k * kTrunkChannels);
    runHead(pair, rows.data(), emb);
    store.ensure(s + kBlockFrames);
    std::copy(emb.begin(), emb.end(), store.frame(s));
    roundToHalf(store.frame(s), emb.size());
    store.cursor = store.done = s + kBlockFrames;
  }
}

}  // namespace le::w2v
