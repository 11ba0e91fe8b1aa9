#include "mp4_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <stdexcept>

namespace le_render {
namespace {

struct FormatDeleter {
  void operator()(AVFormatContext* f) const {
    if (f->pb) avio_closep(&f->pb);
    avformat_free_context(f);
  }
};
struct CodecDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsDeleter {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};

void check(int rc, const std::string& what) {
  if (rc >= 0) return;
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(rc, text, sizeof text);
  throw std::runtime_error("le-render: " + what + ": " + text);
}

}  // namespace

struct Mp4Writer::Impl {
  std::unique_ptr<AVFormatContext, FormatDeleter> format;
  std::unique_ptr<AVCodecContext, CodecDeleter> codec;
  std::unique_ptr<AVFrame, FrameDeleter> frame;
  std::unique_ptr<AVPacket, PacketDeleter> packet;
  std::unique_ptr<SwsContext, SwsDeleter> sws;
  AVStream* stream = nullptr;
  int width = 0, height = 0;
  int64_t next = 0;
  bool finished = false;

  // Sends one frame (or the end of the stream with null) and writes every packet that comes out.
  void send(const AVFrame* f) {
    check(avcodec_send_frame(codec.get(), f), "encode");
    for (;;) {
      const int rc = avcodec_receive_packet(codec.get(), packet.get());
      if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
      check(rc, "encode");
      // libx264 leaves the duration unset; without it the MP4 muxer ends the track (and its edit
      // list) at the last packet's start, and players drop the final frame.
      if (packet->duration == 0) packet->duration = 1;
      av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
      packet->stream_index = stream->index;
      check(av_interleaved_write_frame(format.get(), packet.get()), "write");
    }
  }
};

Mp4Writer::Mp4Writer(const std::string& path, int width, int height, int fps) : impl_(std::make_unique<Impl>()) {
  Impl& m = *impl_;
  if (width < 2 || height < 2 || width % 2 || height % 2)
    throw std::runtime_error("le-render: H.264 4:2:0 needs an even frame size, not " + std::to_string(width) + "x" +
                             std::to_string(height));
  m.width = width;
  m.height = height;
  // The encoder's closing statistics are info-level lines; the tool prints its own summary.
  av_log_set_level(AV_LOG_WARNING);
  AVFormatContext* format = nullptr;
  check(avformat_alloc_output_context2(&format, nullptr, "mp4", path.c_str()), "mp4 muxer");
  m.format.reset(format);

  const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
  if (!encoder) encoder = avcodec_find_encoder(AV_CODEC_ID_H264);
  if (!encoder) throw std::runtime_error("le-render: this FFmpeg has no H.264 encoder");
  m.codec.reset(avcodec_alloc_context3(encoder));
  if (!m.codec) throw std::runtime_error("le-render: out of memory");
  AVCodecContext* c = m.codec.get();
  c->width = width;
  c->height = height;
  c->time_base = AVRational{1, fps};
  c->framerate = AVRational{fps, 1};
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->gop_size = fps;
  if (m.format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  av_opt_set(c->priv_data, "preset", "medium", 0);
  av_opt_set(c->priv_data, "crf", "18", 0);
  check(avcodec_open2(c, encoder, nullptr), "open " + std::string(encoder->name));

  m.stream = avformat_new_stream(m.format.get(), nullptr);
  if (!m.stream) throw std::runtime_error("le-render: out of memory");
  m.stream->time_base = c->time_base;
  check(avcodec_parameters_from_context(m.stream->codecpar, c), "stream parameters");
  check(avio_open(&m.format->pb, path.c_str(), AVIO_FLAG_WRITE), "open " + path);
  check(avformat_write_header(m.format.get(), nullptr), "mp4 header");

  m.frame.reset(av_frame_alloc());
  m.packet.reset(av_packet_alloc());
  if (!m.frame || !m.packet) throw std::runtime_error("le-render: out of memory");
  m.frame->format = AV_PIX_FMT_YUV420P;
  m.frame->width = width;
  m.frame->height = height;
  check(av_frame_get_buffer(m.frame.get(), 0), "frame buffer");
  m.sws.reset(sws_getContext(width, height, AV_PIX_FMT_RGB24, width, height, AV_PIX_FMT_YUV420P, SWS_BICUBIC,
                             nullptr, nullptr, nullptr));
  if (!m.sws) throw std::runtime_error("le-render: no RGB24 -> YUV420P conversion");
}

Mp4Writer::~Mp4Writer() {
  try {
    finish();
  } catch (const std::exception&) {
    // The destructor runs on the error path too; the first error is the one already reported.
  }
}

void Mp4Writer::write(const uint8_t* rgb) {
  Impl& m = *impl_;
  check(av_frame_make_writable(m.frame.get()), "frame buffer");
  const uint8_t* planes[] = {rgb};
  const int strides[] = {3 * m.width};
  sws_scale(m.sws.get(), planes, strides, 0, m.height, m.frame->data, m.frame->linesize);
  m.frame->pts = m.next++;
  m.send(m.frame.get());
}

void Mp4Writer::finish() {
  Impl& m = *impl_;
  if (m.finished) return;
  m.finished = true;
  m.send(nullptr);
  check(av_write_trailer(m.format.get()), "mp4 trailer");
}

const char* Mp4Writer::encoderName() const { return impl_->codec->codec->name; }

}  // namespace le_render
