// The motion generator: our log-mel frontend (radix-2 FFT) against a direct-DFT log-mel on the same
// windows, the live engine's real-time factor on the demo motion directory with 2 threads, and how
// soon the first frame is ready with eager mode off, fixed at 3 frames, and adaptive.
#include <chrono>
#include <cmath>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "audio/log_mel.h"
#include "audio/motion_dir.h"
#include "audio/motion_layout.h"
#include "audio/speech_frontend.h"
#include "le/le_motion.h"
#include "ratio.h"

namespace {

using namespace le::audio::motion;

const std::string kFixtures = LE_BENCH_FIXTURES;

std::vector<float> sentence(const char* name) {
  std::ifstream in(kFixtures + "/sentences/" + name + ".f32", std::ios::binary | std::ios::ate);
  std::vector<float> v(in ? size_t(in.tellg()) / 4 : 0);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(v.data()), std::streamsize(v.size() * 4));
  return v;
}

// The log-mel block written out directly: every bin of every frame as a sum over 512 samples.
class DirectLogMel {
 public:
  DirectLogMel(const std::vector<float>& window, const std::vector<float>& binmat)
      : window_(window), binmat_(binmat), cos_(kFftBins * kFftSize), sin_(kFftBins * kFftSize) {
    for (size_t k = 0; k < kFftBins; ++k)
      for (size_t j = 0; j < kFftSize; ++j) {
        const double a = 2.0 * std::numbers::pi * double(j * k % kFftSize) / double(kFftSize);
        cos_[k * kFftSize + j] = float(std::cos(a));
        sin_[k * kFftSize + j] = float(-std::sin(a));
      }
  }

  void compute(const float* span, float* mel) const {
    std::vector<float> padded(kPaddedSamples), frame(kFftSize), magnitude(kFftBins);
    le::audio::reflectPad(span, padded.data());
    for (size_t f = 0; f < kMelFrames; ++f) {
      for (size_t i = 0; i < kFftSize; ++i) frame[i] = padded[f * kHop + i] * window_[i];
      for (size_t k = 0; k < kFftBins; ++k) {
        float re = 0, im = 0;
        for (size_t j = 0; j < kFftSize; ++j) {
          re += frame[j] * cos_[k * kFftSize + j];
          im += frame[j] * sin_[k * kFftSize + j];
        }
        magnitude[k] = std::sqrt(re * re + im * im);
      }
      for (size_t b = 0; b < kMelBands; ++b) {
        float sum = 0;
        for (size_t k = 0; k < kFftBins; ++k) sum += binmat_[k * kMelBands + b] * magnitude[k];
        mel[b * kMelFrames + f] = std::log(sum + kMelFloor);
      }
    }
  }

 private:
  std::vector<float> window_, binmat_, cos_, sin_;
};

// The spans of every window of the story sentence.
struct Windows {
  le::audio::MotionTables tables = le::audio::loadMotionTables(kFixtures + "/motion-demo");
  std::vector<std::vector<float>> spans;
  Windows() {
    const std::vector<float> audio = sentence("story");
    for (int64_t w = 0; w * kFrameSamples < int64_t(audio.size()); w += kWindowFrames) {
      spans.emplace_back(size_t(kSpanSamples));
      le::audio::windowSpan(audio.data(), audio.size(), w, spans.back().data());
    }
  }
};

const Windows& windows() {
  static const Windows w;
  return w;
}

