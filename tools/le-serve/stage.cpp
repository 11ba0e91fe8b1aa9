#include "stage.h"

namespace le_serve {

Stage::Stage(le_utt* utt, int width, int height, bool teeth)
    : utt_(utt), width_(width), height_(height), teeth_(teeth), frame_(size_t(width) * size_t(height) * 3) {}

bool Stage::busy() const {
  le_utt_stats stats{};
  le_utt_get_stats(utt_, &stats);
  return listening_ || (pusher_ && !pusher_->done()) || stats.state != 0;
}

// The pusher ends its utterance when stopped; the caller decides whether to interrupt it too.
void Stage::stopRecording() { pusher_.reset(); }

void Stage::say(std::vector<int16_t> audio) {
  const bool wasBusy = busy();
  stopRecording();
  listening_ = false;
  if (wasBusy) le_utt_interrupt(utt_);
  recording_ = std::move(audio);
  pusher_ = std::make_unique<le::tool::AudioPusher>(utt_, recording_);
  pusher_->start(false);
}

void Stage::listen(const int16_t* samples, int count) {
  if (!listening_) {
    const bool wasBusy = busy();
    stopRecording();
    if (wasBusy) le_utt_interrupt(utt_);
    listening_ = true;
  }
  le_utt_push_audio(utt_, samples, count);
}

void Stage::endListening() {
  if (!listening_) return;
  listening_ = false;
  le_utt_end_utterance(utt_);
}

void Stage::interrupt() {
  stopRecording();
  listening_ = false;
  le_utt_interrupt(utt_);
}

bool Stage::pull(le_utt_frame_info& info) {
  if (le_utt_pull_frame(utt_, frame_.data(), frame_.size(), &info) == 1) return true;
  ++latePulls_;
  return false;
}

StageFigures Stage::figures() const {
  StageFigures f;
  le_utt_get_stats(utt_, &f.stats);
  f.latePulls = latePulls_;
  char text[512] = "";
  le_utt_render_status(utt_, text, sizeof text, &f.renderFailures);
  f.renderStatus = text;
  f.teeth = teeth_;
  if (teeth_) {
    le_utt_tessera_stats(utt_, &f.teethBorrowed, &f.teethRefused, nullptr, 0);
    double last = 0;
    int64_t count = 0;
    le_utt_tessera_synth_w(utt_, &f.teethWeight, &last, &count);
  }
  return f;
}

}  // namespace le_serve
