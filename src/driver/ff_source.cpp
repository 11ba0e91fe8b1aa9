#include "driver/ff_source.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include "core/log.h"
#include "driver/movie_decoder_build.h"
#include "simd/half.h"
#include "simd/simd.h"

namespace le::driver {
namespace {

constexpr const char* kHwDecoder = "h264_cuvid";

std::string avErrorText(int err) {
  char buf[64];
  av_strerror(err, buf, sizeof buf);
  return buf;
}

std::string sizeText(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

uint8_t clamp255(int v) { return uint8_t(std::clamp(v, 0, 255)); }

}  // namespace

void FfSource::FormatClose::operator()(AVFormatContext* p) const { avformat_close_input(&p); }
void FfSource::CodecFree::operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
void FfSource::PacketFree::operator()(AVPacket* p) const { av_packet_free(&p); }
void FfSource::FrameFree::operator()(AVFrame* p) const { av_frame_free(&p); }

FfSource::FfSource(Kind kind, std::string path, int NT, int W, int H)
    : kind_(kind), path_(std::move(path)), NT_(NT), W_(W), H_(H) {
  if (kind_ == kPrior) {
    for (int i = 0; i < 256; ++i) levelToF16_[i] = le::f32ToF16(float(i) / 255.0f);
  }
  open();
}

FfSource::~FfSource() = default;

int64_t FfSource::frameBytes() const {
  return int64_t(W_) * H_ * 3 * (kind_ == kPrior ? 2 : 1);
}

int64_t FfSource::residentBytes() const {
  const int64_t picture = kind_ == kPrior ? int64_t(W_) * H_ * 3 : int64_t(W_) * H_ * 3 / 2;
  const int threads = decoderThreads_.load(std::memory_order_relaxed);
  const int64_t pictures = threads > 0 ? threads + 5 : 6;
  return picture * pictures + largestPacket_.load(std::memory_order_relaxed);
}

void FfSource::close() {
  frame_.reset();
  pkt_.reset();
  dec_.reset();
  fmt_.reset();
  stream_ = -1;
  packetPending_ = false;
}

void FfSource::open() {
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path_.c_str(), nullptr, nullptr) < 0) {
    throw std::runtime_error("le_driver: " + path_ + " is not a readable container");
  }
  fmt_.reset(raw);
  if (avformat_find_stream_info(fmt_.get(), nullptr) < 0) {
    throw std::runtime_error("le_driver: " + path_ + " carries no stream info");
  }
  stream_ = -1;
  for (unsigned i = 0; i < fmt_->nb_streams; ++i) {
    if (fmt_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      stream_ = int(i);
      break;
    }
  }
  if (stream_ < 0) throw std::runtime_error("le_driver: " + path_ + " has no video stream");

  const AVStream* st = fmt_->streams[stream_];
  const AVCodecParameters* par = st->codecpar;
  if (par->width != W_ || par->height != H_) {
    throw std::runtime_error("le_driver: " + path_ + " is " + sizeText(par->width, par->height) +
                             ", the manifest says " + sizeText(W_, H_) +
                             " — refusing to rescale the driver");
  }
  if (st->nb_frames > 0 && st->nb_frames != NT_) {
    throw std::runtime_error("le_driver: " + path_ + " carries " + std::to_string(st->nb_frames) +
                             " frames, the manifest says NT=" + std::to_string(NT_) +
                             " — member/manifest mismatch, refusing");
  }

  const char* hwdec = std::getenv("LE_DRIVER_HWDEC");
  if (hwdec && std::strcmp(hwdec, "0") == 0) {
    le::logPrintf("[le-driver] LE_DRIVER_HWDEC=0 — %s not attempted; the software decoder is the "
                  "one decoder on this fleet (same samples)\n",
                  kHwDecoder);
    openSoftwareDecoder();
  } else if (!(kind_ == kDriver && par->codec_id == AV_CODEC_ID_H264 && openHardwareDecoder())) {
    openSoftwareDecoder();
  }

  pkt_.reset(av_packet_alloc());
  frame_.reset(av_frame_alloc());
  if (!pkt_ || !frame_) throw std::runtime_error("le_driver: out of memory");
  draining_ = false;
  packetPending_ = false;
  delivered_ = 0;
  decoderThreads_.store(dec_->thread_count, std::memory_order_relaxed);
  name_ = std::string(kind_ == kPrior ? "hevc444/libavcodec " : "mp4/libavcodec ") +
          libavcodecVersion() + " " + dec_->codec->name;
}

