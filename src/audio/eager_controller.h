// When the motion generator speculates ahead of its committed timeline, and how far the frames it
// hands out may then reach. Holds the eager value and the bookkeeping of speculative steps; the
// steps themselves run in the engine.
#pragma once

#include <cstdint>

namespace le::audio {

class EagerController {
 public:
  // 0 turns speculation off; a positive value is a fixed frame threshold, a negative value asks
  // for an adaptive one.
  void setValue(int eager) { value_ = eager; }
  int value() const { return value_; }
  bool on() const { return value_ != 0; }

  // A committed chunk ran during this call.
  void markFresh() { fresh_ = true; }

  // Frames of new audio that justify a step: the eager value when positive; when adaptive, 1
  // while nothing has been pulled, else the step duration in frames (EMA / 40 ms, rounded up)
  // clamped to 1 ... 8.
  int threshold(int64_t pulled) const;

  // Whether a speculative step runs now, with h frames of audio received and `pulled` frames
  // handed out.
  bool shouldStep(int64_t h, int64_t pulled) const;

  // Records a step that covered b frames and took `ms` milliseconds.
  void stepDone(int64_t b, double ms);

  // Frames ready to pull while speculating: up to the horizon and below the timeline's end.
  int64_t available(int64_t timelineLength, int64_t pulled) const;

  // Forgets the steps of an utterance; the eager value and the step duration stay.
  void clear();

  int64_t horizon() const { return horizon_; }
  double stepMs() const { return emaMs_; }

 private:
  int value_ = 0;
  int64_t covered_ = 0;  // g: frames covered by the last step
  bool fresh_ = false;
  int64_t horizon_ = 0;  // S: the largest b - 1 of any step
  double emaMs_ = 0.0;
  bool measured_ = false;
};

}  // namespace le::audio
