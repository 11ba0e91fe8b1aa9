// The teeth borrow's costs.
//
// Bank decoding: donors per second out of the demo bank track (256 donors of the demo preset's
// band, lossless RGB H.264), decoded into donor order. Ours: le::tessera::decodeBankTrack over the
// member's bytes in memory. The peer: FFmpeg reading the same track from its file path, decoding
// and converting each frame with sws_scale into a track-order buffer, then copying the frames into
// donor order, as a host that decodes the track itself would. Prints "RATIO teeth/bank_decode
// <peer/ours>"; above 1 ours is faster.
//
// The pass, on 2 pool threads, at the demo bank (256 donors, window 93 x 68) and at a bank of 1024
// donors (the demo's repeated with their brightness moved), both with the serving defaults
// (kshort 512, cut 96, K 64): a frame's retrieval, the blend head over K candidates, and a whole
// frame (a push: retrieval of the new frame and emission of the held one). Against straightforward
// float code in this binary: the exact retrieval term over the demo shortlist ("RATIO teeth_exact
// <float/ours>") and the head's forward pass over 64 candidates ("RATIO teeth_head <float/ours>").
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "pool/pool.h"
#include "ratio.h"
#include "simd/simd.h"
#include "tessera/bank_decoder.h"
#include "tessera/bank_sidecar.h"
#include "tessera/head_weights.h"
#include "tessera/json_reader.h"
#include "tessera/teeth_dtable.h"
#include "tessera/teeth_head.h"
#include "tessera/teeth_members.h"
#include "tessera/teeth_pass.h"

namespace {

const std::string kBankDir = std::string(LE_BENCH_FIXTURES) + "/teeth-demo/";

struct Bank {
  std::string trackPath;
  std::vector<uint8_t> track;
  le::tessera::BankSidecar sidecar;
};

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path + " (build the le_fixtures target)");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

const Bank& demoBank() {
  static const Bank bank = [] {
    Bank b;
    b.trackPath = kBankDir + "tessera_bank.v1.mp4";
    const std::string track = readText(b.trackPath);
    b.track.assign(track.begin(), track.end());
    const le::tessera::json::JVal doc = le::tessera::json::parse(readText(kBankDir + "tessera_bank.v1.json"));
    b.sidecar = le::tessera::readBankSidecar(doc, le::tessera::json::JVal(), "tessera_bank.v1.json");
    return b;
  }();
  return bank;
}

// The peer: path-based demuxing, one sws_scale per frame into track order, then a reorder.
std::vector<uint8_t> decodeFromFile(const Bank& bank) {
  const auto& s = bank.sidecar;
  const size_t patch = size_t(s.band_w) * s.band_h * 3;
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, bank.trackPath.c_str(), nullptr, nullptr) < 0) throw std::runtime_error("open");
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> fmtOwner(
      fmt, [](AVFormatContext* p) { avformat_close_input(&p); });
  avformat_find_stream_info(fmt, nullptr);
  const int stream = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const AVCodec* codec = avcodec_find_decoder(fmt->streams[stream]->codecpar->codec_id);
  std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> dec(avcodec_alloc_context3(codec),
                                                                 [](AVCodecContext* p) { avcodec_free_context(&p); });
  avcodec_parameters_to_context(dec.get(), fmt->streams[stream]->codecpar);
  avcodec_open2(dec.get(), codec, nullptr);
  std::unique_ptr<AVPacket, void (*)(AVPacket*)> pkt(av_packet_alloc(), [](AVPacket* p) { av_packet_free(&p); });
  std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(), [](AVFrame* p) { av_frame_free(&p); });
  std::unique_ptr<SwsContext, void (*)(SwsContext*)> sws(nullptr, sws_freeContext);
  std::vector<uint8_t> trackOrder(patch * size_t(s.n_donors));
  size_t k = 0;
  const auto receive = [&] {
    while (avcodec_receive_frame(dec.get(), frame.get()) == 0 && k < size_t(s.n_donors)) {
      if (!sws)
        sws.reset(sws_getContext(s.band_w, s.band_h, AVPixelFormat(frame->format), s.band_w, s.band_h,
                                 AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr));
      uint8_t* dst[4] = {trackOrder.data() + k * patch, nullptr, nullptr, nullptr};
      const int stride[4] = {s.band_w * 3, 0, 0, 0};
      sws_scale(sws.get(), frame->data, frame->linesize, 0, s.band_h, dst, stride);
      ++k;
    }
  };
  while (av_read_frame(fmt, pkt.get()) >= 0) {
    if (pkt->stream_index == stream) avcodec_send_packet(dec.get(), pkt.get());
    av_packet_unref(pkt.get());
    receive();
  }
  avcodec_send_packet(dec.get(), nullptr);
  receive();
  std::vector<uint8_t> donors(trackOrder.size());
  for (size_t i = 0; i < k; ++i) std::memcpy(donors.data() + size_t(s.track_order[i]) * patch, trackOrder.data() + i * patch, patch);
  return donors;
}