template <class Frontend>
void runFrontend(benchmark::State& state, const Frontend& frontend) {
  std::vector<float> mel(kMelFloats);
  size_t i = 0;
  for (auto _ : state) {
    frontend.compute(windows().spans[i].data(), mel.data());
    benchmark::DoNotOptimize(mel.data());
    i = (i + 1) % windows().spans.size();
  }
  state.counters["windows/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void frontendOurs(benchmark::State& state) {
  runFrontend(state, le::audio::LogMel(windows().tables.stftWindow, windows().tables.melMatrix));
}

void frontendDirect(benchmark::State& state) {
  runFrontend(state, DirectLogMel(windows().tables.stftWindow, windows().tables.melMatrix));
}

double msSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The live engine on the demo motion directory: the story pushed 640 samples at a time, every
// ready frame pulled after each push, eager off.
void liveRealTime(benchmark::State& state) {
  const std::vector<float> audio = sentence("story");
  le_motion* m = le_motion_create((kFixtures + "/motion-demo").c_str(), int(state.range(0)), "");
  if (!m) return state.SkipWithError(le_motion_last_error());
  std::vector<int32_t> rows(64);
  std::vector<float> target(64 * 63), kp(64 * 63);
  for (auto _ : state) {
    for (size_t at = 0; at < audio.size(); at += 640) {
      le_motion_push(m, audio.data() + at, int(std::min<size_t>(640, audio.size() - at)));
      while (le_motion_pull(m, rows.data(), target.data(), kp.data(), 64) > 0) {}
    }
    le_motion_finish(m);
    while (le_motion_pull(m, rows.data(), target.data(), kp.data(), 64) > 0) {}
    le_motion_reset(m, 0, 1, 1);
  }
  const double audioSeconds = double(audio.size()) / 16000.0 * double(state.iterations());
  state.counters["x_realtime"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
  le_motion_destroy(m);
}

// How soon the first frame is ready on the demo directory: audio pushed 640 samples (40 ms) at a
// time, as a live source delivers it. Counters: the audio already received when the first frame
// becomes ready, the compute time of the call that made it ready, and their sum as the delay of a
// live source whose earlier calls kept pace with the audio.
void firstFrame(benchmark::State& state) {
  const std::vector<float> audio = sentence("story");
  le_motion* m = le_motion_create((kFixtures + "/motion-demo").c_str(), 2, "");
  if (!m) return state.SkipWithError(le_motion_last_error());
  le_motion_set_eager(m, int(state.range(0)));
  double audioMs = 0, callMs = 0;
  for (auto _ : state) {
    for (size_t at = 0; at < audio.size(); at += 640) {
      le_motion_push(m, audio.data() + at, int(std::min<size_t>(640, audio.size() - at)));
      const auto start = std::chrono::steady_clock::now();
      if (le_motion_avail(m) > 0) {
        callMs += msSince(start);
        audioMs += double(at + 640) / 16.0;
        break;
      }
    }
    le_motion_reset(m, 0, 1, 1);
  }
  const double n = double(state.iterations());
  state.counters["audio_ms"] = audioMs / n;
  state.counters["call_ms"] = callMs / n;
  state.counters["delay_ms"] = (audioMs + callMs) / n;
  le_motion_destroy(m);
}

}  // namespace

// Repetitions of ours and the peer are interleaved (see main), so that load from other processes
// falls on both alike; the ratio compares their medians.
BENCHMARK(frontendOurs)->Name("motion/frontend/ours")->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5);
BENCHMARK(frontendDirect)->Name("motion/frontend/direct_dft")->Unit(benchmark::kMicrosecond)->UseRealTime()
    ->Repetitions(5);
BENCHMARK(liveRealTime)->Name("motion/live_story/ours")->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()
    ->Iterations(3);
BENCHMARK(firstFrame)->Name("motion/first_frame_eager_off/ours")->Arg(0)->Unit(benchmark::kMillisecond)
    ->UseRealTime()->Iterations(3);
BENCHMARK(firstFrame)->Name("motion/first_frame_eager3/ours")->Arg(3)->Unit(benchmark::kMillisecond)
    ->UseRealTime()->Iterations(3);
BENCHMARK(firstFrame)->Name("motion/first_frame_adaptive/ours")->Arg(-1)->Unit(benchmark::kMillisecond)
    ->UseRealTime()->Iterations(3);

int main(int argc, char** argv) {
  return le::bench::runWithMedianRatios(
      argc, argv, {{"motion/frontend", "motion/frontend/direct_dft", "motion/frontend/ours"}});
}
