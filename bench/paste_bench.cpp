// Paste of one 512 crop into a 1920 x 1080 frame through an M of scale 1.4 (box about 720 x 720):
// our Lanczos executor against the same work done with OpenCV (warpAffine with INTER_LANCZOS4 of
// the crop and of the mask, a Gaussian unsharp mask, a float blend into the frame), on one thread
// and on the pool's thread budget. Also reports the resident memory of a session on the demo bundle.
#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/session.h"
#include "le/le.h"
#include "paste/paste.h"
#include "pool/pool.h"
#include "ratio.h"

namespace {

constexpr int kSide = 512, kW = 1920, kH = 1080;
constexpr float kScale = 1.4f;

struct Work {
  std::vector<float> crop = std::vector<float>(size_t(kSide) * kSide * 3);  // planar, 0..1
  std::vector<uint8_t> mask = std::vector<uint8_t>(size_t(kSide) * kSide);
  std::vector<uint8_t> frame = std::vector<uint8_t>(size_t(kW) * kH * 3);
  float M[6] = {kScale, 0, (kW - kScale * kSide) / 2, 0, kScale, (kH - kScale * kSide) / 2};

  Work() {
    for (int c = 0; c < 3; ++c)
      for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
          crop[(size_t(c) * kSide + y) * kSide + x] = 0.5f + 0.45f * std::sin(0.05f * x + 0.07f * y + c);
    for (int y = 0; y < kSide; ++y)
      for (int x = 0; x < kSide; ++x) {
        const float r = std::hypot(x - kSide / 2.0f, y - kSide / 2.0f) / (kSide / 2.0f);
        mask[size_t(y) * kSide + x] = uint8_t(std::clamp(255.0f * (1.0f - r) / 0.2f, 0.0f, 255.0f));
      }
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i * 7);
  }
};

// Runs fn with every nested pool loop serial on this thread: the pool runs a loop issued from
// inside its own part 0 on the calling thread.
void onOneThread(const std::function<void()>& fn) {
  le::pool::parallelRange(size_t(le::pool::threads()), 1, [&](size_t begin, size_t) {
    if (begin == 0) fn();
  });
}

void pasteOurs(benchmark::State& state, bool single) {
  Work w;
  le::Paste paste(w.mask, kSide, le::Unsharp{1.3f, 2.0f, 13});
  auto once = [&] { paste.composite(w.crop.data(), 255.0f, w.M, w.frame.data(), kW, kH); };
  for (auto _ : state) {
    if (single) onOneThread(once);
    else once();
    benchmark::DoNotOptimize(w.frame.data());
  }
  state.counters["threads"] = single ? 1 : le::pool::threads();
}

void pasteOpenCV(benchmark::State& state, bool single) {
  Work w;
  cv::setNumThreads(single ? 1 : le::pool::threads());
  std::vector<cv::Mat> planes;
  for (int c = 0; c < 3; ++c) planes.emplace_back(kSide, kSide, CV_32F, w.crop.data() + size_t(c) * kSide * kSide);
  cv::Mat crop, blur, sharp, mask8(kSide, kSide, CV_8U, w.mask.data()), mask;
  mask8.convertTo(mask, CV_32F, 1.0 / 255.0);
  cv::Mat frame(kH, kW, CV_8UC3, w.frame.data());
  // The box the crop lands in, as our compositor computes it.
  const int x0 = int(std::floor(w.M[2] - 4 * kScale)), y0 = int(std::floor(w.M[5] - 4 * kScale));
  const int side = int(std::ceil((kSide + 7) * kScale)) + 1;
  const cv::Rect box(x0, y0, side, side);
  cv::Mat shifted = (cv::Mat_<double>(2, 3) << w.M[0], w.M[1], w.M[2] - x0, w.M[3], w.M[4], w.M[5] - y0);
  cv::Mat warped, alpha, region, out;
  for (auto _ : state) {
    cv::merge(planes, crop);
    crop *= 255.0f;
    cv::GaussianBlur(crop, blur, cv::Size(13, 13), 2.0, 2.0, cv::BORDER_REFLECT_101);
    cv::addWeighted(crop, 2.3, blur, -1.3, 0.0, sharp);
    cv::warpAffine(sharp, warped, shifted, box.size(), cv::INTER_LANCZOS4, cv::BORDER_CONSTANT);
    cv::warpAffine(mask, alpha, shifted, box.size(), cv::INTER_LANCZOS4, cv::BORDER_CONSTANT);
    cv::cvtColor(alpha, alpha, cv::COLOR_GRAY2BGR);
    frame(box).convertTo(region, CV_32FC3);
    out = region + alpha.mul(warped - region);
    out.convertTo(frame(box), CV_8UC3);
    benchmark::DoNotOptimize(frame.data);
  }
  state.counters["threads"] = single ? 1 : le::pool::threads();
}

// Resident memory of a whole session on the demo bundle (mappings count as they are touched, so
// this is the session's own buffers, the decode-ahead ring and the decoder's state).
long residentKiB() {
  long kib = 0;
  if (FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f))
      if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1) break;
    std::fclose(f);
  }
  return kib;
}

void sessionMemory(benchmark::State& state) {
  const std::string bundle = std::string(LE_SOURCE_DIR) + "/out/demo-bundle";
  if (!std::filesystem::exists(bundle + "/manifest.json")) {
    state.SkipWithError("no demo bundle: run scripts/demo once");
    return;
  }
  for (auto _ : state) {
    const long before = residentKiB();
    le_ctx* ctx = le_create(bundle.c_str(), "b1", 0, nullptr);
    if (!ctx) {
      state.SkipWithError(le_last_error());
      return;
    }
    std::vector<uint8_t> frame(size_t(ctx->cursor->frameBytes()));
    for (int i = 0; i < 20; ++i) ctx->cursor->pull(frame.data());
    state.counters["session_MiB"] = double(residentKiB() - before) / 1024.0;
    state.counters["cursor_MiB"] = double(ctx->cursor->residentBytes()) / (1024.0 * 1024.0);
    le_destroy(ctx);
  }
}

}  // namespace

// Repetitions of ours and the peer are interleaved in random order (see main), so that load from
// other processes on the machine falls on both alike; each ratio compares their medians.
BENCHMARK_CAPTURE(pasteOurs, lanczos_1thread, true)->Name("paste/lanczos_1thread/ours")
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(8)->Repetitions(7);
BENCHMARK_CAPTURE(pasteOpenCV, lanczos4_1thread, true)->Name("paste/lanczos_1thread/opencv")
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2)->Repetitions(7);
BENCHMARK_CAPTURE(pasteOurs, lanczos_pool, false)->Name("paste/lanczos_pool/ours")
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(8)->Repetitions(7);
BENCHMARK_CAPTURE(pasteOpenCV, lanczos4_pool, false)->Name("paste/lanczos_pool/opencv")
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2)->Repetitions(7);
BENCHMARK(sessionMemory)->Name("paste/session_memory/ours")->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  return le::bench::runWithMedianRatios(
      argc, argv,
      {{"paste/lanczos_1thread", "paste/lanczos_1thread/opencv", "paste/lanczos_1thread/ours"},
       {"paste/lanczos_pool", "paste/lanczos_pool/opencv", "paste/lanczos_pool/ours"}});
}
