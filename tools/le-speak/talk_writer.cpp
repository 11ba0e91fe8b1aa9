#include "talk_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

namespace le_speak {
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
struct SwrDeleter {
  void operator()(SwrContext* s) const { swr_free(&s); }
};

using Codec = std::unique_ptr<AVCodecContext, CodecDeleter>;
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;

void check(int rc, const std::string& what) {
  if (rc >= 0) return;
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(rc, text, sizeof text);
  throw std::runtime_error("le-speak: " + what + ": " + text);
}

template <class T>
T* required(T* p) {
  if (!p) throw std::runtime_error("le-speak: out of memory");
  return p;
}

// libx264 first, then any other H.264 encoder, and FFmpeg's own mpeg4 only when there is none.
const AVCodec* videoEncoderFor() {
  const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
  if (!encoder) encoder = avcodec_find_encoder(AV_CODEC_ID_H264);
  if (encoder) return encoder;
  encoder = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  if (!encoder) throw std::runtime_error("le-speak: this FFmpeg has neither an H.264 nor an MPEG-4 encoder");
  std::fprintf(stderr, "le-speak: warning: this FFmpeg has no H.264 encoder; writing MPEG-4 Part 2 video instead\n");
  return encoder;
}

// The frames are sRGB-like RGB (BT.709 primaries), stored as BT.709 limited-range YUV and tagged
// so, and converted with that matrix (swscale would take BT.601 unless told).
void tagColour(AVCodecContext* c, SwsContext* sws) {
  c->color_range = AVCOL_RANGE_MPEG;
  c->colorspace = AVCOL_SPC_BT709;
  c->color_primaries = AVCOL_PRI_BT709;
  c->color_trc = AVCOL_TRC_BT709;
  const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
  if (sws_setColorspaceDetails(sws, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16) < 0)
    throw std::runtime_error("le-speak: this swscale cannot convert RGB to BT.709 limited-range YUV");
}

}  // namespace

struct TalkWriter::Impl {
  std::unique_ptr<AVFormatContext, FormatDeleter> format;
  Codec video, audio;
  Frame videoFrame, audioFrame;
  std::unique_ptr<AVPacket, PacketDeleter> packet;
  std::unique_ptr<SwsContext, SwsDeleter> sws;
  std::unique_ptr<SwrContext, SwrDeleter> swr;
  AVStream* videoStream = nullptr;
  AVStream* audioStream = nullptr;
  std::vector<int16_t> pendingAudio;  // samples not yet making up a whole encoder frame
  std::string path;
  int width = 0, height = 0;
  int64_t videoPts = 0, audioPts = 0;
  bool finished = false, fileCreated = false;

  void openVideo(int fps);
  void openAudio(int rate);
  void openFile();
  void encodeAudio(const int16_t* samples, int count);
  void send(AVCodecContext* codec, AVStream* stream, const AVFrame* frame);
  std::string abandon();
};

