// The SIMD kernels against their peers: half conversions against memcpy of the same input bytes,
// the YUV row conversion against swscale on the same frame, and the paste row per target.
#define HWY_WANT_AVX3_DL
#include <hwy/targets.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <cctype>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ratio.h"
#include "simd/simd.h"

namespace {

constexpr size_t kBytes = 8u << 20;

void BM_Memcpy8MiB(benchmark::State& state) {
  std::vector<uint8_t> src(kBytes, 1), dst(kBytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), kBytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}
// The copy is the bound a conversion of the same bytes can reach; each conversion is compared with
// it under its own case name.
BENCHMARK(BM_Memcpy8MiB)->Name("simd/f16_to_f32_8mib/memcpy");
BENCHMARK(BM_Memcpy8MiB)->Name("simd/f32_to_f16_8mib/memcpy");

void BM_F16ToF32_8MiB(benchmark::State& state) {
  const size_t n = kBytes / 2;
  std::vector<uint16_t> src(n);
  for (size_t i = 0; i < n; ++i) src[i] = static_cast<uint16_t>(i * 7919 % 0x7C00);
  std::vector<float> dst(n);
  for (auto _ : state) {
    le::simd::f16ToF32(src.data(), dst.data(), n);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_F16ToF32_8MiB)->Name("simd/f16_to_f32_8mib/ours");

void BM_F32ToF16_8MiB(benchmark::State& state) {
  const size_t n = kBytes / 4;
  std::vector<float> src(n);
  for (size_t i = 0; i < n; ++i) src[i] = static_cast<float>(i % 5000) * 0.37f - 900.0f;
  std::vector<uint16_t> dst(n);
  for (auto _ : state) {
    le::simd::f32ToF16(src.data(), dst.data(), n);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_F32ToF16_8MiB)->Name("simd/f32_to_f16_8mib/ours");

// One 1920x1080 YUV420P frame of smooth gradients with noise.
struct Frame {
  static constexpr int kW = 1920, kH = 1080;
  std::vector<uint8_t> y = std::vector<uint8_t>(kW * kH);
  std::vector<uint8_t> u = std::vector<uint8_t>(kW / 2 * kH / 2);
  std::vector<uint8_t> v = std::vector<uint8_t>(kW / 2 * kH / 2);
  std::vector<uint8_t> rgb = std::vector<uint8_t>(kW * kH * 3);
  Frame() {
    std::mt19937 rng(1);
    for (int r = 0; r < kH; ++r)
      for (int c = 0; c < kW; ++c) y[r * kW + c] = static_cast<uint8_t>(16 + (r + c) % 220 + rng() % 4);
    for (size_t i = 0; i < u.size(); ++i) {
      u[i] = static_cast<uint8_t>(64 + i % 128);
      v[i] = static_cast<uint8_t>(192 - i % 128);
    }
  }
};

void BM_SwscaleYuv420pToRgb24(benchmark::State& state) {
  Frame f;
  std::unique_ptr<SwsContext, decltype(&sws_freeContext)> sws(
      sws_getContext(Frame::kW, Frame::kH, AV_PIX_FMT_YUV420P, Frame::kW, Frame::kH,
                     AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr),
      &sws_freeContext);
  if (!sws) {
    state.SkipWithError("sws_getContext failed");
    return;
  }
  const uint8_t* src[3] = {f.y.data(), f.u.data(), f.v.data()};
  const int srcStride[3] = {Frame::kW, Frame::kW / 2, Frame::kW / 2};
  uint8_t* dst[1] = {f.rgb.data()};
  const int dstStride[1] = {Frame::kW * 3};
  for (auto _ : state) {
    sws_scale(sws.get(), src, srcStride, 0, Frame::kH, dst, dstStride);
    benchmark::DoNotOptimize(f.rgb.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * Frame::kW * Frame::kH);
}
BENCHMARK(BM_SwscaleYuv420pToRgb24)->Name("simd/yuv420_row_to_rgb24/swscale")->Unit(benchmark::kMicrosecond);

void BM_Yuv420RowToRgb24(benchmark::State& state) {
  Frame f;
  for (auto _ : state) {
    for (int r = 0; r < Frame::kH; ++r) {
      const size_t c = static_cast<size_t>(r / 2) * (Frame::kW / 2);
      le::simd::yuv420RowToRgb24(f.y.data() + static_cast<size_t>(r) * Frame::kW, f.u.data() + c,
                                 f.v.data() + c, Frame::kW, 1,
                                 f.rgb.data() + static_cast<size_t>(r) * Frame::kW * 3);
    }
    benchmark::DoNotOptimize(f.rgb.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * Frame::kW * Frame::kH);
}
BENCHMARK(BM_Yuv420RowToRgb24)->Name("simd/yuv420_row_to_rgb24/ours")->Unit(benchmark::kMicrosecond);

// A 512 crop pasted at 1.4x: 717 destination rows of 717 pixels, feathered disc mask.
void pasteRows(benchmark::State& state, int64_t target) {
  constexpr int kSide = 512;
  constexpr int kOut = 717;
  std::vector<float> crop4(kSide * kSide * 4);
  std::mt19937 rng(2);
  for (float& c : crop4) c = static_cast<float>(rng() % 256);
  std::vector<uint8_t> mask(kSide * kSide);
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      const int dx = x - kSide / 2, dy = y - kSide / 2;
      mask[y * kSide + x] = dx * dx + dy * dy < 240 * 240 ? 255 : 0;
    }
  std::vector<float> lanczos(32 * 8, 0.0f), bilinear(32 * 2);
  for (int p = 0; p < 32; ++p) {
    lanczos[p * 8 + 3] = 1.0f - p / 32.0f;
    lanczos[p * 8 + 4] = p / 32.0f;
    bilinear[p * 2] = 1.0f - p / 32.0f;
    bilinear[p * 2 + 1] = p / 32.0f;
  }
  std::vector<int> colU(kOut), colV(kOut, 0);
  for (int i = 0; i < kOut; ++i) colU[i] = i * 1024 * 5 / 7;
  std::vector<uint8_t> frame(kOut * kOut * 3, 90);
  hwy::SetSupportedTargetsForTest(target);
  for (auto _ : state) {
    for (int r = 0; r < kOut; ++r) {
      le::simd::pasteLanczos8Row(crop4.data(), kSide, mask.data(), lanczos.data(),
                                 bilinear.data(), colU.data(), colV.data(), 0, r * 1024 * 5 / 7,
                                 0, kOut - 1, frame.data() + r * kOut * 3);
    }
    benchmark::DoNotOptimize(frame.data());
  }
  hwy::SetSupportedTargetsForTest(0);
  state.SetItemsProcessed(state.iterations() * kOut * kOut);
  state.counters["Mpix/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kOut *
                                                    kOut / 1e6,
                                                benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char** argv) {
  for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
    std::string name = std::string("simd/paste_lanczos8_row_") + hwy::TargetName(target) + "/ours";
    for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    benchmark::RegisterBenchmark(name.c_str(), pasteRows, target)->Unit(benchmark::kMillisecond);
  }
  return le::bench::runWithRatios(
      argc, argv,
      {{"simd/f16_to_f32_8mib", "simd/f16_to_f32_8mib/memcpy", "simd/f16_to_f32_8mib/ours"},
       {"simd/f32_to_f16_8mib", "simd/f32_to_f16_8mib/memcpy", "simd/f32_to_f16_8mib/ours"},
       {"simd/yuv420_row_to_rgb24", "simd/yuv420_row_to_rgb24/swscale", "simd/yuv420_row_to_rgb24/ours"}});
}
