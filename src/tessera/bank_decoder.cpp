#include "tessera/bank_decoder.h"

#include <memory>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include "core/ff_handles.h"
#include "driver/movie_decoder_build.h"
#include "tessera/bank_memory_io.h"

namespace le::tessera {
namespace {

// FFmpeg's customary custom-I/O buffer size; the demuxer may grow it while probing.
constexpr int kIoBufferBytes = 65536;

struct IoBufferFree {
  void operator()(uint8_t* p) const { av_free(p); }
};
// The I/O context owns its buffer, which FFmpeg may have replaced by a larger one.
struct AvioFree {
  void operator()(AVIOContext* p) const {
    av_freep(&p->buffer);
    avio_context_free(&p);
  }
};
using ff::CodecPtr;
using ff::SwsPtr;

void fail(const char* what) { throw std::runtime_error(what); }

void checkArguments(const uint8_t* bytes, size_t size, int32_t n_donors, int32_t band_h, int32_t band_w,
                    const std::vector<int32_t>& track_order) {
  if (!bytes || size == 0) fail("reference bank track is empty — refusing to serve");
  if (n_donors < 1 || band_h < 1 || band_w < 1) fail("reference bank geometry is not positive — refusing to serve");
  if (track_order.size() != size_t(n_donors))
    throw std::runtime_error("reference bank sidecar track_order has " + std::to_string(track_order.size()) +
                             " entries, expected " + std::to_string(n_donors) +
                             " — sidecar/track mismatch, refusing to serve");
}

// The demuxer over the in-memory track. Members are released in reverse order: the format context
// before the I/O context it reads through, and both before the reader state they point at.
struct MemoryInput {
  MemoryReader reader;
  std::unique_ptr<AVIOContext, AvioFree> avio;
  ff::InputPtr format;
  int stream = -1;
};

std::unique_ptr<MemoryInput> openMemoryInput(const uint8_t* bytes, size_t size) {
  auto in = std::make_unique<MemoryInput>();
  in->reader = MemoryReader{bytes, int64_t(size), 0};
  std::unique_ptr<uint8_t, IoBufferFree> buffer(static_cast<uint8_t*>(av_malloc(kIoBufferBytes)));
  if (!buffer) fail("reference bank decode: out of memory");
  in->avio.reset(avio_alloc_context(buffer.get(), kIoBufferBytes, 0, &in->reader, memoryRead, nullptr, memorySeek));
  if (!in->avio) fail("reference bank decode: avio_alloc_context failed");
  buffer.release();
  AVFormatContext* raw = avformat_alloc_context();
  if (!raw) fail("reference bank decode: avformat_alloc_context failed");
  raw->pb = in->avio.get();
  raw->flags |= AVFMT_FLAG_CUSTOM_IO;
  // On failure avformat_open_input frees the context it was handed.
  if (avformat_open_input(&raw, nullptr, nullptr, nullptr) < 0)
    fail("reference bank track is not a readable container — refusing to serve");
  in->format.reset(raw);
  if (avformat_find_stream_info(raw, nullptr) < 0)
    fail("reference bank track carries no stream info — refusing to serve");
  return in;
}

const AVStream* firstVideoStream(MemoryInput& in, int32_t band_h, int32_t band_w) {
  for (unsigned i = 0; i < in.format->nb_streams; ++i) {
    if (in.format->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
    in.stream = int(i);
    const AVCodecParameters* par = in.format->streams[i]->codecpar;
    if (par->width != band_w || par->height != band_h)
      throw std::runtime_error("reference bank track is " + std::to_string(par->width) + "x" +
                               std::to_string(par->height) + ", the geometry stamp says " + std::to_string(band_w) +
                               "x" + std::to_string(band_h) + " — geometry mismatch, refusing to serve");
    return in.format->streams[i];
  }
  fail("reference bank track has no video stream — refusing to serve");
  return nullptr;
}

CodecPtr openDecoder(const AVStream* stream) {
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!codec)
    fail("no decoder for the reference bank track — this build must carry the h264 decoder (see "
         "build_ffmpeg_android.sh); refusing to serve");
  CodecPtr ctx(avcodec_alloc_context3(codec));
  if (!ctx) fail("reference bank decode: avcodec_alloc_context3 failed");
  if (avcodec_parameters_to_context(ctx.get(), stream->codecpar) < 0)
    fail("reference bank decode: avcodec_parameters_to_context failed");
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0)
    fail("reference bank decode: could not open the decoder — refusing to serve");
  return ctx;
}

// The order was validated with the sidecar; it is checked again because the decoder writes
// through it.
void checkPermutation(const std::vector<int32_t>& track_order, int32_t n_donors) {
  std::vector<bool> seen(size_t(n_donors), false);
  for (const int32_t donor : track_order) {
    if (donor < 0 || donor >= n_donors) fail("reference bank track_order is out of range — refusing to serve");
    if (seen[size_t(donor)]) fail("reference bank track_order is not a permutation — refusing to serve");
    seen[size_t(donor)] = true;
  }
}

// Converts decoded frames, in decode order, into the donor patches the track order names.
class DonorWriter {
 public:
  DonorWriter(std::vector<uint8_t>& donors, const std::vector<int32_t>& track_order, int32_t band_h,
              int32_t band_w)
      : donors_(donors), order_(track_order), h_(band_h), w_(band_w) {}

