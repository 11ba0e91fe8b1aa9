// The teeth pass's pi mask of the demo canvas (512): the boxed form, which draws only inside the
// lip and gate ellipses' boxes, against the whole-canvas form it must equal inside them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ratio.h"
#include "tessera/unified_pi.h"

namespace {

constexpr int kCanvas = 512;

const le::tessera::UnifiedPi& geometry() {
  static const le::tessera::UnifiedPi g = le::tessera::UnifiedPi::fromManifestJson(
      R"({"unified": {"pi": {"mode": "prop", "prop_gate_scale": 1.0, "lip_idx": [6, 12, 14, 17, 18, 19, 20],
          "lip_geom_params": [0.05, 0.08, 0.015]}, "crop": {"canvas": 512}}})",
      kCanvas);
  return g;
}

// Our person's keypoints with the mouth open: lip rows around (0, 0.33), the rest far from the lips.
std::vector<float> openMouth() {
  std::vector<float> kp(63, 0.0f);
  const float lips[][3] = {{6, 0.0f, 0.27f}, {12, 0.0f, 0.41f}, {14, 0.0f, 0.35f}, {17, -0.17f, 0.34f},
                           {18, 0.17f, 0.34f}, {19, 0.0f, 0.24f}, {20, 0.0f, 0.46f}};
  for (const auto& [row, x, y] : lips) kp[size_t(row) * 3] = x, kp[size_t(row) * 3 + 1] = y;
  return kp;
}

template <bool kBoxed>
void piMask(benchmark::State& state) {
  const std::vector<float> kp = openMouth();
  std::vector<uint8_t> out(size_t(kCanvas) * kCanvas);
  for (auto _ : state) {
    if (kBoxed)
      geometry().piU8Boxed(kp.data(), out.data());
    else
      geometry().piU8(kp.data(), out.data());
    benchmark::DoNotOptimize(out.data());
  }
}

}  // namespace

BENCHMARK(piMask<false>)->Name("teeth/pi_boxed/whole")->Unit(benchmark::kMicrosecond);
BENCHMARK(piMask<true>)->Name("teeth/pi_boxed/ours")->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  return le::bench::runWithRatios(argc, argv, {{"pi_boxed", "teeth/pi_boxed/whole", "teeth/pi_boxed/ours"}});
}
