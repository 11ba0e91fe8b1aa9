// Feature frames from the short-window trunk and head, one block of 8 frames per trunk run.
#pragma once

#include <cstdint>

#include "audio/w2v_features.h"
#include "audio/w2v_sessions.h"

namespace le::w2v {

// Where frame k of an utterance lies in the output of a trunk window that starts at sample
// windowStart, in trunk steps: the frame is mapped to the 8 s window it would have come from
// (b = 0 below frame 200, else 100 * (k / 100 - 1)), and position k - b of that window to
// (k - b) * 1598 / 199 steps from the 8 s window's start.
double trunkPosition(int64_t k, int64_t windowStart);

// The 8 s window start frame b that frame k comes from.
int64_t longWindowOf(int64_t k);

// Extends the store by whole blocks while fewer than `wanted` frames are done. Block s runs the
// trunk over samples [E - 32000, E), E = (s + 8 + right) * 640, zeros outside [0, n); before
// finish a block whose E exceeds `usable` samples waits. Throws "w2v_win: trunk pos out of range"
// when a frame maps outside the trunk's output.
void fillShortWindows(FeatureStore& store, const ShortWindowPair& pair, const float* audio, int64_t n,
                      int64_t wanted, int64_t usable, bool finished, int64_t right);

}  // namespace le::w2v
