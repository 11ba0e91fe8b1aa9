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

#include <sys/stat.h>
#include <unistd.h>

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

// The frames are sRGB-like RGB (BT.709 primaries); they are stored as BT.709 limited-range
// YUV, and the stream says so, so that players convert them back with the same matrix.
void tagColour(AVCodecContext* c) {
  c->color_range = AVCOL_RANGE_MPEG;
  c->colorspace = AVCOL_SPC_BT709;
  c->color_primaries = AVCOL_PRI_BT709;
  c->color_trc = AVCOL_TRC_BT709;
}

// swscale converts with BT.601 unless told otherwise: full-range RGB in, BT.709 limited out.
void convertAsTagged(SwsContext* sws) {
  const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
  const int unity = 1 << 16;
  if (sws_setColorspaceDetails(sws, bt709, 1, bt709, 0, 0, unity, unity) < 0)
    throw std::runtime_error("le-render: this swscale cannot convert RGB to BT.709 limited-range YUV");
}

}  // namespace

struct Mp4Writer::Impl {
  std::unique_ptr<AVFormatContext, FormatDeleter> format;
  std::unique_ptr<AVCodecContext, CodecDeleter> codec;
  std::unique_ptr<AVFrame, FrameDeleter> frame;
  std::unique_ptr<AVPacket, PacketDeleter> packet;
  std::unique_ptr<SwsContext, SwsDeleter> sws;
  AVStream* stream = nullptr;
  std::string path;
  int width = 0, height = 0;
  int64_t next = 0;
  bool finished = false;
  bool fileCreated = false;  // avio_open made (or truncated) path

  void openEncoder(int fps);
  void prepareConversion();
  void openFile();
  // See Mp4Writer::abandon.
  std::string abandon();

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
      // The muxer writes through a buffer and does not report its failed flushes; without this
      // check a full disk would surface only at the trailer, after encoding the whole run.
      check(format->pb->error, "write " + path);
    }
  }
};

void Mp4Writer::Impl::openEncoder(int fps) {
  const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
  if (!encoder) encoder = avcodec_find_encoder(AV_CODEC_ID_H264);
  if (!encoder) throw std::runtime_error("le-render: this FFmpeg has no H.264 encoder");
  codec.reset(avcodec_alloc_context3(encoder));
  if (!codec) throw std::runtime_error("le-render: out of memory");
  AVCodecContext* c = codec.get();
  c->width = width;
  c->height = height;
  c->time_base = AVRational{1, fps};
  c->framerate = AVRational{fps, 1};
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  tagColour(c);
  c->gop_size = fps;
  if (format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  av_opt_set(c->priv_data, "preset", "medium", 0);
  av_opt_set(c->priv_data, "crf", "18", 0);
  check(avcodec_open2(c, encoder, nullptr), "open " + std::string(encoder->name));

  stream = avformat_new_stream(format.get(), nullptr);
  if (!stream) throw std::runtime_error("le-render: out of memory");
  stream->time_base = c->time_base;
  check(avcodec_parameters_from_context(stream->codecpar, c), "stream parameters");
}

void Mp4Writer::Impl::prepareConversion() {
  frame.reset(av_frame_alloc());
  packet.reset(av_packet_alloc());
  if (!frame || !packet) throw std::runtime_error("le-render: out of memory");
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = width;
  frame->height = height;
  check(av_frame_get_buffer(frame.get(), 0), "frame buffer");
  sws.reset(sws_getContext(width, height, AV_PIX_FMT_RGB24, width, height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                           nullptr, nullptr));
  if (!sws) throw std::runtime_error("le-render: no RGB24 -> YUV420P conversion");
  convertAsTagged(sws.get());
}

// Opening the file comes last, so that a failure before it leaves no file at all.
void Mp4Writer::Impl::openFile() {
  check(avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE), "open " + path);
  fileCreated = true;
  try {
    check(avformat_write_header(format.get(), nullptr), "mp4 header");
  } catch (const std::exception& e) {
    throw std::runtime_error(e.what() + abandon());
  }
}

std::string Mp4Writer::Impl::abandon() {
  if (finished || !fileCreated) return "";
  fileCreated = false;
  if (format->pb) avio_closep(&format->pb);
  // Only a file of our own goes: a device or pipe given as the output stays.
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::unlink(path.c_str()) != 0) return "";
  return "; removed the unfinished " + path;
}

Mp4Writer::Mp4Writer(const std::string& path, int width, int height, int fps) : impl_(std::make_unique<Impl>()) {
  Impl& m = *impl_;
  if (width < 2 || height < 2 || width % 2 || height % 2)
    throw std::runtime_error("le-render: H.264 4:2:0 needs an even frame size, not " + std::to_string(width) + "x" +
                             std::to_string(height));
  m.width = width;
  m.height = height;
  m.path = path;
  // The encoder's closing statistics are info-level lines; the tool prints its own summary.
  av_log_set_level(AV_LOG_WARNING);
  AVFormatContext* format = nullptr;
  check(avformat_alloc_output_context2(&format, nullptr, "mp4", path.c_str()), "mp4 muxer");
  m.format.reset(format);
  m.openEncoder(fps);
  m.prepareConversion();
  m.openFile();
}

Mp4Writer::~Mp4Writer() { impl_->abandon(); }

void Mp4Writer::write(const uint8_t* rgb) {
  Impl& m = *impl_;
  if (m.finished) throw std::logic_error("le-render: frame written after the file was finished");
  check(av_frame_make_writable(m.frame.get()), "frame buffer");
  const uint8_t* planes[] = {rgb};
  const int strides[] = {3 * m.width};
  const int rows = sws_scale(m.sws.get(), planes, strides, 0, m.height, m.frame->data, m.frame->linesize);
  if (rows != m.height)
    throw std::runtime_error("le-render: RGB to YUV conversion gave " + std::to_string(rows) + " of " +
                             std::to_string(m.height) + " rows");
  m.frame->pts = m.next++;
  m.send(m.frame.get());
}

void Mp4Writer::finish() {
  Impl& m = *impl_;
  if (m.finished) return;
  m.send(nullptr);
  check(av_write_trailer(m.format.get()), "mp4 trailer");
  // Buffered bytes reach the file only here; a full disk shows up now, not at the last packet.
  check(avio_closep(&m.format->pb), "close " + m.path);
  m.finished = true;
}

std::string Mp4Writer::abandon() { return impl_->abandon(); }

const std::string& Mp4Writer::path() const { return impl_->path; }

const char* Mp4Writer::encoderName() const { return impl_->codec->codec->name; }

}  // namespace le_render