void TalkWriter::Impl::openVideo(int fps) {
  const AVCodec* encoder = videoEncoderFor();
  video.reset(required(avcodec_alloc_context3(encoder)));
  AVCodecContext* c = video.get();
  c->width = width;
  c->height = height;
  c->time_base = AVRational{1, fps};
  c->framerate = AVRational{fps, 1};
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->gop_size = fps;
  if (format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  // veryfast: the encoder shares the machine with the pipeline it is recording in real time.
  av_opt_set(c->priv_data, "preset", "veryfast", 0);
  av_opt_set(c->priv_data, "crf", "20", 0);
  if (encoder->id == AV_CODEC_ID_MPEG4) {
    c->flags |= AV_CODEC_FLAG_QSCALE;
    c->global_quality = FF_QP2LAMBDA * 4;
  }
  sws.reset(sws_getContext(width, height, AV_PIX_FMT_RGB24, width, height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                           nullptr, nullptr));
  if (!sws) throw std::runtime_error("le-speak: no RGB24 -> YUV420P conversion");
  tagColour(c, sws.get());
  check(avcodec_open2(c, encoder, nullptr), "open " + std::string(encoder->name));
  videoStream = required(avformat_new_stream(format.get(), nullptr));
  videoStream->time_base = c->time_base;
  check(avcodec_parameters_from_context(videoStream->codecpar, c), "video stream parameters");

  videoFrame.reset(required(av_frame_alloc()));
  videoFrame->format = AV_PIX_FMT_YUV420P;
  videoFrame->width = width;
  videoFrame->height = height;
  check(av_frame_get_buffer(videoFrame.get(), 0), "video frame buffer");
}

void TalkWriter::Impl::openAudio(int rate) {
  const AVCodec* encoder = avcodec_find_encoder_by_name("aac");
  if (!encoder) throw std::runtime_error("le-speak: this FFmpeg has no aac encoder");
  audio.reset(required(avcodec_alloc_context3(encoder)));
  AVCodecContext* c = audio.get();
  c->sample_rate = rate;
  c->sample_fmt = encoder->sample_fmts ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
  c->bit_rate = 64000;
  c->time_base = AVRational{1, rate};
  AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
  check(av_channel_layout_copy(&c->ch_layout, &mono), "audio layout");
  if (format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  check(avcodec_open2(c, encoder, nullptr), "open aac");
  audioStream = required(avformat_new_stream(format.get(), nullptr));
  audioStream->time_base = c->time_base;
  check(avcodec_parameters_from_context(audioStream->codecpar, c), "audio stream parameters");

  SwrContext* s = nullptr;
  check(swr_alloc_set_opts2(&s, &c->ch_layout, c->sample_fmt, rate, &mono, AV_SAMPLE_FMT_S16, rate, 0, nullptr),
        "audio conversion");
  swr.reset(s);
  check(swr_init(s), "audio conversion");
  audioFrame.reset(required(av_frame_alloc()));
}

// Opening the file comes last, so that a failure before it leaves no file at all.
void TalkWriter::Impl::openFile() {
  packet.reset(required(av_packet_alloc()));
  check(avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE), "open " + path);
  fileCreated = true;
  try {
    check(avformat_write_header(format.get(), nullptr), "mp4 header");
  } catch (const std::exception& e) {
    throw std::runtime_error(e.what() + abandon());
  }
}

// Sends one frame (or the end of the stream with null) and writes every packet that comes out.
void TalkWriter::Impl::send(AVCodecContext* codec, AVStream* stream, const AVFrame* frame) {
  check(avcodec_send_frame(codec, frame), "encode");
  for (;;) {
    const int rc = avcodec_receive_packet(codec, packet.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
    check(rc, "encode");
    // libx264 leaves the duration unset; without it the muxer ends the track at the last
    // packet's start, and players drop the final frame.
    if (codec == video.get() && packet->duration == 0) packet->duration = 1;
    av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
    packet->stream_index = stream->index;
    check(av_interleaved_write_frame(format.get(), packet.get()), "write");
    check(format->pb->error, "write " + path);
  }
}

// Encodes count samples as one audio frame (count is the encoder's frame size, or less for the
// last frame of an encoder that takes a short one).
void TalkWriter::Impl::encodeAudio(const int16_t* samples, int count) {
  AVFrame* f = audioFrame.get();
  av_frame_unref(f);
  f->nb_samples = count;
  f->format = audio->sample_fmt;
  f->sample_rate = audio->sample_rate;
  check(av_channel_layout_copy(&f->ch_layout, &audio->ch_layout), "audio layout");
  check(av_frame_get_buffer(f, 0), "audio frame buffer");
  const uint8_t* in[] = {reinterpret_cast<const uint8_t*>(samples)};
  const int got = swr_convert(swr.get(), f->extended_data, count, in, count);
  if (got != count) throw std::runtime_error("le-speak: audio sample conversion gave " + std::to_string(got) +
                                             " of " + std::to_string(count) + " samples");
  f->pts = audioPts;
  audioPts += count;
  send(audio.get(), audioStream, f);
}

std::string TalkWriter::Impl::abandon() {
  if (finished || !fileCreated) return "";
  fileCreated = false;
  // The encoders' notes about the packets they are left holding would follow the tool's one line.
  av_log_set_level(AV_LOG_ERROR);
  if (format->pb) avio_closep(&format->pb);
  // Only a file of our own goes: a device or pipe given as the output stays.
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::unlink(path.c_str()) != 0) return "";
  return "; removed the unfinished " + path;
}

TalkWriter::TalkWriter(const std::string& path, int width, int height, int fps, int audioRate)
    : impl_(std::make_unique<Impl>()) {
  Impl& m = *impl_;
  if (width < 2 || height < 2 || width % 2 || height % 2)
    throw std::runtime_error("le-speak: 4:2:0 video needs an even frame size, not " + std::to_string(width) + "x" +
                             std::to_string(height));
  m.width = width;
  m.height = height;
  m.path = path;
  // The encoders' closing statistics are info-level lines; the tool prints its own summary.
  av_log_set_level(AV_LOG_WARNING);
  AVFormatContext* format = nullptr;
  check(avformat_alloc_output_context2(&format, nullptr, "mp4", path.c_str()), "mp4 muxer");
  m.format.reset(format);
  m.openVideo(fps);
  m.openAudio(audioRate);
  m.openFile();
}

TalkWriter::~TalkWriter() { impl_->abandon(); }

void TalkWriter::write(const uint8_t* rgb, const int16_t* audio, int audioCount) {
  Impl& m = *impl_;
  if (m.finished) throw std::logic_error("le-speak: frame written after the file was finished");
  check(av_frame_make_writable(m.videoFrame.get()), "video frame buffer");
  const uint8_t* planes[] = {rgb};
  const int strides[] = {3 * m.width};
  if (sws_scale(m.sws.get(), planes, strides, 0, m.height, m.videoFrame->data, m.videoFrame->linesize) != m.height)
    throw std::runtime_error("le-speak: RGB to YUV conversion failed");
  m.videoFrame->pts = m.videoPts++;
  m.send(m.video.get(), m.videoStream, m.videoFrame.get());

  m.pendingAudio.insert(m.pendingAudio.end(), audio, audio + audioCount);
  const size_t frameSize = size_t(m.audio->frame_size);
  size_t used = 0;
  for (; m.pendingAudio.size() - used >= frameSize; used += frameSize)
    m.encodeAudio(m.pendingAudio.data() + used, int(frameSize));
  m.pendingAudio.erase(m.pendingAudio.begin(), m.pendingAudio.begin() + long(used));
}

void TalkWriter::finish() {
  Impl& m = *impl_;
  if (m.finished) return;
  if (!m.pendingAudio.empty()) {
    // An encoder that cannot take a short last frame gets it padded with silence.
    if (!(m.audio->codec->capabilities & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE)))
      m.pendingAudio.resize(size_t(m.audio->frame_size), 0);
    m.encodeAudio(m.pendingAudio.data(), int(m.pendingAudio.size()));
    m.pendingAudio.clear();
  }
  m.send(m.video.get(), m.videoStream, nullptr);
  m.send(m.audio.get(), m.audioStream, nullptr);
  check(av_write_trailer(m.format.get()), "mp4 trailer");
  // Buffered bytes reach the file only here; a full disk shows up now, not at the last packet.
  check(avio_closep(&m.format->pb), "close " + m.path);
  m.finished = true;
}

std::string TalkWriter::abandon() { return impl_->abandon(); }

const std::string& TalkWriter::path() const { return impl_->path; }

const char* TalkWriter::videoEncoder() const { return impl_->video->codec->name; }

}  // namespace le_speak
