#include "host_loop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <thread>

#include "common/audio_pusher.h"

namespace le_speak {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kFramePeriod = std::chrono::milliseconds(40);
// How long after the end of the audio the pipeline may take to deliver any speech at all.
constexpr double kNoSpeechSeconds = 30.0;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

class PullLoop {
 public:
  PullLoop(le_utt* utt, const std::vector<int16_t>& audio, size_t frameBytes, const HostOptions& options,
           const FrameSink& sink)
      : utt_(utt), options_(options), sink_(sink), pusher_(utt, audio), frame_(frameBytes) {}

  HostReport run();

 private:
  // One turn of the clock: pulls at most one frame; false when the ring was empty.
  bool pullOne();
  void afterFrame(const le_utt_frame_info& info);
  void failOnFatalRender();
  void startPushing();
  bool finished() const { return tailLeft_ == 0; }

  le_utt* utt_;
  const HostOptions& options_;
  const FrameSink& sink_;
  le::tool::AudioPusher pusher_;
  std::vector<uint8_t> frame_;
  HostReport report_;
  int64_t pulled_ = 0;
  int64_t frame0At_ = -1;  // pulled frame count at speech frame 0
  bool spoke_ = false, interruptPending_ = false, ended_ = false;
  int tailLeft_ = -1;  // idle frames still to pull once idle resumed after speech; -1: not yet
  Clock::time_point endedAt_{};  // when the pusher was seen done (ended_)
};

bool PullLoop::pullOne() {
  le_utt_frame_info info{};
  if (le_utt_pull_frame(utt_, frame_.data(), frame_.size(), &info) != 1) return false;
  sink_(PulledFrame{frame_.data(), info, interruptPending_});
  interruptPending_ = false;
  ++pulled_;
  if (info.kind >= 0 && info.kind <= 2) ++report_.framesByKind[info.kind];
  afterFrame(info);
  return true;
}

// Bookkeeping after a frame: speech frame 0, the interrupt, and the idle tail.
void PullLoop::afterFrame(const le_utt_frame_info& info) {
  if (info.kind == 1 && info.frameNo == 0) frame0At_ = pulled_ - 1;
  if (info.kind != 0) spoke_ = true;
  if (spoke_ && info.kind == 0 && tailLeft_ < 0) tailLeft_ = options_.tailFrames;
  if (tailLeft_ > 0 && info.kind == 0) --tailLeft_;
  const int64_t interruptAfter = std::max<int64_t>(1, std::llround(options_.interruptAt * 25.0));
  if (options_.interruptAt >= 0 && !report_.interrupted && frame0At_ >= 0 && pulled_ - frame0At_ >= interruptAfter) {
    le_utt_interrupt(utt_);
    report_.interrupted = interruptPending_ = true;
  }
}

void PullLoop::failOnFatalRender() {
  char text[512];
  if (le_utt_render_status(utt_, text, sizeof text, nullptr) == -1)
    throw std::runtime_error(std::string("le-speak: rendering failed: ") + text);
  if (!spoke_ && ended_ && secondsSince(endedAt_) > kNoSpeechSeconds)
    throw std::runtime_error("le-speak: the pipeline delivered no speech frame " +
                             std::to_string(int(kNoSpeechSeconds)) + " s after the end of the audio");
}

// With --fast the lead-in ends where the push lands: frames are pulled as fast as they come, and a
// pusher thread slow to start (a busy machine) would otherwise stretch the lead-in.
void PullLoop::startPushing() {
  pusher_.start(options_.fast);
  while (options_.fast && !pusher_.pushing()) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

HostReport PullLoop::run() {
  const auto begin = Clock::now();
  for (int64_t tick = 0; !finished(); ++tick) {
    if (!pusher_.started() && pulled_ >= options_.leadInFrames) startPushing();
    if (!options_.fast) std::this_thread::sleep_until(begin + tick * kFramePeriod);
    const bool got = pullOne();
    if (!got && !options_.fast) {
      ++report_.latePulls;
      if (!spoke_) ++report_.latePullsBeforeSpeech;
    }
    if (!got && options_.fast) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!ended_ && pusher_.done()) {
      endedAt_ = Clock::now();
      ended_ = true;
    }
    failOnFatalRender();
  }
  report_.wallSeconds = secondsSince(begin);
  le_utt_get_stats(utt_, &report_.stats);
  char text[512];
  le_utt_render_status(utt_, text, sizeof text, &report_.renderFailures);
  report_.renderStatus = text;
  return report_;
}

}  // namespace

HostReport runHost(le_utt* utt, const std::vector<int16_t>& audio, size_t frameBytes, const HostOptions& options,
                   const FrameSink& sink) {
  PullLoop loop(utt, audio, frameBytes, options, sink);
  return loop.run();
}

}  // namespace le_speak