bool FfSource::openHardwareDecoder() {
  const AVCodec* codec = avcodec_find_decoder_by_name(kHwDecoder);
  if (!codec) return false;
  std::unique_ptr<AVCodecContext, CodecFree> ctx(avcodec_alloc_context3(codec));
  if (!ctx) throw std::runtime_error("le_driver: avcodec_alloc_context3 failed");
  if (avcodec_parameters_to_context(ctx.get(), fmt_->streams[stream_]->codecpar) < 0) {
    throw std::runtime_error("le_driver: avcodec_parameters_to_context failed");
  }
  ctx->thread_count = 1;
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) {
    le::logPrintf("[le-driver] %s refused %s — falling back to the software h264 decoder (same "
                  "samples, more CPU)\n",
                  kHwDecoder, path_.c_str());
    return false;
  }
  dec_ = std::move(ctx);
  return true;
}

void FfSource::openSoftwareDecoder() {
  const AVCodecParameters* par = fmt_->streams[stream_]->codecpar;
  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  if (!codec) {
    throw std::runtime_error("le_driver: no decoder for " + path_ + " (codec id " +
                             std::to_string(int(par->codec_id)) + ")");
  }
  std::unique_ptr<AVCodecContext, CodecFree> ctx(avcodec_alloc_context3(codec));
  if (!ctx) throw std::runtime_error("le_driver: avcodec_alloc_context3 failed");
  if (avcodec_parameters_to_context(ctx.get(), par) < 0) {
    throw std::runtime_error("le_driver: avcodec_parameters_to_context failed");
  }
  ctx->thread_count = 4;
  ctx->thread_type = FF_THREAD_FRAME;
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) {
    throw std::runtime_error("le_driver: could not open the decoder for " + path_);
  }
  dec_ = std::move(ctx);
}

bool FfSource::next(uint8_t* dst) { return decodeNext(dst); }

bool FfSource::decodeNext(uint8_t* dst) {
  for (;;) {
    int ret = avcodec_receive_frame(dec_.get(), frame_.get());
    if (ret == 0) {
      if (frame_->width != W_ || frame_->height != H_) {
        av_frame_unref(frame_.get());
        throw std::runtime_error("le_driver: " + path_ + " changed size mid-stream — refusing");
      }
      if (dst) {
        try {
          kind_ == kPrior ? convertPrior(dst) : convertDriver(dst);
        } catch (...) {
          av_frame_unref(frame_.get());
          throw;
        }
      }
      av_frame_unref(frame_.get());
      ++delivered_;
      return true;
    }
    if (ret == AVERROR_EOF) return false;
    if (ret != AVERROR(EAGAIN)) {
      throw std::runtime_error("le_driver: " + path_ + " decode fault at frame " +
                               std::to_string(delivered_) + " (" + avErrorText(ret) + ")");
    }
    if (draining_) return false;
    if (!packetPending_) {
      ret = av_read_frame(fmt_.get(), pkt_.get());
      if (ret == AVERROR_EOF) {
        draining_ = true;
        avcodec_send_packet(dec_.get(), nullptr);
        continue;
      }
      if (ret < 0) {
        throw std::runtime_error("le_driver: " + path_ + " read fault (" + avErrorText(ret) + ")");
      }
      if (pkt_->stream_index != stream_) {
        av_packet_unref(pkt_.get());
        continue;
      }
      const int32_t seen = largestPacket_.load(std::memory_order_relaxed);
      if (pkt_->size > seen) largestPacket_.store(pkt_->size, std::memory_order_relaxed);
    }
    // A packet the decoder cannot take yet stays pending and is offered again after the next
    // receive, so that no compressed frame is ever dropped.
    ret = avcodec_send_packet(dec_.get(), pkt_.get());
    packetPending_ = ret == AVERROR(EAGAIN);
    if (!packetPending_) av_packet_unref(pkt_.get());
    if (ret < 0 && ret != AVERROR(EAGAIN)) {
      throw std::runtime_error("le_driver: " + path_ + " packet refused (" + avErrorText(ret) +
                               ")");
    }
  }
}

