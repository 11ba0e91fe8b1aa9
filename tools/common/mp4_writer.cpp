#include "common/mp4_writer.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "common/ff_handles.h"

namespace le::tool {
namespace {

// The frames are sRGB-like RGB (BT.709 primaries); they are stored as BT.709 limited-range YUV,
// and the stream says so, so that players convert them back with the same matrix.
void tagColour(AVCodecContext* c) {
  c->color_range = AVCOL_RANGE_MPEG;
  c->colorspace = AVCOL_SPC_BT709;
  c->color_primaries = AVCOL_PRI_BT709;
  c->color_trc = AVCOL_TRC_BT709;
}

}  // namespace

struct Mp4Writer::Impl {
  Mp4Options o;
  std::string path;
  OutputPtr format;
  CodecPtr video, audio;
  FramePtr videoFrame, audioFrame;
  PacketPtr packet;
  SwsPtr sws;
  SwrPtr swr;
  AVStream* videoStream = nullptr;
  AVStream* audioStream = nullptr;
  std::vector<int16_t> pendingAudio;  // samples not yet making up a whole encoder frame
  int64_t videoPts = 0, audioPts = 0;
  bool finished = false;
  bool fileCreated = false;  // avio_open made (or truncated) path

  [[noreturn]] void fail(const std::string& what) const { throw std::runtime_error(o.tool + ": " + what); }
  void check(int rc, const std::string& what) const {
    if (rc >= 0) return;
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(rc, text, sizeof text);
    fail(what + ": " + text);
  }
  template <class T>
  T* required(T* p) const {
    if (!p) fail("out of memory");
    return p;
  }

