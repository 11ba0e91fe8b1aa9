// Frames per second served by the driver cursor.
//
// JPEG members at 1280x720 and 1920x1080 (4:4:4, quality 2, the baker's encoder settings): the
// cursor over the library's JPEG directory source (libjpeg-turbo decoding into the ring slot)
// against the same cursor over a source that decodes with stb_image, reading each file the same way
// and copying stb's image into the slot. Prints "RATIO driver/jpeg_720 <stb/ours>" and the same
// for jpeg_1080.
//
// A 1280x720 H.264 member: the cursor (decode, convert to RGB24 in the ring slot, serve) against
// FFmpeg decoding the same member and converting with sws_scale in this process, both with the
// same frame-threaded decoder threads. Prints "RATIO driver/mp4 <ffmpeg/ours>".
//
// Ratios are of real seconds per frame: above 1 the cursor is faster. The CPU column is the
// process's CPU time (every thread's), which load from other processes on the machine disturbs
// less than the real time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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

#include "core/ff_handles.h"
#include "driver/driver_cursor.h"
#include "driver/frame_file.h"
#include "driver/jpg_dir_source.h"
#include "driver/load_image.h"
#include "ratio.h"

namespace {

namespace fs = std::filesystem;

constexpr int kMovieW = 1280, kMovieH = 720, kMovieFrames = 250;
constexpr int kJpegFrames = 50;
constexpr int kDecoderThreads = 4;  // what the cursor's source gives its software decoder
constexpr int kLookAhead = 2, kHistory = 11;

fs::path mediaDir() { return fs::path(LE_BENCH_FIXTURES).parent_path() / "bench-media"; }

void runOrThrow(const std::string& cmd, const fs::path& made) {
  if (std::system(cmd.c_str()) != 0) throw std::runtime_error("cannot make " + made.string());
}

const std::string kFfmpeg = "ffmpeg -nostdin -hide_banner -loglevel error -y ";

// The movie member, made once with the ffmpeg command from its moving test pattern.
const std::string& movie() {
  static const std::string path = [] {
    const fs::path out = mediaDir() / "driver720_h264.mp4";
    if (!fs::exists(out)) {
      fs::create_directories(mediaDir());
      const std::string part = (mediaDir() / "driver720_h264.part.mp4").string();
      runOrThrow(kFfmpeg + "-f lavfi -i testsrc2=size=1280x720:rate=25 -frames:v " + std::to_string(kMovieFrames) +
                     " -c:v libx264 -preset veryfast -crf 20 -bf 3 -pix_fmt yuv420p -threads 2 " + part,
                 out);
      fs::rename(part, out);
    }
    return out.string();
  }();
  return path;
}

// A JPEG member of w x h frames, made once: the moving test pattern encoded as the baker encodes
// a driver (mjpeg, yuvj444p, -q:v 2).
std::string jpegDir(int w, int h) {
  const std::string size = std::to_string(w) + "x" + std::to_string(h);
  const fs::path dir = mediaDir() / ("driver" + size + "_jpg");
  if (!fs::exists(dir / "complete")) {
    fs::create_directories(dir);
    runOrThrow(kFfmpeg + "-f lavfi -i testsrc2=size=" + size + ":rate=25 -frames:v " + std::to_string(kJpegFrames) +
                   " -c:v mjpeg -pix_fmt yuvj444p -q:v 2 -f image2 -start_number 0 " + (dir / "frame_%06d.jpg").string(),
               dir);
    std::FILE* stamp = std::fopen((dir / "complete").c_str(), "w");
    if (stamp) std::fclose(stamp);
  }
  return dir.string();
}

// The peer of the JPEG source: the same directory and file reads, decoded with stb_image and
// copied from stb's image into the slot.
class StbDirSource final : public le::driver::Source {
 public:
  StbDirSource(std::string dir, int NT, int W, int H) : dir_(std::move(dir)), NT_(NT), W_(W), H_(H) {}
  int NT() const override { return NT_; }
  int W() const override { return W_; }
  int H() const override { return H_; }
  bool next(uint8_t* dst) override {
    if (next_ >= NT_) return false;
    const std::string path = le::driver::JpgDirSource::framePath(dir_, next_);
    le::driver::readFrameFile(path, file_);
    const le::ImageRGB img = le::decodeImageRGB(file_.data(), file_.size(), path);
    le::driver::JpgDirSource::requireFrameSize(path, img.w, img.h, W_, H_);
    std::memcpy(dst, img.rgb.get(), size_t(frameBytes()));
    ++next_;
    return true;
  }
  void rewind() override { next_ = 0; }
  void seek(int i) override { next_ = i; }
  std::string name() const override { return "jpg/stb"; }
  int64_t residentBytes() const override { return int64_t(file_.capacity()); }

