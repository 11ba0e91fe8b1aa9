// The utterance pipeline on the demo bundle (1280x720, crop 512) with 2 threads, as a host drives
// it: first-speech-frame latency with the utterance pushed at once and at real-time pace, a real-
// time run pulled on a 25 fps clock (late pulls, delivered frames per second, CPU per frame) with
// and without the paste thread, the capacity with pushes and pulls as fast as possible, and the
// delay from an interrupt to the first ramp frame; the first-frame latency and the real-time run
// again with the teeth borrow attached from the bundle's own members. LE_BENCH_BUNDLE names the bundle (default
// out/demo-bundle of the source tree, baked by scripts/bench), LE_BENCH_MOTION the motion
// directory (default: the bundle, whose audio-to-expression members run on W2V_ONNX, by default
// the baked speech encoder). Each pipeline prints its stage report when it is destroyed.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "le/le.h"
#include "le/le_a2x.h"
#include "le/le_tessera.h"
#include "le/le_utt.h"
#include "tessera/bank_decoder.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string envOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

const std::string kBundle = envOr("LE_BENCH_BUNDLE", std::string(LE_SOURCE_DIR) + "/out/demo-bundle");
const std::string kMotion = envOr("LE_BENCH_MOTION", kBundle);

std::vector<int16_t> sentence(const char* name) {
  std::ifstream in(std::string(LE_BENCH_FIXTURES) + "/sentences/" + name + ".f32", std::ios::binary | std::ios::ate);
  std::vector<float> v(in ? size_t(in.tellg()) / 4 : 0);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(v.data()), std::streamsize(v.size() * 4));
  std::vector<int16_t> pcm(v.size());
  for (size_t i = 0; i < v.size(); ++i) pcm[i] = int16_t(std::max(-1.0f, std::min(1.0f, v[i])) * 32767.0f);
  return pcm;
}