  void take(const AVFrame* frame) {
    // A change of pixel format moves the planes just as a change of size does; one scaler serves
    // the whole track, so both are refused the same way.
    if (frame->width != w_ || frame->height != h_ || (sws_ && frame->format != format_))
      fail("reference bank frame changed size mid-track — refusing to serve");
    if (!sws_) openScaler(AVPixelFormat(frame->format));
    if (count_ >= int64_t(order_.size()))
      fail("bank track carries more frames than the sidecar's n_donors — sidecar/track mismatch, refusing to serve");
    uint8_t* dst[4] = {donors_.data() + size_t(order_[size_t(count_)]) * patchBytes(), nullptr, nullptr, nullptr};
    const int dstStride[4] = {w_ * 3, 0, 0, 0};
    sws_scale(sws_.get(), frame->data, frame->linesize, 0, h_, dst, dstStride);
    ++count_;
  }

  int64_t count() const { return count_; }

 private:
  size_t patchBytes() const { return size_t(w_) * size_t(h_) * 3; }

  void openScaler(AVPixelFormat format) {
    sws_.reset(sws_getContext(w_, h_, format, w_, h_, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!sws_) fail("reference bank decode: no rgb24 conversion — refusing to serve");
    format_ = format;
  }

  std::vector<uint8_t>& donors_;
  const std::vector<int32_t>& order_;
  const int32_t h_, w_;
  SwsPtr sws_;
  int format_ = -1;
  int64_t count_ = 0;
};

// Hands every frame the decoder has ready to the writer, until it wants input, reports the end of
// the stream or fails (a damaged track then comes up short in the frame count).
void receiveReady(AVCodecContext* dec, AVFrame* frame, DonorWriter& writer) {
  while (avcodec_receive_frame(dec, frame) == 0) {
    writer.take(frame);
    av_frame_unref(frame);
  }
}

void decodeAll(MemoryInput& in, AVCodecContext* dec, DonorWriter& writer) {
  const ff::PacketPtr packet(av_packet_alloc());
  const ff::FramePtr frame(av_frame_alloc());
  if (!packet || !frame) fail("reference bank decode: out of memory");
  while (av_read_frame(in.format.get(), packet.get()) >= 0) {
    const bool ours = packet->stream_index == in.stream;
    if (ours) avcodec_send_packet(dec, packet.get());
    av_packet_unref(packet.get());
    if (ours) receiveReady(dec, frame.get(), writer);
  }
  avcodec_send_packet(dec, nullptr);
  receiveReady(dec, frame.get(), writer);
}

}  // namespace

std::vector<uint8_t> decodeBankTrack(const uint8_t* bytes, size_t size, int32_t n_donors, int32_t band_h,
                                     int32_t band_w, const std::vector<int32_t>& track_order) {
  checkArguments(bytes, size, n_donors, band_h, band_w, track_order);
  const std::unique_ptr<MemoryInput> in = openMemoryInput(bytes, size);
  const AVStream* stream = firstVideoStream(*in, band_h, band_w);
  const CodecPtr dec = openDecoder(stream);
  std::vector<uint8_t> donors(size_t(n_donors) * size_t(band_h) * size_t(band_w) * 3, 0);
  checkPermutation(track_order, n_donors);
  DonorWriter writer(donors, track_order, band_h, band_w);
  decodeAll(*in, dec.get(), writer);
  if (writer.count() != n_donors)
    throw std::runtime_error("bank track decoded to " + std::to_string(writer.count()) + " frames, expected " +
                             std::to_string(n_donors) + " — geometry/N mismatch, refusing to serve");
  return donors;
}

std::string bankDecoderBuild() { return movieDecoderBuild(); }

}  // namespace le::tessera
