// Donors per second out of the demo bank track (256 donors of the demo preset's band, lossless RGB
// H.264), decoded into donor order.
//
// Ours: le::tessera::decodeBankTrack over the member's bytes in memory. The peer: FFmpeg reading
// the same track from its file path, decoding and converting each frame with sws_scale into a
// track-order buffer, then copying the frames into donor order, as a host that decodes the track
// itself would. Prints "RATIO teeth/bank_decode <peer/ours>"; above 1 ours is faster.
#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
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

#include "ratio.h"
#include "tessera/bank_decoder.h"
#include "tessera/bank_sidecar.h"
#include "tessera/json_reader.h"
#include "tessera/teeth_members.h"

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

}  // namespace

int main(int argc, char** argv) {
  return le::bench::runWithRatios(argc, argv, {{"teeth/bank_decode", "teeth/bank_decode/ffmpeg_file/real_time",
                                                "teeth/bank_decode/ours/real_time"}});
}
