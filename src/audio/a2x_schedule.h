// The arithmetic of the live a2x path: when frames become ready, which target row a frame takes,
// which positional row a frame reads and which keys a query may attend to.
#pragma once

#include <cstdint>

namespace le::a2x {

// Audio counts before finish in whole blocks of 8 frames (5120 samples); a block counts once at
// least 4481 of its samples are in, so that its last frame has begun.
constexpr int64_t kBlockSamples = 5120;

// Frames the received audio accounts for before finish: 8 * floor((n + 639) / 5120).
int64_t countedFrames(int64_t n);

// The samples of the counted frames that every way of pushing n samples has delivered by the time
// they count: all of them but the last frame's final 639 (0 when no frame counts). Windows that
// see no further than this give the same features whatever the push sizes.
int64_t settledSamples(int64_t n);
// The same for a given count of counted frames (a multiple of 8).
int64_t settledSamplesOf(int64_t counted);

// ceil(n / 640).
int64_t totalFrames(int64_t n);

// Frames that may be computed and handed out. After finish: totalFrames(n). Before: the counted
// frames minus the encoder's look-ahead and the frontend's lag, so that every feature frame the
// encoder's look-ahead reads already exists and nothing computed depends on when audio arrived.
int64_t readyFrames(int64_t n, bool finished, int64_t lookahead, int64_t lag);

// Before finish, readyFrames only takes the values 8k - (lookahead + lag): the readiness grid.
// The smallest grid point above c, and the smallest at or above c.
int64_t gridAbove(int64_t c, int64_t lookahead, int64_t lag);
int64_t gridAtOrAbove(int64_t c, int64_t lookahead, int64_t lag);

// The positional-table row of frame f in a table of p rows: f itself inside the table, beyond it
// the second half repeating.
int64_t positionalRow(int64_t f, int64_t p);

// The l x l additive attention mask: 0 where key j lies in [i - left, i + window] of query i,
// -infinity elsewhere.
void bandMask(int64_t l, int64_t left, int64_t window, float* mask);

}  // namespace le::a2x