// About a minute of speech: the baked sentences over and over with a second of silence between.
std::vector<int16_t> minuteOfSpeech() {
  std::vector<int16_t> out;
  const std::vector<std::vector<int16_t>> parts = {sentence("story"), sentence("fox"), sentence("counting")};
  while (out.size() < 60 * 16000) {
    for (const auto& p : parts) {
      out.insert(out.end(), p.begin(), p.end());
      out.insert(out.end(), 16000, 0);
    }
  }
  out.resize(60 * 16000);
  return out;
}

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// Arms the teeth borrow from the bundle's own members, as a host does; the refusal, or "".
std::string attachTeeth(le_utt* utt) {
  char err[2048] = "";
  le_tessera_members* m = le_tessera_members_open(kBundle.c_str(), err, sizeof err);
  if (!m) return err;
  const int32_t n = le_tessera_members_n_donors(m);
  std::vector<int32_t> trackOrder(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) trackOrder[size_t(i)] = i;
  std::ifstream in(le_tessera_members_bank_track_path(m), std::ios::binary);
  const std::string track((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::vector<uint8_t> inTrackOrder = le::tessera::decodeBankTrack(
      reinterpret_cast<const uint8_t*>(track.data()), track.size(), n, le_tessera_members_band_h(m),
      le_tessera_members_band_w(m), trackOrder);
  std::vector<uint8_t> donors(inTrackOrder.size());
  int r = le_tessera_members_reorder(m, inTrackOrder.data(), donors.data(), err, sizeof err);
  if (r == 0)
    r = le_utt_tessera_attach(utt, donors.data(), n, le_tessera_members_cent(m), le_tessera_members_c_canon(m),
                              le_tessera_members_aperture(m), le_tessera_members_stamp(m), le_tessera_members_head_pt(m),
                              le_tessera_members_head_pt_len(m), le_tessera_members_head_json(m),
                              le_tessera_members_manifest_json(m), err, sizeof err);
  le_tessera_members_close(m);
  return r == 0 ? "" : err;
}

struct Host {
  explicit Host(const char* pipelinePaste = nullptr, bool teeth = false) {
    setenv("W2V_ONNX", (std::string(LE_BENCH_FIXTURES) + "/speech/w2v_8s.onnx").c_str(), 0);
    setenv("LE_UTT_STAGE_REPORT", "1", 0);
    if (pipelinePaste) setenv("LE_UTT_PIPELINE_PASTE", pipelinePaste, 1);
    ctx = le_create(kBundle.c_str(), "b1", 2, "");
    if (!ctx) return;
    le_utt_opts opts{};
    opts.motion_dir = kMotion.c_str();
    utt = le_utt_create(ctx, &opts);
    while (utt && le_utt_ready(utt) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (utt && teeth) teethError = attachTeeth(utt);
    frame.resize(size_t(le_width(ctx)) * size_t(le_height(ctx)) * 3);
    if (pipelinePaste) unsetenv("LE_UTT_PIPELINE_PASTE");
  }
  ~Host() {
    le_utt_destroy(utt);
    le_destroy(ctx);
  }
  bool ok(benchmark::State& state) {
    if (!teethError.empty()) {
      state.SkipWithError(teethError.c_str());
      return false;
    }
    if (utt && le_utt_ready(utt) == 1) return true;
    state.SkipWithError(ctx ? le_utt_last_error() : le_last_error());
    return false;
  }
  bool pull(le_utt_frame_info& info) { return le_utt_pull_frame(utt, frame.data(), frame.size(), &info) == 1; }
  // Pulls as fast as frames come until `until` holds for a pulled frame.
  template <class Until>
  void drain(Until until) {
    le_utt_frame_info info;
    for (;;) {
      if (pull(info)) {
        if (until(info)) return;
      } else {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    }
  }
  le_ctx* ctx = nullptr;
  le_utt* utt = nullptr;
  std::vector<uint8_t> frame;
  std::string teethError;
};

void pushPaced(le_utt* utt, const std::vector<int16_t>& pcm, bool paced) {
  const auto start = Clock::now();
  for (size_t at = 0; at < pcm.size(); at += 320) {
    const int n = int(std::min<size_t>(320, pcm.size() - at));
    le_utt_push_audio(utt, pcm.data() + at, n);
    if (paced) std::this_thread::sleep_until(start + std::chrono::milliseconds(20 * (at / 320 + 1)));
  }
  le_utt_end_utterance(utt);
}

// Latency from the first push to the first speech frame in the ring, whole utterance or paced.
void firstFrame(benchmark::State& state, bool paced, bool teeth) {
  Host host(nullptr, teeth);
  if (!host.ok(state)) return;
  const auto pcm = sentence("fox");
  double latency = 0;
  for (auto _ : state) {
    std::thread pusher([&] { pushPaced(host.utt, pcm, paced); });
    host.drain([](const le_utt_frame_info& i) { return i.kind == 1; });
    pusher.join();
    le_utt_stats stats{};
    le_utt_get_stats(host.utt, &stats);
    latency += stats.lastLatencyMs;
    host.drain([](const le_utt_frame_info& i) { return i.kind == 0; });
  }
  state.counters["latency_ms"] = latency / double(state.iterations());
}
BENCHMARK_CAPTURE(firstFrame, burst, false, false)->Name("utt/first_frame_burst/ours")->Iterations(3)->UseRealTime();
BENCHMARK_CAPTURE(firstFrame, paced, true, false)->Name("utt/first_frame_paced/ours")->Iterations(3)->UseRealTime();
BENCHMARK_CAPTURE(firstFrame, paced_teeth, true, true)
    ->Name("utt/first_frame_paced_teeth/ours")->Iterations(3)->UseRealTime();

// The engine alone under the same real-time pushes: the time from the first push until it has a
// frame ready. The pipeline's paced latency is this look-ahead plus what the pipeline adds.
void engineLookAhead(benchmark::State& state) {
  setenv("W2V_ONNX", (std::string(LE_BENCH_FIXTURES) + "/speech/w2v_8s.onnx").c_str(), 0);
  le_a2x* a2x = le_a2x_create(kMotion.c_str(), 2);
  if (!a2x) {
    state.SkipWithError(le_a2x_last_error());
    return;
  }
  std::vector<float> pcm;
  for (int16_t s : sentence("fox")) pcm.push_back(float(s) / 32768.0f);
  double latency = 0;
  for (auto _ : state) {
    le_a2x_reset(a2x, 0, 1, 1);
    const auto start = Clock::now();
    for (size_t at = 0; at < pcm.size(); at += 320) {
      le_a2x_push(a2x, pcm.data() + at, int(std::min<size_t>(320, pcm.size() - at)));
      if (le_a2x_avail(a2x) > 0) break;
      std::this_thread::sleep_until(start + std::chrono::milliseconds(20 * (at / 320 + 1)));
    }
    latency += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }
  le_a2x_destroy(a2x);
  state.counters["latency_ms"] = latency / double(state.iterations());
}
BENCHMARK(engineLookAhead)->Name("utt/first_frame_paced/engine_alone")->Iterations(3)->UseRealTime();

// A minute of speech pushed at real-time pace and pulled on the host's own 25 fps clock.
void realTime(benchmark::State& state, const char* pastePipelined, bool teeth) {
  Host host(pastePipelined, teeth);
  if (!host.ok(state)) return;
  const auto pcm = minuteOfSpeech();
  int64_t late = 0, pulled = 0, speech = 0;
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    const double cpu0 = cpuSeconds();
    const auto start = Clock::now();
    std::thread pusher([&] { pushPaced(host.utt, pcm, true); });
    const int ticks = int(pcm.size() / 640) + 50;
    le_utt_frame_info info;
    for (int tick = 0; tick < ticks; ++tick) {
      std::this_thread::sleep_until(start + std::chrono::milliseconds(40 * tick));
      if (host.pull(info)) {
        ++pulled;
        speech += info.kind == 1;
      } else {
        ++late;
      }
    }
    pusher.join();
    cpu += cpuSeconds() - cpu0;
    wall += std::chrono::duration<double>(Clock::now() - start).count();
  }
  state.counters["late_pulls"] = double(late);
  state.counters["speech_frames"] = double(speech);
  state.counters["frames_per_s"] = double(pulled) / wall;
  state.counters["cpu_ms_per_frame"] = pulled ? 1000.0 * cpu / double(pulled) : 0;
}
BENCHMARK_CAPTURE(realTime, paste_thread, "1", false)
    ->Name("utt/realtime_60s_paste_thread/ours")->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(realTime, producer_paste, "0", false)
    ->Name("utt/realtime_60s_producer_paste/ours")->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(realTime, teeth_thread, "1", true)
    ->Name("utt/realtime_60s_teeth_thread/ours")->Iterations(1)->UseRealTime();

// Everything as fast as it goes: the sentence pushed at once, frames pulled the moment they exist;
// then an interrupt in the middle of the next utterance and the wait for its first ramp frame.
void capacity(benchmark::State& state) {
  Host host;
  if (!host.ok(state)) return;
  const auto pcm = sentence("story");
  double fps = 0, interruptMs = 0;
  for (auto _ : state) {
    pushPaced(host.utt, pcm, false);
    const auto start = Clock::now();
    int speech = 0;
    host.drain([&](const le_utt_frame_info& i) { return (speech += i.kind == 1) > 0 && i.kind == 2; });
    fps += speech / std::chrono::duration<double>(Clock::now() - start).count();
    host.drain([](const le_utt_frame_info& i) { return i.kind == 0; });
    pushPaced(host.utt, pcm, false);
    int seen = 0;
    host.drain([&](const le_utt_frame_info& i) { return (seen += i.kind == 1) == 10; });
    const auto interrupted = Clock::now();
    le_utt_interrupt(host.utt);
    host.drain([](const le_utt_frame_info& i) { return i.kind == 2; });
    interruptMs += std::chrono::duration<double, std::milli>(Clock::now() - interrupted).count();
    host.drain([](const le_utt_frame_info& i) { return i.kind == 0; });
  }
  state.counters["speech_fps"] = fps / double(state.iterations());
  state.counters["realtime_x"] = fps / double(state.iterations()) / 25.0;
  state.counters["interrupt_to_ramp_ms"] = interruptMs / double(state.iterations());
}
BENCHMARK(capacity)->Name("utt/capacity/ours")->Iterations(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