void setCounters(benchmark::State& state) {
  state.counters["donors_per_s"] =
      benchmark::Counter(double(demoBank().sidecar.n_donors), benchmark::Counter::kIsIterationInvariantRate);
}

void bankDecodeOurs(benchmark::State& state) {
  const Bank& bank = demoBank();
  const auto& s = bank.sidecar;
  for (auto _ : state) {
    std::vector<uint8_t> donors =
        le::tessera::decodeBankTrack(bank.track.data(), bank.track.size(), s.n_donors, s.band_h, s.band_w, s.track_order);
    benchmark::DoNotOptimize(donors.data());
  }
  setCounters(state);
}

void bankDecodeFile(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<uint8_t> donors = decodeFromFile(demoBank());
    benchmark::DoNotOptimize(donors.data());
  }
  setCounters(state);
}

// All four members of a baked bundle found, read and validated, as a host does before attaching.
void loadMembers(benchmark::State& state) {
  const std::string bundle = std::string(LE_BENCH_FIXTURES) + "/test";
  for (auto _ : state) {
    le::TesseraAttachInputs inputs = le::loadTesseraMembers(bundle);
    benchmark::DoNotOptimize(inputs.head_pt.data());
  }
}

BENCHMARK(loadMembers)->Name("teeth/load_members/ours")->Unit(benchmark::kMicrosecond);
BENCHMARK(bankDecodeOurs)->Name("teeth/bank_decode/ours")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(bankDecodeFile)->Name("teeth/bank_decode/ffmpeg_file")->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- The pass ----

using le::tessera::BankData;
using le::tessera::HeadWeights;
using le::tessera::TeethPass;

constexpr int kThreads = 2;
constexpr int kLargeBank = 1024;
// The two donors whose mouths the benchmark canvases show: a narrow and a wide opening.
constexpr std::array<int32_t, 2> kLiveDonors = {40, 200};

BankData demoBankData() {
  const Bank& b = demoBank();
  const auto& s = b.sidecar;
  BankData bank;
  bank.donors = le::tessera::decodeBankTrack(b.track.data(), b.track.size(), s.n_donors, s.band_h, s.band_w,
                                             s.track_order);
  bank.aperture = s.aperture;
  for (int32_t d = 0; d < s.n_donors; ++d) bank.cent.push_back({s.cent[2 * size_t(d)], s.cent[2 * size_t(d) + 1]});
  bank.c_canon = s.c_canon;
  bank.stamp = s.stamp;
  bank.n_donors = s.n_donors;
  return bank;
}

// kLargeBank donors: the demo's in turn, every further round over them three levels brighter.
BankData largeBank(const BankData& demo) {
  BankData big = demo;
  const size_t patch = demo.donors.size() / size_t(demo.n_donors);
  big.donors.clear();
  big.aperture.clear();
  big.cent.clear();
  for (int32_t i = 0; i < kLargeBank; ++i) {
    const int32_t from = i % demo.n_donors, lift = 3 * (i / demo.n_donors);
    for (size_t b = 0; b < patch; ++b)
      big.donors.push_back(uint8_t(std::min(255, demo.donors[size_t(from) * patch + b] + lift)));
    big.aperture.push_back(demo.aperture[size_t(from)]);
    big.cent.push_back(demo.cent[size_t(from)]);
  }
  big.n_donors = kLargeBank;
  return big;
}

