// The offline stream renderer on the demo bundle (1280x720, crop 512) with 2 threads: 30 s of
// speech rendered to finished frames, with the render thread four crops ahead of the pasting caller
// (ours), against the same animator, renders and pastes done in turn on one thread (in_turn).
// LE_BENCH_BUNDLE names the bundle (default out/demo-bundle, baked by scripts/bench).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "le/le.h"
#include "le/le_fca.h"
#include "le/le_stream.h"
#include "pipeline/stream_plan.h"
#include "ratio.h"

namespace {

constexpr int kThreads = 2;

std::string envOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

const std::string kBundle = envOr("LE_BENCH_BUNDLE", std::string(LE_SOURCE_DIR) + "/out/demo-bundle");
const std::string kEncoder = std::string(LE_BENCH_FIXTURES) + "/speech/w2v_8s.onnx";

std::vector<float> sentence(const char* name) {
  std::ifstream in(std::string(LE_BENCH_FIXTURES) + "/sentences/" + name + ".f32", std::ios::binary | std::ios::ate);
  std::vector<float> v(in ? size_t(in.tellg()) / 4 : 0);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(v.data()), std::streamsize(v.size() * 4));
  return v;
}

// 30 s of speech: the baked sentences over and over with half a second of silence between.
std::vector<float> halfMinuteOfSpeech() {
  std::vector<float> out;
  const std::vector<std::vector<float>> parts = {sentence("story"), sentence("fox"), sentence("counting")};
  while (out.size() < 30 * 16000) {
    for (const auto& p : parts) {
      out.insert(out.end(), p.begin(), p.end());
      out.insert(out.end(), 8000, 0.f);
    }
  }
  out.resize(30 * 16000);
  return out;
}

void streamOurs(benchmark::State& state) {
  le_set_threads(kThreads);
  le_stream* s = le_stream_create(kBundle.c_str(), kEncoder.c_str(), kThreads, 0, 1.f);
  if (!s) {
    state.SkipWithError(le_stream_last_error());
    return;
  }
  const std::vector<float> audio = halfMinuteOfSpeech();
  int frames = 0;
  for (auto _ : state) frames = le_stream_run(s, audio.data(), int(audio.size()), nullptr, nullptr);
  state.counters["frames_per_s"] = benchmark::Counter(double(frames) * double(state.iterations()),
                                                      benchmark::Counter::kIsRate);
  le_stream_destroy(s);
}

std::vector<float> xsTarget(int nt) {
  std::vector<float> xs(size_t(nt) * 63);
  std::ifstream in(kBundle + "/xs_target.bin", std::ios::binary);
  in.read(reinterpret_cast<char*>(xs.data()), std::streamsize(xs.size() * 4));
  return xs;
}

// The same work without the overlap: deltas, then each frame rendered and pasted before the next.
int renderInTurn(le_ctx* ctx, le_fca* fca, const std::vector<float>& audio) {
  const int frames = int((audio.size() + 639) / 640);
  std::vector<float> deltas(size_t(frames) * 63);
  if (le_fca_deltas(fca, audio.data(), int(audio.size()), deltas.data(), frames) != frames) return -1;
  const std::vector<float> xs = xsTarget(le_nt(ctx));
  const le::StreamPlan plan = le::planStream(deltas.data(), frames, 0, 1.f, xs.data(), le_nt(ctx));
  std::vector<uint8_t> frame(size_t(le_width(ctx)) * size_t(le_height(ctx)) * 3);
  for (int64_t k = 0; k < plan.frames(); ++k) {
    const float* crop = le_render_kp_crop(ctx, plan.rows[size_t(k)], &plan.target[size_t(k) * 63],
                                          &plan.driving[size_t(k) * 63]);
    if (!crop || !le_paste_crop(ctx, plan.rows[size_t(k)], crop, frame.data(), frame.size())) return -1;
  }
  return int(plan.frames());
}

void streamInTurn(benchmark::State& state) {
  le_set_threads(kThreads);
  le_ctx* ctx = le_create(kBundle.c_str(), "b1", kThreads, "");
  le_fca* fca = le_fca_create(kEncoder.c_str(), (kBundle + "/fca_stream.onnx").c_str(), kThreads);
  const std::vector<float> audio = halfMinuteOfSpeech();
  int frames = 0;
  for (auto _ : state) {
    frames = ctx && fca ? renderInTurn(ctx, fca, audio) : -1;
    if (frames < 0) state.SkipWithError(ctx && fca ? le_last_error() : "cannot open the demo bundle");
  }
  state.counters["frames_per_s"] = benchmark::Counter(double(std::max(frames, 0)) * double(state.iterations()),
                                                      benchmark::Counter::kIsRate);
  le_fca_destroy(fca);
  le_destroy(ctx);
}

}  // namespace

BENCHMARK(streamOurs)->Name("stream/utterance_30s/ours")->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(streamInTurn)->Name("stream/utterance_30s/in_turn")->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char** argv) {
  return le::bench::runWithRatios(argc, argv,
                                  {{"stream_overlap", "stream/utterance_30s/in_turn", "stream/utterance_30s/ours"}});
}
