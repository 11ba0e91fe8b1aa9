// Frame source over a movie member, demuxed and decoded with FFmpeg.
#pragma once

#include <array>
#include <atomic>

#include "driver/source.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;

namespace le::driver {

class FfSource final : public Source {
 public:
  enum Kind : int32_t {
    kDriver = 0,  // delivered as packed RGB24
    kPrior = 1,   // delivered as fp16 planes R, G, B (level / 255)
  };

  // Opens the container and the decoder at once; throws std::runtime_error when the member does
  // not match NT, W, H or cannot be decoded.
  FfSource(Kind kind, std::string path, int NT, int W, int H);
  ~FfSource() override;

  int NT() const override { return NT_; }
  int W() const override { return W_; }
  int H() const override { return H_; }
  int64_t frameBytes() const override;
  bool next(uint8_t* dst) override;
  void rewind() override;
  void seek(int i) override;
  std::string name() const override { return name_; }
  int64_t residentBytes() const override;

 private:
  struct FormatClose { void operator()(AVFormatContext* p) const; };
  struct CodecFree { void operator()(AVCodecContext* p) const; };
  struct PacketFree { void operator()(AVPacket* p) const; };
  struct FrameFree { void operator()(AVFrame* p) const; };

  void open();
  void close();
  bool openHardwareDecoder();
  void openSoftwareDecoder();
  // Decodes the next frame; converts it into dst unless dst is null (frames skipped by a seek).
  bool decodeNext(uint8_t* dst);
  void convertDriver(uint8_t* dst) const;
  void convertPrior(uint8_t* dst) const;

  const Kind kind_;
  const std::string path_;
  const int NT_, W_, H_;
  std::array<uint16_t, 256> levelToF16_{};  // entry i = fp16 of i / 255, filled for kPrior

  std::unique_ptr<AVFormatContext, FormatClose> fmt_;
  std::unique_ptr<AVCodecContext, CodecFree> dec_;
  std::unique_ptr<AVPacket, PacketFree> pkt_;
  std::unique_ptr<AVFrame, FrameFree> frame_;
  int stream_ = -1;
  bool draining_ = false;       // end of input reached and the decoder flushed
  bool packetPending_ = false;  // pkt_ holds a packet the decoder has not accepted yet
  int delivered_ = 0;           // frames delivered since the last rewind
  // Written by the decoding thread (open, reopen, read), read by residentBytes() from any thread.
  std::atomic<int> decoderThreads_{0};
  std::atomic<int32_t> largestPacket_{0};
  std::string name_;
};

}  // namespace le::driver
