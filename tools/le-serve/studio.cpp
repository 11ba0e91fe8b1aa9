#include "studio.h"

#include <time.h>

#include <cstdio>

#include "common/speech_synth.h"
#include "report.h"
#include "upload_decoder.h"

namespace le_serve {
namespace {

// Stats go to the page twice a second.
constexpr int64_t kStatsEveryTicks = kFps / 2;

double processCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) * 1e-6;
}

std::string megabytes(size_t bytes, const char* format) {
  char text[32];
  std::snprintf(text, sizeof text, format, double(bytes) / double(1 << 20));
  return text;
}

}  // namespace

Studio::Studio(Stage& stage, const Limits& limits, Runner offload, Runner home)
    : stage_(stage), limits_(limits), offload_(std::move(offload)), home_(std::move(home)),
      statsCpuMs_(processCpuMs()) {}

bool Studio::attach(Viewer* viewer) {
  if (viewer_) return false;
  viewer_ = viewer;
  Hello hello{stage_.width(), stage_.height(), stage_.figures().teeth, limits_};
  send(helloMessage(hello), false, false);
  report("le-serve: a viewer is driving");
  return true;
}

void Studio::detach(Viewer* viewer) {
  if (viewer != viewer_) return;
  viewer_ = nullptr;
  ++generation_;
  micOpen_ = false;
  stage_.interrupt();
  report("le-serve: the viewer left; ready for the next one");
}

void Studio::onText(Viewer* from, const std::string& message) {
  if (from != viewer_) return;
  try {
    command(parseCommand(message, limits_));
  } catch (const ProtocolError& e) {
    fail(e.what());
  }
}

void Studio::onBinary(Viewer* from, const std::string& message) {
  if (from != viewer_) return;
  try {
    if (!message.empty() && uint8_t(message[0]) == kUploadTag) upload(message);
    else if (!message.empty() && uint8_t(message[0]) == kMicTag) microphone(message);
    else fail("le-serve: a binary message is neither microphone audio nor a recording");
  } catch (const ProtocolError& e) {
    fail(e.what());
  }
}

void Studio::onOversized(Viewer* from, size_t bytes) {
  if (from != viewer_) return;
  fail("le-serve: a message of " + megabytes(bytes, "%.1f MB") + " is over the limit of " +
       megabytes(limits_.maxUploadBytes, "%.0f MB"));
}

void Studio::command(const Command& c) {
  switch (c.kind) {
    case Command::Kind::Speak:
      sayLater(Source::Text, [text = c.text] { return le::tool::synthesiseSpeech(text, "le-serve"); });
      break;
    case Command::Kind::Interrupt:
      ++generation_;
      micOpen_ = false;
      stage_.interrupt();
      break;
    case Command::Kind::MicEnd:
      micOpen_ = false;
      stage_.endListening();
      break;
  }
}

void Studio::upload(const std::string& message) {
  Upload u = parseUpload(message);
  sayLater(Source::File, [u = std::move(u)] { return decodeUpload(u); });
}

void Studio::microphone(const std::string& message) {
  const std::vector<int16_t> samples = micSamples(message);
  if (!micOpen_) {
    ++generation_;
    micOpen_ = true;
    send(utteranceMessage(++utterances_, Source::Mic, 0), false, false);
  }
  stage_.listen(samples.data(), int(samples.size()));
}

void Studio::sayLater(Source source, std::function<std::vector<int16_t>()> produce) {
  const uint64_t generation = ++generation_;
  micOpen_ = false;
  offload_([this, source, generation, produce = std::move(produce)] {
    std::vector<int16_t> audio;
    std::string error;
    try {
      audio = produce();
    } catch (const std::exception& e) {
      error = e.what();
    }
    home_([this, source, generation, audio = std::move(audio), error = std::move(error)]() mutable {
      if (generation != generation_) return;
      if (!error.empty()) return fail(error);
      say(source, std::move(audio));
    });
  });
}

void Studio::say(Source source, std::vector<int16_t> audio) {
  const double seconds = double(audio.size()) / 16000.0;
  if (seconds > limits_.maxRecordingSeconds)
    return fail("le-serve: the speech is " + std::to_string(int(seconds)) + " s long; the limit is " +
                std::to_string(int(limits_.maxRecordingSeconds)) + " s");
  const uint32_t id = ++utterances_;
  send(utteranceMessage(id, source, audio.size()), false, false);
  for (std::string& m : audioMessages(id, source, audio)) send(std::move(m), true, false);
  stage_.say(std::move(audio));
}

void Studio::fail(const std::string& line) {
  report(line);
  send(errorMessage(line), false, false);
}

void Studio::tick() {
  le_utt_frame_info info{};
  if (stage_.pull(info) && viewer_) sendFrame(info);
  if (++ticks_ % kStatsEveryTicks == 0) sendStats();
}

void Studio::sendFrame(const le_utt_frame_info& info) {
  const std::string jpeg = jpeg_.encode(stage_.frame().data(), stage_.width(), stage_.height());
  if (jpeg.empty()) return;
  if (viewer_->send({std::make_shared<const std::string>(frameMessage(info, jpeg)), true, true}))
    ++link_.framesSent;
  else
    ++link_.framesDropped;
}

void Studio::sendStats() {
  const StageFigures figures = stage_.figures();
  const double cpu = processCpuMs();
  const int64_t frames = figures.stats.framesPulled - statsFrames_;
  if (frames > 0) link_.cpuMsPerFrame = (cpu - statsCpuMs_) / double(frames);
  statsCpuMs_ = cpu;
  statsFrames_ = figures.stats.framesPulled;
  send(statsMessage(figures, link_), false, true);
}

void Studio::send(std::string bytes, bool binary, bool droppable) {
  if (viewer_) viewer_->send({std::make_shared<const std::string>(std::move(bytes)), binary, droppable});
}

}  // namespace le_serve
