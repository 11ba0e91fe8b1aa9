// Live audio-to-expression on the demo preset's a2x members, 2 runtime threads, over espeak-ng
// speech pushed in 20 ms pieces as a real-time host would, with the short-window frontend (ours)
// against the legacy 8 s windows (legacy). The frontend is chosen once per process, so every run
// happens in a child process of its own; its wall time becomes the iteration's time. Counters: audio
// seconds per wall second (the real-time factor), the delay from the push that completes a block
// to the pull that hands out its first frame, and (the 60 s run) the peak resident memory.
// Prints "RATIO a2x/short_vs_legacy <legacy time / short time>".
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "le/le_a2x.h"
#include "ratio.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRate = 16000;
constexpr int kPush = kRate / 50;  // 20 ms
constexpr int kBlockSamples = 5120;
constexpr int kBlockCounts = 4481;  // a block counts once this many of its samples are in
constexpr int kThreads = 2;

std::string fixture(const std::string& name) { return std::string(LE_BENCH_FIXTURES) + "/" + name; }

// espeak-ng sentences end to end, repeated to `seconds` of audio.
std::vector<float> speech(double seconds) {
  std::vector<float> one;
  for (const char* name : {"long", "fox", "hello"}) {
    std::ifstream in(fixture(std::string("utterances/") + name + ".f32"), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const float* f = reinterpret_cast<const float*>(bytes.data());
    one.insert(one.end(), f, f + bytes.size() / sizeof(float));
  }
  std::vector<float> out;
  const size_t want = size_t(seconds * kRate);
  while (!one.empty() && out.size() < want)
    out.insert(out.end(), one.begin(), one.begin() + std::min(one.size(), want - out.size()));
  return out;
}

long residentKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::strtol(line.c_str() + std::string(field).size(), nullptr, 10);
  return 0;
}

struct LiveResult {
  double seconds = 0;       // wall time of the live loop
  double delayMeanMs = 0;   // push completing a block -> its first frame pulled
  double delayMaxMs = 0;
  double rssBeforeMiB = 0;  // after creation, before audio
  double rssPeakMiB = 0;
  int frames = 0;
  int ok = 0;
};

// The live loop in this process: 20 ms pushes, each followed by pulling what is ready.
LiveResult liveLoop(const char* speechFolder, double seconds) {
  LiveResult r;
  setenv("W2V_ONNX", (fixture(speechFolder) + "/w2v_8s.onnx").c_str(), 1);
  const std::vector<float> audio = speech(seconds);
  le_a2x* a = le_a2x_create(fixture("a2x-demo").c_str(), kThreads);
  if (!a) {
    std::fprintf(stderr, "a2x bench: %s\n", le_a2x_last_error());
    return r;
  }
  r.rssBeforeMiB = residentKiB("VmRSS:") / 1024.0;
  std::vector<int32_t> rows(64);
  std::vector<float> target(64 * 63), kp(64 * 63);
  double delaySum = 0;
  int delays = 0;
  const Clock::time_point start = Clock::now();
  for (size_t at = 0; at < audio.size(); at += kPush) {
    const int n = int(std::min<size_t>(kPush, audio.size() - at));
    const bool completesBlock = (at + kBlockSamples - kBlockCounts) / kBlockSamples !=
                                (at + n + kBlockSamples - kBlockCounts) / kBlockSamples;
    const Clock::time_point pushed = Clock::now();
    le_a2x_push(a, audio.data() + at, n);
    bool first = true;
    while (le_a2x_avail(a) > 0) {
      const int got = le_a2x_pull(a, rows.data(), target.data(), kp.data(), 64);
      if (got <= 0) break;
      r.frames += got;
      if (completesBlock && first) {
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - pushed).count();
        delaySum += ms;
        r.delayMaxMs = std::max(r.delayMaxMs, ms);
        ++delays;
      }
      first = false;
    }
  }
  le_a2x_finish(a);
  while (le_a2x_avail(a) > 0) r.frames += std::max(0, le_a2x_pull(a, rows.data(), target.data(), kp.data(), 64));
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.delayMeanMs = delays ? delaySum / delays : 0;
  r.rssPeakMiB = residentKiB("VmHWM:") / 1024.0;
  r.ok = r.frames == int((audio.size() + 639) / 640) && *le_a2x_last_error() == 0;
  le_a2x_destroy(a);
  return r;
}

// liveLoop in a child process, so that each run chooses its frontend afresh.
LiveResult liveInChild(const char* speechFolder, double seconds) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const LiveResult r = liveLoop(speechFolder, seconds);
    const ssize_t written = write(fds[1], &r, sizeof r);
    _exit(written == ssize_t(sizeof r) ? 0 : 1);
  }
  close(fds[1]);
  LiveResult r;
  const ssize_t got = read(fds[0], &r, sizeof r);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (got != ssize_t(sizeof r) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) r.ok = 0;
  return r;
}

void runArm(benchmark::State& state, const char* speechFolder, double seconds) {
  LiveResult last;
  double wall = 0, audioSeconds = 0;
  for (auto _ : state) {
    last = liveInChild(speechFolder, seconds);
    if (!last.ok) {
      state.SkipWithError("live a2x run failed (see standard error)");
      return;
    }
    state.SetIterationTime(last.seconds);
    wall += last.seconds;
    audioSeconds += seconds;
  }
  state.counters["audio_s_per_wall_s"] = audioSeconds / wall;
  state.counters["block_delay_mean_ms"] = last.delayMeanMs;
  state.counters["block_delay_max_ms"] = last.delayMaxMs;
  state.counters["rss_before_MiB"] = last.rssBeforeMiB;
  state.counters["rss_peak_MiB"] = last.rssPeakMiB;
}

void BM_LiveShort(benchmark::State& state) { runArm(state, "speech", 30); }
void BM_LiveLegacy(benchmark::State& state) { runArm(state, "speech-legacy", 30); }
// Features are kept for the whole utterance: what 60 s cost in memory.
void BM_LiveShort60(benchmark::State& state) { runArm(state, "speech", 60); }

BENCHMARK(BM_LiveShort)->Name("a2x/live30s_2threads/ours")->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiveLegacy)->Name("a2x/live30s_2threads/legacy")->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiveShort60)->Name("a2x/live60s_2threads_memory/ours")->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return le::bench::runWithRatios(argc, argv,
                                  {{"a2x/short_vs_legacy", "a2x/live30s_2threads/legacy/iterations:3/manual_time",
                                    "a2x/live30s_2threads/ours/iterations:3/manual_time"}});
}