  const AVCodec* findVideoEncoder() const;
  void openVideo();
  void prepareConversion();
  void openAudio();
  void openFile();
  void send(AVCodecContext* codec, AVStream* stream, const AVFrame* frame);
  void encodeAudio(const int16_t* samples, int count);
  void queueAudio(const int16_t* samples, int count);
  void encodeLastAudio();
  std::string abandon();
};

// libx264 first, then any other H.264 encoder, and FFmpeg's own mpeg4 only when there is none
// and the tool takes it.
const AVCodec* Mp4Writer::Impl::findVideoEncoder() const {
  const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
  if (!encoder) encoder = avcodec_find_encoder(AV_CODEC_ID_H264);
  if (encoder) return encoder;
  if (!o.mpeg4Fallback) fail("this FFmpeg has no H.264 encoder");
  encoder = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  if (!encoder) fail("this FFmpeg has neither an H.264 nor an MPEG-4 encoder");
  std::fprintf(stderr, "%s: warning: this FFmpeg has no H.264 encoder; writing MPEG-4 Part 2 video instead\n",
               o.tool.c_str());
  return encoder;
}

void Mp4Writer::Impl::openVideo() {
  const AVCodec* encoder = findVideoEncoder();
  video.reset(required(avcodec_alloc_context3(encoder)));
  AVCodecContext* c = video.get();
  c->width = o.width;
  c->height = o.height;
  c->time_base = AVRational{1, o.fps};
  c->framerate = AVRational{o.fps, 1};
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  tagColour(c);
  c->gop_size = o.fps;
  if (format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  av_opt_set(c->priv_data, "preset", o.preset.c_str(), 0);
  av_opt_set(c->priv_data, "crf", o.crf.c_str(), 0);
  if (encoder->id == AV_CODEC_ID_MPEG4) {
    c->flags |= AV_CODEC_FLAG_QSCALE;
    c->global_quality = FF_QP2LAMBDA * 4;
  }
  check(avcodec_open2(c, encoder, nullptr), "open " + std::string(encoder->name));
  videoStream = required(avformat_new_stream(format.get(), nullptr));
  videoStream->time_base = c->time_base;
  check(avcodec_parameters_from_context(videoStream->codecpar, c), "video stream parameters");
}

// The YUV frame the RGB input is converted into, with the matrix the stream is tagged with
// (swscale would take BT.601 unless told): full-range RGB in, BT.709 limited out.
void Mp4Writer::Impl::prepareConversion() {
  videoFrame.reset(required(av_frame_alloc()));
  videoFrame->format = AV_PIX_FMT_YUV420P;
  videoFrame->width = o.width;
  videoFrame->height = o.height;
  check(av_frame_get_buffer(videoFrame.get(), 0), "video frame buffer");
  sws.reset(sws_getContext(o.width, o.height, AV_PIX_FMT_RGB24, o.width, o.height, AV_PIX_FMT_YUV420P, SWS_BICUBIC,
                           nullptr, nullptr, nullptr));
  if (!sws) fail("no RGB24 -> YUV420P conversion");
  const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
  const int unity = 1 << 16;
  if (sws_setColorspaceDetails(sws.get(), bt709, 1, bt709, 0, 0, unity, unity) < 0)
    fail("this swscale cannot convert RGB to BT.709 limited-range YUV");
}

void Mp4Writer::Impl::openAudio() {
  const AVCodec* encoder = avcodec_find_encoder_by_name("aac");
  if (!encoder) fail("this FFmpeg has no aac encoder");
  audio.reset(required(avcodec_alloc_context3(encoder)));
  AVCodecContext* c = audio.get();
  c->sample_rate = o.audioRate;
  c->sample_fmt = encoder->sample_fmts ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
  c->bit_rate = 64000;
  c->time_base = AVRational{1, o.audioRate};
  AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
  check(av_channel_layout_copy(&c->ch_layout, &mono), "audio layout");
  if (format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  check(avcodec_open2(c, encoder, nullptr), "open aac");
  audioStream = required(avformat_new_stream(format.get(), nullptr));
  audioStream->time_base = c->time_base;
  check(avcodec_parameters_from_context(audioStream->codecpar, c), "audio stream parameters");

  SwrContext* s = nullptr;
  check(swr_alloc_set_opts2(&s, &c->ch_layout, c->sample_fmt, o.audioRate, &mono, AV_SAMPLE_FMT_S16, o.audioRate, 0,
                            nullptr),
        "audio conversion");
  swr.reset(s);
  check(swr_init(s), "audio conversion");
  audioFrame.reset(required(av_frame_alloc()));
}

// Opening the file comes last, so that a failure before it leaves no file at all.
void Mp4Writer::Impl::openFile() {
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
void Mp4Writer::Impl::send(AVCodecContext* codec, AVStream* stream, const AVFrame* frame) {
  check(avcodec_send_frame(codec, frame), "encode");
  for (;;) {
    const int rc = avcodec_receive_packet(codec, packet.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
    check(rc, "encode");
    // libx264 leaves the duration unset; without it the MP4 muxer ends the track (and its edit
    // list) at the last packet's start, and players drop the final frame.
    if (codec == video.get() && packet->duration == 0) packet->duration = 1;
    av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
    packet->stream_index = stream->index;
    check(av_interleaved_write_frame(format.get(), packet.get()), "write");
    // The muxer writes through a buffer and does not report its failed flushes; without this
    // check a full disk would surface only at the trailer, after encoding the whole run.
    check(format->pb->error, "write " + path);
  }
}

// Encodes count samples as one audio frame (count is the encoder's frame size, or less for the
// last frame of an encoder that takes a short one).
void Mp4Writer::Impl::encodeAudio(const int16_t* samples, int count) {
  AVFrame* f = audioFrame.get();
  av_frame_unref(f);
  f->nb_samples = count;
  f->format = audio->sample_fmt;
  f->sample_rate = audio->sample_rate;
  check(av_channel_layout_copy(&f->ch_layout, &audio->ch_layout), "audio layout");
  check(av_frame_get_buffer(f, 0), "audio frame buffer");
  const uint8_t* in[] = {reinterpret_cast<const uint8_t*>(samples)};
  const int got = swr_convert(swr.get(), f->extended_data, count, in, count);
  if (got != count)
    fail("audio sample conversion gave " + std::to_string(got) + " of " + std::to_string(count) + " samples");
  f->pts = audioPts;
  audioPts += count;
  send(audio.get(), audioStream, f);
}

// The audio encoder takes frames of its own size: whole ones are encoded, the rest waits.
void Mp4Writer::Impl::queueAudio(const int16_t* samples, int count) {
  if (!audio) {
    if (count > 0) throw std::logic_error(o.tool + ": audio written to a video without a sound track");
    return;
  }
  pendingAudio.insert(pendingAudio.end(), samples, samples + count);
  const size_t frameSize = size_t(audio->frame_size);
  size_t used = 0;
  for (; pendingAudio.size() - used >= frameSize; used += frameSize)
    encodeAudio(pendingAudio.data() + used, int(frameSize));
  pendingAudio.erase(pendingAudio.begin(), pendingAudio.begin() + long(used));
}

// The samples left over make the last, short audio frame.
void Mp4Writer::Impl::encodeLastAudio() {
  if (pendingAudio.empty()) return;
  // An encoder that cannot take a short last frame gets it padded with silence.
  if (!(audio->codec->capabilities & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE)))
    pendingAudio.resize(size_t(audio->frame_size), 0);
  encodeAudio(pendingAudio.data(), int(pendingAudio.size()));
  pendingAudio.clear();
}

std::string Mp4Writer::Impl::abandon() {
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

Mp4Writer::Mp4Writer(const std::string& path, const Mp4Options& options) : impl_(std::make_unique<Impl>()) {
  Impl& m = *impl_;
  m.o = options;
  m.path = path;
  const int w = options.width, h = options.height;
  if (w < 2 || h < 2 || w % 2 || h % 2)
    m.fail(std::string(options.mpeg4Fallback ? "4:2:0 video" : "H.264 4:2:0") + " needs an even frame size, not " +
           std::to_string(w) + "x" + std::to_string(h));
  // The encoders' closing statistics are info-level lines; the tool prints its own summary.
  av_log_set_level(AV_LOG_WARNING);
  AVFormatContext* format = nullptr;
  m.check(avformat_alloc_output_context2(&format, nullptr, "mp4", path.c_str()), "mp4 muxer");
  m.format.reset(format);
  m.openVideo();
  m.prepareConversion();
  if (options.audioRate > 0) m.openAudio();
  m.openFile();
}

Mp4Writer::~Mp4Writer() { impl_->abandon(); }

void Mp4Writer::write(const uint8_t* rgb, const int16_t* audio, int audioCount) {
  Impl& m = *impl_;
  if (m.finished) throw std::logic_error(m.o.tool + ": frame written after the file was finished");
  m.check(av_frame_make_writable(m.videoFrame.get()), "video frame buffer");
  const uint8_t* planes[] = {rgb};
  const int strides[] = {3 * m.o.width};
  const int rows = sws_scale(m.sws.get(), planes, strides, 0, m.o.height, m.videoFrame->data, m.videoFrame->linesize);
  if (rows != m.o.height)
    m.fail("RGB to YUV conversion gave " + std::to_string(rows) + " of " + std::to_string(m.o.height) + " rows");
  m.videoFrame->pts = m.videoPts++;
  m.send(m.video.get(), m.videoStream, m.videoFrame.get());
  m.queueAudio(audio, audioCount);
}

void Mp4Writer::finish() {
  Impl& m = *impl_;
  if (m.finished) return;
  if (m.audio) m.encodeLastAudio();
  m.send(m.video.get(), m.videoStream, nullptr);
  if (m.audio) m.send(m.audio.get(), m.audioStream, nullptr);
  m.check(av_write_trailer(m.format.get()), "mp4 trailer");
  // Buffered bytes reach the file only here; a full disk shows up now, not at the last packet.
  m.check(avio_closep(&m.format->pb), "close " + m.path);
  m.finished = true;
}

std::string Mp4Writer::abandon() { return impl_->abandon(); }

const std::string& Mp4Writer::path() const { return impl_->path; }

const char* Mp4Writer::videoEncoder() const { return impl_->video->codec->name; }

}  // namespace le::tool
