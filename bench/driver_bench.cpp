// Frames per second of the driver cursor over a 1280x720 H.264 member (decode, convert to RGB24,
// serve), against FFmpeg decoding the same member and converting with sws_scale in this process,
// both with four frame-threaded decoder threads. Prints "RATIO driver/decode <ffmpeg/ours>" as the
// ratio of seconds per frame: above 1 the cursor is faster.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "driver/driver_cursor.h"
#include "ratio.h"

namespace {

namespace fs = std::filesystem;

constexpr int kW = 1280, kH = 720, kFrames = 250;
constexpr int kDecoderThreads = 4;  // what the cursor's source gives its software decoder

// The member, made once with the ffmpeg command from its moving test pattern.
const std::string& member() {
  static const std::string path = [] {
    const fs::path dir = fs::path(LE_BENCH_FIXTURES).parent_path() / "bench-media";
    const fs::path out = dir / "driver720_h264.mp4";
    if (!fs::exists(out)) {
      fs::create_directories(dir);
      const std::string part = (dir / "driver720_h264.part.mp4").string();
      const std::string cmd =
          "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=1280x720:"
          "rate=25 -frames:v " + std::to_string(kFrames) +
          " -c:v libx264 -preset veryfast -crf 20 -bf 3 -pix_fmt yuv420p -threads 2 " + part;
      if (std::system(cmd.c_str()) != 0) throw std::runtime_error("cannot make " + out.string());
      fs::rename(part, out);
    }
    return out.string();
  }();
  return path;
}

void BM_DriverCursor(benchmark::State& state) {
  setenv("LE_DRIVER_HWDEC", "0", 1);  // the software decoder, as the peer uses
  auto cursor = le::DriverCursor::over(le::driver::openMp4(member(), kFrames, kW, kH), 2, 11);
  int64_t frames = 0;
  uint64_t sum = 0;
  for (auto _ : state) {
    for (int i = 0; i < kFrames; ++i) {
      int si;
      const uint8_t* f = cursor->pull(&si);
      sum += f[(size_t(si) * 7919) % (size_t(kW) * kH * 3)];
    }
    frames += kFrames;
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(frames);
  state.counters["fps"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
  state.counters["resident_MiB"] = double(cursor->residentBytes()) / (1 << 20);
}

struct FormatClose {
  void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
};
struct CodecFree {
  void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
  void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct SwsFree {
  void operator()(SwsContext* p) const { sws_freeContext(p); }
};

// Plain FFmpeg: demux, decode, sws_scale to packed RGB24, one pass over the member per call.
class FfmpegPeer {
 public:
  FfmpegPeer() {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, member().c_str(), nullptr, nullptr) < 0) throw std::runtime_error("open");
    fmt_.reset(raw);
    avformat_find_stream_info(fmt_.get(), nullptr);
    stream_ = av_find_best_stream(fmt_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodecParameters* par = fmt_->streams[stream_]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    dec_.reset(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(dec_.get(), par);
    dec_->thread_count = kDecoderThreads;
    dec_->thread_type = FF_THREAD_FRAME;
    if (avcodec_open2(dec_.get(), codec, nullptr) < 0) throw std::runtime_error("decoder");
    sws_.reset(sws_getContext(kW, kH, AVPixelFormat(par->format), kW, kH, AV_PIX_FMT_RGB24,
                              SWS_BILINEAR, nullptr, nullptr, nullptr));
    pkt_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    rgb_.resize(size_t(kW) * kH * 3);
  }

  int pass() {
    int frames = 0;
    bool draining = false;
    for (;;) {
      int ret = avcodec_receive_frame(dec_.get(), frame_.get());
      if (ret == 0) {
        uint8_t* dst[1] = {rgb_.data()};
        const int stride[1] = {kW * 3};
        sws_scale(sws_.get(), frame_->data, frame_->linesize, 0, kH, dst, stride);
        benchmark::DoNotOptimize(rgb_.data());
        av_frame_unref(frame_.get());
        ++frames;
        continue;
      }
      if (ret == AVERROR_EOF || draining) break;
      if (av_read_frame(fmt_.get(), pkt_.get()) < 0) {
        draining = true;
        avcodec_send_packet(dec_.get(), nullptr);
        continue;
      }
      if (pkt_->stream_index == stream_) avcodec_send_packet(dec_.get(), pkt_.get());
      av_packet_unref(pkt_.get());
    }
    av_seek_frame(fmt_.get(), stream_, 0, AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(dec_.get());
    return frames;
  }

 private:
  std::unique_ptr<AVFormatContext, FormatClose> fmt_;
  std::unique_ptr<AVCodecContext, CodecFree> dec_;
  std::unique_ptr<SwsContext, SwsFree> sws_;
  std::unique_ptr<AVPacket, PacketFree> pkt_;
  std::unique_ptr<AVFrame, FrameFree> frame_;
  std::vector<uint8_t> rgb_;
  int stream_ = -1;
};

void BM_FfmpegSwsScale(benchmark::State& state) {
  FfmpegPeer peer;
  int64_t frames = 0;
  for (auto _ : state) {
    const int n = peer.pass();
    if (n != kFrames) state.SkipWithError("the peer lost frames");
    frames += n;
  }
  state.SetItemsProcessed(frames);
  state.counters["fps"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}

// Repetitions of the two are interleaved in random order (see main), so that load from other
// processes on the machine falls on both alike; the ratio compares their medians.
BENCHMARK(BM_DriverCursor)->Name("driver/decode/ours")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2)
    ->Repetitions(7);
BENCHMARK(BM_FfmpegSwsScale)->Name("driver/decode/ffmpeg")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2)
    ->Repetitions(7);

}  // namespace

int main(int argc, char** argv) {
  return le::bench::runWithMedianRatios(argc, argv,
                                        {{"driver/decode", "driver/decode/ffmpeg", "driver/decode/ours"}});
}
