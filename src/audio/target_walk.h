// Which row of the target keypoint table a frame of an audio engine uses: a walk over the table
// from a start row, one row per frame, forwards or backwards, wrapping around (loop) or reversing
// at the ends (ping-pong).
#pragma once

#include <cstdint>

namespace le::audio {

class TargetWalk {
 public:
  // Row of frame t in a table of nt rows: g = direction * t + start; 0 when nt <= 1; with loop,
  // g mod nt; in ping-pong, m = g mod 2(nt - 1), read back down past the last row.
  int row(int64_t t, int nt) const;

  // Starts a new walk. A negative start continues the current walk: the new start is the row of
  // frame `pulled` of the old walk (0 when nt < 2). A negative direction walks backwards, any
  // other forwards; loop 0 is ping-pong. Returns the direction used (+1 or -1).
  int restart(int start, int direction, int loop, int64_t pulled, int nt);

  int start() const { return start_; }
  int direction() const { return direction_; }
  bool loops() const { return loop_; }

  // Replaces the start row only (an engine that clamps the start into its table).
  void setStart(int start) { start_ = start; }

 private:
  int start_ = 0;
  int direction_ = 1;
  bool loop_ = true;
};

}  // namespace le::audio
