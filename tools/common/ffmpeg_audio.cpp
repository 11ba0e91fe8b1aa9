// The fallback of readAudioFile for what libsndfile does not read (AAC/M4A, MP3 in older
// libsndfile, audio inside video containers): FFmpeg's demuxers and decoders.
#include <memory>
#include <stdexcept>

#include "common/audio_file.h"
#include "common/ff_handles.h"
#include "common/resampler.h"

namespace le::tool {
namespace {

// FFmpeg's own complaints while probing a file that turns out not to be audio would bury the
// tool's one line; they are silenced for the decode and the level restored after it.
class QuietLog {
 public:
  QuietLog() : saved_(av_log_get_level()) { av_log_set_level(AV_LOG_QUIET); }
  ~QuietLog() { av_log_set_level(saved_); }
  QuietLog(const QuietLog&) = delete;
  QuietLog& operator=(const QuietLog&) = delete;

 private:
  int saved_;
};

[[noreturn]] void fail(const std::string& tool, const std::string& path, const char* what) {
  throw std::runtime_error(tool + ": cannot decode " + path + ": " + what);
}

CodecPtr openDecoder(const std::string& tool, const std::string& path, const AVStream* stream) {
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!codec) fail(tool, path, "FFmpeg has no decoder for its audio");
  CodecPtr decoder(avcodec_alloc_context3(codec));
  if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0 ||
      avcodec_open2(decoder.get(), codec, nullptr) < 0)
    fail(tool, path, "its audio decoder does not open");
  if (decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
    av_channel_layout_default(&decoder->ch_layout, decoder->ch_layout.nb_channels);
  return decoder;
}

// Feeds every decoded frame waiting in the decoder to the resampler (the resampler is made from
// the first frame, whose rate, layout and format the decoder only then knows for sure).
void drainDecoder(const std::string& tool, AVCodecContext* decoder, AVFrame* frame,
                  std::unique_ptr<Resampler>& resampler) {
  while (avcodec_receive_frame(decoder, frame) >= 0) {
    if (!resampler) {
      AVChannelLayout layout = frame->ch_layout;
      if (layout.order == AV_CHANNEL_ORDER_UNSPEC) av_channel_layout_default(&layout, layout.nb_channels);
      resampler = std::make_unique<Resampler>(tool, frame->sample_rate, layout, AVSampleFormat(frame->format));
    }
    resampler->convert(frame->extended_data, frame->nb_samples);
    av_frame_unref(frame);
  }
}

}  // namespace

bool decodeWithFfmpeg(const std::string& path, const std::string& tool, std::vector<int16_t>& out) {
  QuietLog quiet;
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return false;
  InputPtr input(raw);
  if (avformat_find_stream_info(input.get(), nullptr) < 0) return false;
  const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (index < 0) return false;
  CodecPtr decoder = openDecoder(tool, path, input->streams[index]);
  FramePtr frame(av_frame_alloc());
  PacketPtr packet(av_packet_alloc());
  if (!frame || !packet) throw std::runtime_error(tool + ": out of memory");
  std::unique_ptr<Resampler> resampler;
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    const bool ours = packet->stream_index == index;
    if (ours && avcodec_send_packet(decoder.get(), packet.get()) < 0) fail(tool, path, "its audio does not decode");
    av_packet_unref(packet.get());
    if (ours) drainDecoder(tool, decoder.get(), frame.get(), resampler);
  }
  avcodec_send_packet(decoder.get(), nullptr);
  drainDecoder(tool, decoder.get(), frame.get(), resampler);
  out = resampler ? resampler->finish() : std::vector<int16_t>{};
  return true;
}

}  // namespace le::tool