void FfSource::convertDriver(uint8_t* dst) const {
  const AVFrame* f = frame_.get();
  const size_t rowBytes = size_t(W_) * 3;
  switch (f->format) {
    case AV_PIX_FMT_YUV420P:
      for (int y = 0; y < H_; ++y) {
        le::simd::yuv420RowToRgb24(f->data[0] + ptrdiff_t(y) * f->linesize[0],
                                   f->data[1] + ptrdiff_t(y / 2) * f->linesize[1],
                                   f->data[2] + ptrdiff_t(y / 2) * f->linesize[2], W_, 1,
                                   dst + y * rowBytes);
      }
      return;
    case AV_PIX_FMT_NV12:
      for (int y = 0; y < H_; ++y) {
        const uint8_t* uv = f->data[1] + ptrdiff_t(y / 2) * f->linesize[1];
        le::simd::yuv420RowToRgb24(f->data[0] + ptrdiff_t(y) * f->linesize[0], uv, uv + 1, W_, 2,
                                   dst + y * rowBytes);
      }
      return;
    default: {
      const char* fmt = av_get_pix_fmt_name(AVPixelFormat(f->format));
      throw std::runtime_error("le_driver: " + path_ + " decoded to " + (fmt ? fmt : "?") +
                               ", not the 4:2:0 layout the canvas conversion is written for "
                               "(yuv420p / nv12) — refusing rather than pasting onto a different "
                               "pixel domain");
    }
  }
}

void FfSource::convertPrior(uint8_t* dst) const {
  const AVFrame* f = frame_.get();
  if (f->format != AV_PIX_FMT_YUV444P) {
    const char* fmt = av_get_pix_fmt_name(AVPixelFormat(f->format));
    throw std::runtime_error("le_driver: " + path_ + " decoded to " + (fmt ? fmt : "?") +
                             ", not the yuv444p a warp prior is authored in — a subsampled prior "
                             "is a different mouth, refusing");
  }
  const size_t plane = size_t(W_) * H_;
  uint16_t* r = reinterpret_cast<uint16_t*>(dst);
  uint16_t* g = r + plane;
  uint16_t* b = g + plane;
  for (int y = 0; y < H_; ++y) {
    const uint8_t* ys = f->data[0] + ptrdiff_t(y) * f->linesize[0];
    const uint8_t* us = f->data[1] + ptrdiff_t(y) * f->linesize[1];
    const uint8_t* vs = f->data[2] + ptrdiff_t(y) * f->linesize[2];
    const size_t row = size_t(y) * W_;
    for (int x = 0; x < W_; ++x) {
      const int t = 76312 * ys[x] - 1220992;
      const int u = us[x] - 128, v = vs[x] - 128;
      r[row + x] = levelToF16_[clamp255((t + 104600 * v + 32768) >> 16)];
      g[row + x] = levelToF16_[clamp255((t - 25672 * u - 53280 * v + 32768) >> 16)];
      b[row + x] = levelToF16_[clamp255((t + 132200 * u + 32768) >> 16)];
    }
  }
}

void FfSource::rewind() {
  const AVStream* st = fmt_->streams[stream_];
  const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
  if (av_seek_frame(fmt_.get(), stream_, start, AVSEEK_FLAG_BACKWARD) >= 0) {
    avcodec_flush_buffers(dec_.get());
    if (packetPending_) av_packet_unref(pkt_.get());
    packetPending_ = false;
  } else {
    close();
    open();
  }
  draining_ = false;
  delivered_ = 0;
}

void FfSource::seek(int i) {
  if (i < 0 || i >= NT_) throw std::runtime_error("le_driver: seek outside the member");
  if (i < delivered_) rewind();
  while (delivered_ < i) {
    if (!decodeNext(nullptr)) {
      throw std::runtime_error("le_driver: " + path_ + " ended at frame " +
                               std::to_string(delivered_) + " while seeking to " +
                               std::to_string(i));
    }
  }
}

std::unique_ptr<Source> openMp4(const std::string& path, int NT, int W, int H) {
  return std::make_unique<FfSource>(FfSource::kDriver, path, NT, W, H);
}

std::unique_ptr<Source> openPriorHevc(const std::string& path, int NT, int side) {
  return std::make_unique<FfSource>(FfSource::kPrior, path, NT, side, side);
}

}  // namespace le::driver
