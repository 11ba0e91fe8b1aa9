#include "common/bank_track_reader.h"

#include <stdexcept>

#include "common/ff_handles.h"

namespace le::tool {

namespace {

struct TrackReader {
  std::string path, tool;
  int frames, width, height;
  std::vector<uint8_t> rgb;
  int count = 0;
  ff::SwsPtr sws;
  int format = -1;

  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error(tool + ": bank track " + path + ": " + what);
  }

  void take(const AVFrame* frame) {
    if (frame->width != width || frame->height != height || (sws && frame->format != format))
      fail("a frame of " + std::to_string(frame->width) + "x" + std::to_string(frame->height) + ", not the band's " +
           std::to_string(width) + "x" + std::to_string(height));
    if (count >= frames) fail("more than the " + std::to_string(frames) + " frames the bank declares");
    if (!sws) {
      format = frame->format;
      sws.reset(sws_getContext(width, height, AVPixelFormat(format), width, height, AV_PIX_FMT_RGB24, SWS_BILINEAR,
                               nullptr, nullptr, nullptr));
      if (!sws) fail("no conversion of its pixel format to RGB24");
    }
    uint8_t* dst[4] = {rgb.data() + size_t(count) * size_t(width) * size_t(height) * 3, nullptr, nullptr, nullptr};
    const int stride[4] = {width * 3, 0, 0, 0};
    sws_scale(sws.get(), frame->data, frame->linesize, 0, height, dst, stride);
    ++count;
  }

  void drain(AVCodecContext* decoder, AVFrame* frame) {
    while (avcodec_receive_frame(decoder, frame) == 0) {
      take(frame);
      av_frame_unref(frame);
    }
  }
};

ff::CodecPtr openDecoder(const TrackReader& r, const AVStream* stream) {
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  ff::CodecPtr decoder(codec ? avcodec_alloc_context3(codec) : nullptr);
  if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0 ||
      avcodec_open2(decoder.get(), codec, nullptr) < 0)
    r.fail("FFmpeg cannot decode its video");
  return decoder;
}

}  // namespace

std::vector<uint8_t> readBankTrack(const std::string& path, int frames, int width, int height,
                                   const std::string& tool) {
  TrackReader r{path, tool, frames, width, height, {}, 0, nullptr, -1};
  if (frames < 1 || width < 1 || height < 1) r.fail("the bank declares no frames");
  r.rgb.resize(size_t(frames) * size_t(width) * size_t(height) * 3);
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) r.fail("does not open");
  ff::InputPtr input(raw);
  if (avformat_find_stream_info(input.get(), nullptr) < 0) r.fail("has no readable streams");
  const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) r.fail("has no video");
  ff::CodecPtr decoder = openDecoder(r, input->streams[index]);
  ff::PacketPtr packet(av_packet_alloc());
  ff::FramePtr frame(av_frame_alloc());
  if (!packet || !frame) r.fail("out of memory");
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    const bool ours = packet->stream_index == index;
    if (ours) avcodec_send_packet(decoder.get(), packet.get());
    av_packet_unref(packet.get());
    if (ours) r.drain(decoder.get(), frame.get());
  }
  avcodec_send_packet(decoder.get(), nullptr);
  r.drain(decoder.get(), frame.get());
  if (r.count != frames)
    r.fail("carries " + std::to_string(r.count) + " frames, the bank declares " + std::to_string(frames));
  return std::move(r.rgb);
}

}  // namespace le::tool