 private:
  std::string dir_;
  int NT_, W_, H_;
  int next_ = 0;
  std::vector<uint8_t> file_;
};

// Pulls frames through the cursor without copying, reading one byte of each so that nothing is
// optimised away; `frames` per iteration. A first untimed pass touches every ring buffer, as a
// running session has, and as the FFmpeg peer's output buffer is before its first frame.
void serve(benchmark::State& state, le::DriverCursor& cursor, int frames) {
  int64_t served = 0;
  uint64_t sum = 0;
  const size_t bytes = size_t(cursor.frameBytes());
  const auto pass = [&] {
    for (int i = 0; i < frames; ++i) {
      int si;
      const uint8_t* f = cursor.pull(&si);
      sum += f[(size_t(si) * 7919) % bytes];
    }
  };
  pass();
  for (auto _ : state) {
    pass();
    served += frames;
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(served);
  state.counters["fps"] = benchmark::Counter(double(served), benchmark::Counter::kIsRate);
  state.counters["resident_MiB"] = double(cursor.residentBytes()) / (1 << 20);
}

template <bool kStb>
void BM_Jpeg(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const std::string dir = jpegDir(w, h);
  std::unique_ptr<le::driver::Source> src;
  if (kStb) src = std::make_unique<StbDirSource>(dir, kJpegFrames, w, h);
  else src = le::driver::openJpgDir(dir, kJpegFrames, w, h);
  auto cursor = le::DriverCursor::over(std::move(src), kLookAhead, kHistory);
  serve(state, *cursor, kJpegFrames);
}

void BM_MovieCursor(benchmark::State& state) {
  setenv("LE_DRIVER_HWDEC", "0", 1);  // the software decoder, as the peer uses
  auto cursor = le::DriverCursor::over(le::driver::openMp4(movie(), kMovieFrames, kMovieW, kMovieH), kLookAhead,
                                       kHistory);
  serve(state, *cursor, kMovieFrames);
}


// Plain FFmpeg: demux, decode, sws_scale to packed RGB24, one pass over the member per call.
class FfmpegPeer {
 public:
  FfmpegPeer() {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, movie().c_str(), nullptr, nullptr) < 0) throw std::runtime_error("open");
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
    sws_.reset(sws_getContext(kMovieW, kMovieH, AVPixelFormat(par->format), kMovieW, kMovieH, AV_PIX_FMT_RGB24,
                              SWS_BILINEAR, nullptr, nullptr, nullptr));
    pkt_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    rgb_.resize(size_t(kMovieW) * kMovieH * 3);
  }

  int pass() {
    int frames = 0;
    bool draining = false;
    for (;;) {
      int ret = avcodec_receive_frame(dec_.get(), frame_.get());
      if (ret == 0) {
        uint8_t* dst[1] = {rgb_.data()};
        const int stride[1] = {kMovieW * 3};
        sws_scale(sws_.get(), frame_->data, frame_->linesize, 0, kMovieH, dst, stride);
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
  le::ff::InputPtr fmt_;
  le::ff::CodecPtr dec_;
  le::ff::SwsPtr sws_;
  le::ff::PacketPtr pkt_;
  le::ff::FramePtr frame_;
  std::vector<uint8_t> rgb_;
  int stream_ = -1;
};

void BM_MovieFfmpeg(benchmark::State& state) {
  FfmpegPeer peer;
  peer.pass();  // untimed, like the cursor's first pass
  int64_t frames = 0;
  for (auto _ : state) {
    const int n = peer.pass();
    if (n != kMovieFrames) state.SkipWithError("the peer lost frames");
    frames += n;
  }
  state.SetItemsProcessed(frames);
  state.counters["fps"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}

// Repetitions are interleaved in random order (see main), so that load from other processes on
// the machine falls on ours and the peer alike; the ratios compare medians.
#define LE_DRIVER_BENCH(fn, name, iterations) \
  BENCHMARK(fn)->Name(name)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(iterations)->Repetitions(7)

LE_DRIVER_BENCH(BM_Jpeg<false>, "driver/jpeg_720/ours", 2)->Args({1280, 720});
LE_DRIVER_BENCH(BM_Jpeg<true>, "driver/jpeg_720/stb", 2)->Args({1280, 720});
LE_DRIVER_BENCH(BM_Jpeg<false>, "driver/jpeg_1080/ours", 1)->Args({1920, 1080});
LE_DRIVER_BENCH(BM_Jpeg<true>, "driver/jpeg_1080/stb", 1)->Args({1920, 1080});
LE_DRIVER_BENCH(BM_MovieCursor, "driver/mp4/ours", 2);
LE_DRIVER_BENCH(BM_MovieFfmpeg, "driver/mp4/ffmpeg", 2);

}  // namespace

int main(int argc, char** argv) {
  return le::bench::runWithMedianRatios(argc, argv,
                                        {{"driver/jpeg_720", "driver/jpeg_720/stb", "driver/jpeg_720/ours"},
                                         {"driver/jpeg_1080", "driver/jpeg_1080/stb", "driver/jpeg_1080/ours"},
                                         {"driver/mp4", "driver/mp4/ffmpeg", "driver/mp4/ours"}});
}