HeadWeights bundleHead() {
  const std::string bytes = readText(std::string(LE_BENCH_FIXTURES) + "/test/tessera_head.v1.pt");
  return le::tessera::loadHeadPt({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
}

// A grey canvas showing the donor's patch where its canonical window meets the teeth window, and
// a pi ellipse on the canonical centre, inside the band.
void drawCanvas(const BankData& bank, int32_t donor, std::vector<uint8_t>& canvas, std::vector<uint8_t>& pi) {
  const auto& g = bank.stamp;
  const int32_t bandW = int32_t(g.bandW()), bandH = int32_t(g.bandH());
  canvas.assign(size_t(g.canvas_w) * g.canvas_h * 3, 128);
  pi.assign(size_t(g.canvas_w) * g.canvas_h, 0);
  const int32_t dy = int32_t(std::nearbyint(bank.cent[size_t(donor)][1] - bank.c_canon[1]));
  const int32_t dx = int32_t(std::nearbyint(bank.cent[size_t(donor)][0] - bank.c_canon[0]));
  const int32_t y0 = g.window_y0 + g.band_r0 - g.shift_margin - dy, x0 = g.window_x0 + g.band_c0 - g.shift_margin - dx;
  const uint8_t* patch = bank.donors.data() + size_t(donor) * bandW * bandH * 3;
  for (int32_t r = 0; r < bandH; ++r)
    std::memcpy(canvas.data() + (size_t(y0 + r) * g.canvas_w + size_t(x0)) * 3, patch + size_t(r) * bandW * 3,
                size_t(bandW) * 3);
  const double cy = std::nearbyint(bank.c_canon[1]), cx = std::nearbyint(bank.c_canon[0]);
  const double ay = (g.band_r1 - g.band_r0) / 2 - 2, ax = (g.band_c1 - g.band_c0) / 2 - 2;
  for (int32_t y = 0; y < g.canvas_h; ++y)
    for (int32_t x = 0; x < g.canvas_w; ++x)
      if ((x - cx) * (x - cx) / (ax * ax) + (y - cy) * (y - cy) / (ay * ay) <= 1.0)
        pi[size_t(y) * g.canvas_w + x] = 255;
}

struct PassSetup {
  BankData bank;
  HeadWeights head;
  le::tessera::ServeConfig config;  // the serving defaults: kshort 512, cut 96, K 64
  std::array<std::vector<uint8_t>, 2> canvas, pi;
};

const PassSetup& passSetup(int donors) {
  static std::map<int, PassSetup> setups;
  auto found = setups.find(donors);
  if (found != setups.end()) return found->second;
  PassSetup& s = setups[donors];
  const BankData demo = demoBankData();
  s.bank = donors == demo.n_donors ? demo : largeBank(demo);
  s.head = bundleHead();
  for (size_t i = 0; i < kLiveDonors.size(); ++i) drawCanvas(s.bank, kLiveDonors[i], s.canvas[i], s.pi[i]);
  return s;
}

void passRetrieve(benchmark::State& state, int donors) {
  const PassSetup& s = passSetup(donors);
  TeethPass pass(s.bank, s.head, s.config);
  for (auto _ : state) benchmark::DoNotOptimize(pass.retrieve(s.canvas[0].data(), s.pi[0].data(), 0, 0));
}

// One push per iteration: the new frame's retrieval and the held frame's emission with the head.
void passFrame(benchmark::State& state, int donors) {
  const PassSetup& s = passSetup(donors);
  TeethPass pass(s.bank, s.head, s.config);
  le::tessera::FrameResult result;
  int32_t index = 0;
  pass.push(index++, s.canvas[0].data(), s.pi[0].data(), std::nullopt, result);
  for (auto _ : state) {
    const size_t which = size_t(index % 2);
    pass.push(index++, s.canvas[which].data(), s.pi[which].data(), std::nullopt, result);
    benchmark::DoNotOptimize(result.pixels.data());
  }
}

void passBuild(benchmark::State& state, int donors) {
  const PassSetup& s = passSetup(donors);
  for (auto _ : state) {
    TeethPass pass(s.bank, s.head, s.config);
    benchmark::DoNotOptimize(&pass);
  }
}

// The head's inputs for a frame: the canonical windows of the frame's K selected donors, the live
// window and the band as the blend mask.
struct HeadCase {
  std::vector<float> candidates, live;
  std::vector<uint8_t> mask;
  le::tessera::HeadFrame frame;
};

HeadCase headCase(int donors) {
  const PassSetup& s = passSetup(donors);
  const auto& g = s.bank.stamp;
  TeethPass pass(s.bank, s.head, s.config);
  const std::vector<int32_t> selection = pass.retrieve(s.canvas[0].data(), s.pi[0].data(), 0, 0);
  const size_t pixels = size_t(g.window_w) * g.window_h;
  HeadCase c;
  std::vector<uint16_t> halves(3 * pixels);
  c.candidates.resize(selection.size() * 3 * pixels);
  for (size_t k = 0; k < selection.size(); ++k) {
    pass.canonicalWindowF16(selection[k], halves.data());
    le::simd::f16ToF32(halves.data(), c.candidates.data() + k * 3 * pixels, halves.size());
  }
  c.live.resize(3 * pixels);
  c.mask.assign(pixels, 0);
  for (int32_t i = 0; i < g.window_h; ++i)
    for (int32_t x = 0; x < g.window_w; ++x) {
      const size_t p = size_t(i) * g.window_w + x, at = size_t(g.window_y0 + i) * g.canvas_w + size_t(g.window_x0 + x);
      for (size_t ch = 0; ch < 3; ++ch) c.live[ch * pixels + p] = float(s.canvas[0][at * 3 + ch]) / 255.f;
      c.mask[p] = i >= g.band_r0 && i < g.band_r1 && x >= g.band_c0 && x < g.band_c1;
    }
  c.frame = {c.candidates.data(), int(selection.size()), c.live.data(), g.window_h, g.window_w, c.mask.data()};
  return c;
}

void headOurs(benchmark::State& state, int donors) {
  const HeadCase c = headCase(donors);
  le::tessera::HeadOutput out;
  for (auto _ : state) {
    le::tessera::headForward(passSetup(donors).head, c.frame, out);
    benchmark::DoNotOptimize(out.blended.data());
  }
}

// ---- The straightforward float head: the same network in plain loops, per candidate on the pool.

std::vector<float> pool2(const float* in, int planes, int h, int w) {
  std::vector<float> out(size_t(planes) * (h / 2) * (w / 2));
  for (int p = 0; p < planes; ++p)
    for (int y = 0; y < h / 2; ++y)
      for (int x = 0; x < w / 2; ++x) {
        const float* at = in + (size_t(p) * h + 2 * y) * w + 2 * x;
        out[(size_t(p) * (h / 2) + y) * (w / 2) + x] = (at[0] + at[1] + at[w] + at[w + 1]) / 4.f;
      }
  return out;
}

std::vector<float> convFloat(const std::vector<float>& in, int cin, int h, int w, const std::vector<float>& wt,
                             const std::vector<float>& bias, int cout, bool relu) {
  std::vector<float> out(size_t(cout) * h * w);
  for (int o = 0; o < cout; ++o)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        float sum = bias[size_t(o)];
        for (int c = 0; c < cin; ++c)
          for (int ky = 0; ky < 3; ++ky)
            for (int kx = 0; kx < 3; ++kx) {
              const int sy = y + ky - 1, sx = x + kx - 1;
              if (sy >= 0 && sy < h && sx >= 0 && sx < w)
                sum += wt[((size_t(o) * cin + c) * 3 + ky) * 3 + kx] * in[(size_t(c) * h + sy) * w + sx];
            }
        out[(size_t(o) * h + y) * w + x] = relu ? std::max(sum, 0.f) : sum;
      }
  return out;
}

// The candidate network's logit map of candidate k at half size.
std::vector<float> floatLogits(const HeadWeights& head, const le::tessera::HeadFrame& f,
                               const std::vector<float>& live2, int k) {
  const int h2 = f.height / 2, w2 = f.width / 2;
  const size_t half = size_t(h2) * w2;
  std::vector<float> input = pool2(f.candidates + size_t(k) * 3 * f.height * f.width, 3, f.height, f.width);
  input.insert(input.end(), live2.begin(), live2.end());
  for (size_t p = 0; p < half; ++p)
    input.push_back((std::fabs(input[p] - live2[p]) + std::fabs(input[half + p] - live2[half + p]) +
                     std::fabs(input[2 * half + p] - live2[2 * half + p])) / 3.f);
  const std::vector<float> a = convFloat(input, 7, h2, w2, head.cand0Weight, head.cand0Bias, 16, true);
  const std::vector<float> b = convFloat(a, 16, h2, w2, head.cand2Weight, head.cand2Bias, 16, true);
  return convFloat(b, 16, h2, w2, head.cand4Weight, head.cand4Bias, 1, false);
}

float upsampledAt(const std::vector<float>& map, int h2, int w2, int y, int x) {
  const float sy = std::max((y + 0.5f) * 0.5f - 0.5f, 0.f), sx = std::max((x + 0.5f) * 0.5f - 0.5f, 0.f);
  const int y0 = std::min(int(sy), h2 - 1), x0 = std::min(int(sx), w2 - 1);
  const int y1 = std::min(y0 + 1, h2 - 1), x1 = std::min(x0 + 1, w2 - 1);
  const float wy = sy - float(y0), wx = sx - float(x0);
  const auto at = [&](int r, int c) { return map[size_t(r) * w2 + c]; };
  return (1 - wy) * ((1 - wx) * at(y0, x0) + wx * at(y0, x1)) + wy * ((1 - wx) * at(y1, x0) + wx * at(y1, x1));
}

void floatHead(const HeadWeights& head, const le::tessera::HeadFrame& f, std::vector<float>& blended) {
  const size_t full = size_t(f.height) * f.width;
  const std::vector<float> live2 = pool2(f.live, 3, f.height, f.width);
  std::vector<std::vector<float>> logits(size_t(f.count));
  le::pool::parallelRange(size_t(f.count), 1, [&](size_t b, size_t e) {
    for (size_t k = b; k < e; ++k) logits[k] = floatLogits(head, f, live2, int(k));
  });
  blended.assign(3 * full, 0.f);
  std::vector<float> weight(size_t(f.count));
  for (int y = 0; y < f.height; ++y)
    for (int x = 0; x < f.width; ++x) {
      const size_t p = size_t(y) * f.width + x;
      float largest = -INFINITY, sum = 0.f;
      for (int k = 0; k < f.count; ++k) {
        weight[size_t(k)] = upsampledAt(logits[size_t(k)], f.height / 2, f.width / 2, y, x);
        largest = std::max(largest, weight[size_t(k)]);
      }
      for (float& v : weight) sum += (v = std::exp(v - largest));
      for (int c = 0; c < 3; ++c) {
        float v = 0.f;
        for (int k = 0; k < f.count; ++k) v += weight[size_t(k)] / sum * f.candidates[(size_t(k) * 3 + c) * full + p];
        blended[c * full + p] = f.mask[p] ? v : f.live[c * full + p];
      }
    }
}

void headFloat(benchmark::State& state, int donors) {
  const HeadCase c = headCase(donors);
  std::vector<float> blended;
  for (auto _ : state) {
    floatHead(passSetup(donors).head, c.frame, blended);
    benchmark::DoNotOptimize(blended.data());
  }
}

// ---- The exact retrieval term over the demo shortlist (every donor of the demo bank), each arm
// over the pixels of non-zero mask as the pass takes them.

struct ExactCase {
  std::vector<uint8_t> live;                  // the live window, RGB8
  std::vector<float> mask;                    // 1 on the mouth, 0.6 on the ring a carried mask leaves
  std::vector<std::vector<uint8_t>> donors;   // canonical windows, RGB8
  std::vector<int32_t> colBegin, colEnd;      // per row, the columns of non-zero mask
  int32_t width = 0, rowBegin = 0, rowEnd = 0;
  float norm = 1.f;
};

ExactCase exactCase() {
  const PassSetup& s = passSetup(256);
  const auto& g = s.bank.stamp;
  TeethPass pass(s.bank, s.head, s.config);
  const size_t pixels = size_t(g.window_w) * g.window_h;
  ExactCase c;
  c.width = g.window_w;
  c.live.resize(3 * pixels);
  c.mask.assign(pixels, 0.f);
  c.rowBegin = g.window_h;
  c.colBegin.assign(size_t(g.window_h), g.window_w);
  c.colEnd.assign(size_t(g.window_h), 0);
  double sum = 0.0;
  for (int32_t i = 0; i < g.window_h; ++i)
    for (int32_t x = 0; x < g.window_w; ++x) {
      const size_t p = size_t(i) * g.window_w + x, at = size_t(g.window_y0 + i) * g.canvas_w + size_t(g.window_x0 + x);
      std::memcpy(c.live.data() + 3 * p, s.canvas[0].data() + 3 * at, 3);
      const bool inside = s.pi[0][at] != 0, near = at >= 2 && s.pi[0][at - 2] + s.pi[0][at + 2] != 0;
      c.mask[p] = inside ? 1.f : near ? 0.6f : 0.f;
      if (c.mask[p] != 0.f) {
        c.rowBegin = std::min(c.rowBegin, i);
        c.rowEnd = i + 1;
        c.colBegin[size_t(i)] = std::min(c.colBegin[size_t(i)], x);
        c.colEnd[size_t(i)] = x + 1;
      }
      sum += c.mask[p];
    }
  c.norm = float(std::max(sum, 1.0));
  std::vector<uint16_t> halves(3 * pixels);
  std::vector<float> planes(3 * pixels);
  for (int32_t d = 0; d < s.bank.n_donors; ++d) {
    pass.canonicalWindowF16(d, halves.data());
    le::simd::f16ToF32(halves.data(), planes.data(), planes.size());
    std::vector<uint8_t> rgb(3 * pixels);
    for (size_t p = 0; p < pixels; ++p)
      for (size_t ch = 0; ch < 3; ++ch) rgb[3 * p + ch] = uint8_t(std::nearbyint(planes[ch * pixels + p] * 255.f));
    c.donors.push_back(std::move(rgb));
  }
  return c;
}

void exactOurs(benchmark::State& state) {
  const ExactCase c = exactCase();
  std::vector<float> terms(c.donors.size());
  for (auto _ : state) {
    le::pool::parallelRange(c.donors.size(), 1, [&](size_t b, size_t e) {
      std::vector<float> distance(size_t(c.width)), product(size_t(c.width));
      for (size_t d = b; d < e; ++d) {
        float sum = 0.f;
        for (int32_t i = c.rowBegin; i < c.rowEnd; ++i) {
          const int32_t first = c.colBegin[size_t(i)], last = c.colEnd[size_t(i)];
          if (first >= last) continue;
          const size_t at = size_t(i) * c.width + size_t(first);
          sum = le::tessera::addExactRow(sum, c.live.data() + 3 * at, c.donors[d].data() + 3 * at, c.mask.data() + at,
                                         size_t(last - first), distance.data(), product.data());
        }
        terms[d] = sum / c.norm;
      }
    });
    benchmark::DoNotOptimize(terms.data());
  }
}

// Plain float: the mean absolute channel difference of the two pixels, weighted by the mask.
void exactFloat(benchmark::State& state) {
  const ExactCase c = exactCase();
  std::vector<float> terms(c.donors.size());
  for (auto _ : state) {
    le::pool::parallelRange(c.donors.size(), 1, [&](size_t b, size_t e) {
      for (size_t d = b; d < e; ++d) {
        float sum = 0.f;
        for (size_t p = size_t(c.rowBegin) * c.width; p < size_t(c.rowEnd) * c.width; ++p) {
          if (c.mask[p] == 0.f) continue;
          float diff = 0.f;
          for (size_t ch = 0; ch < 3; ++ch)
            diff += std::fabs(float(c.live[3 * p + ch]) / 255.f - float(c.donors[d][3 * p + ch]) / 255.f);
          sum += diff / 3.f * c.mask[p];
        }
        terms[d] = sum / c.norm;
      }
    });
    benchmark::DoNotOptimize(terms.data());
  }
}

void registerPass() {
  for (const auto& [name, donors] : {std::pair<const char*, int>{"demo256", 256}, {"bank1024", kLargeBank}}) {
    const std::string n = name;
    const auto add = [&](const std::string& full, void (*fn)(benchmark::State&, int)) {
      benchmark::RegisterBenchmark(full.c_str(), [fn, donors = donors](benchmark::State& st) { fn(st, donors); })
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    };
    add("teeth/retrieve/" + n + "/ours", passRetrieve);
    add("teeth/head/" + n + "/ours", headOurs);
    add("teeth/pass_frame/" + n + "/ours", passFrame);
    add("teeth/build/" + n + "/ours", passBuild);
  }
  benchmark::RegisterBenchmark("teeth/head/demo256/float", [](benchmark::State& st) { headFloat(st, 256); })
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  benchmark::RegisterBenchmark("teeth/exact/demo256/ours", exactOurs)->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RegisterBenchmark("teeth/exact/demo256/float", exactFloat)->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

int main(int argc, char** argv) {
  le::pool::setThreads(kThreads);
  registerPass();
  return le::bench::runWithRatios(
      argc, argv,
      {{"teeth/bank_decode", "teeth/bank_decode/ffmpeg_file/real_time", "teeth/bank_decode/ours/real_time"},
       {"teeth_exact", "teeth/exact/demo256/float/real_time", "teeth/exact/demo256/ours/real_time"},
       {"teeth_head", "teeth/head/demo256/float/real_time", "teeth/head/demo256/ours/real_time"}});
}
