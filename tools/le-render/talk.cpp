#include "talk.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

#include "common/audio_file.h"
#include "common/mp4_writer.h"
#include "common/progress_bar.h"
#include "common/resampler.h"
#include "le/le_stream.h"

namespace le_render {

namespace {

constexpr int kFps = 25;
constexpr int kFrameSamples = le::tool::kPipelineRate / kFps;

std::string encoderPath(const TalkOptions& o) {
  if (!o.encoder.empty()) return o.encoder;
  const char* env = std::getenv("W2V_ONNX");
  return env && *env ? env : o.bundle + "/speech/w2v_8s.onnx";
}

// What the frame callback needs: the writer, the audio to mux beside each frame and the bar.
struct Delivery {
  le::tool::Mp4Writer* writer;
  const std::vector<int16_t>* audio;
  int skip;
  le::tool::ProgressBar* bar;
  std::string error;  // the first failure of the writer; later frames are dropped
};

// The audio that plays during output frame `index`: animation frame index + skip, padded with
// silence past the end of the utterance.
std::vector<int16_t> frameAudio(const std::vector<int16_t>& audio, int animationFrame) {
  std::vector<int16_t> chunk(kFrameSamples, 0);
  const size_t first = size_t(animationFrame) * kFrameSamples;
  for (size_t i = 0; i < chunk.size() && first + i < audio.size(); ++i) chunk[i] = audio[first + i];
  return chunk;
}

void deliver(void* user, int index, const uint8_t* rgb, int, int) {
  auto* d = static_cast<Delivery*>(user);
  if (!d->error.empty()) return;
  try {
    const std::vector<int16_t> chunk = frameAudio(*d->audio, index + d->skip);
    d->writer->write(rgb, chunk.data(), int(chunk.size()));
    d->bar->update(index + 1);
  } catch (const std::exception& e) {
    d->error = e.what();
  }
}

std::vector<float> toFloat(const std::vector<int16_t>& samples) {
  std::vector<float> out(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) out[i] = float(samples[i]) / 32768.f;
  return out;
}

int runStream(le_stream* stream, const std::vector<int16_t>& audio, Delivery& d) {
  const std::vector<float> samples = toFloat(audio);
  const int frames = le_stream_run(stream, samples.data(), int(samples.size()), deliver, &d);
  if (!d.error.empty()) throw std::runtime_error(d.error);
  if (frames < 0) throw std::runtime_error(std::string("le-render: ") + le_stream_last_error());
  return frames;
}

}  // namespace

void renderTalk(const TalkOptions& o) {
  const std::vector<int16_t> audio = le::tool::readAudioFile(o.wav, "le-render");
  std::unique_ptr<le_stream, void (*)(le_stream*)> stream(
      le_stream_create(o.bundle.c_str(), encoderPath(o).c_str(), o.threads, o.skip, o.gain), &le_stream_destroy);
  if (!stream) throw std::runtime_error(std::string("le-render: ") + le_stream_last_error());
  le::tool::Mp4Options mp4;
  mp4.tool = "le-render";
  mp4.width = le_stream_width(stream.get());
  mp4.height = le_stream_height(stream.get());
  mp4.fps = kFps;
  mp4.audioRate = le::tool::kPipelineRate;
  le::tool::Mp4Writer writer(o.out, mp4);
  const int expected = int((audio.size() + kFrameSamples - 1) / kFrameSamples) - o.skip;
  le::tool::ProgressBar bar(expected);
  Delivery d{&writer, &audio, o.skip, &bar, {}};
  const auto start = std::chrono::steady_clock::now();
  try {
    const int frames = runStream(stream.get(), audio, d);
    if (frames == 0) throw std::runtime_error("le-render: the utterance is not longer than --skip frames");
    writer.finish();
    bar.finish();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("le-render: %d frames -> %s (%dx%d, %d fps, %s + aac, %.2f s of speech): %.2f ms/frame, %.2fx real time\n",
                frames, writer.path().c_str(), mp4.width, mp4.height, kFps, writer.videoEncoder(),
                double(audio.size()) / le::tool::kPipelineRate, ms / frames, frames * 40.0 / ms);
  } catch (const std::exception& e) {
    bar.finish();
    throw std::runtime_error(e.what() + writer.abandon());
  }
}

}  // namespace le_render
