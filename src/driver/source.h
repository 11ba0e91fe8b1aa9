// A frame source delivers the frames of one video member strictly in order, one per call, with
// rewind and frame-exact seek. The decode-ahead cursor (driver_cursor.h) wraps one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace le::driver {

class Source {
 public:
  virtual ~Source() = default;

  // Number of frames the member must hold, and the frame size in pixels.
  virtual int NT() const = 0;
  virtual int W() const = 0;
  virtual int H() const = 0;
  // Bytes of one delivered frame.
  virtual int64_t frameBytes() const { return int64_t(W()) * H() * 3; }
  // Decodes the next frame into dst (frameBytes bytes); false at the end of the member.
  virtual bool next(uint8_t* dst) = 0;
  // The next `next` delivers frame 0.
  virtual void rewind() = 0;
  // The next `next` delivers frame i; throws for i outside 0..NT-1.
  virtual void seek(int i) = 0;
  // A short description for log lines.
  virtual std::string name() const = 0;
  // Memory the source holds for decoding. Safe to call while another thread decodes.
  virtual int64_t residentBytes() const = 0;
};

// A directory of "frame_%06d.jpg" files decoded to packed RGB24 (JPEG with libjpeg-turbo, PNG with
// stb_image). Touches no file until the first `next`.
std::unique_ptr<Source> openJpgDir(const std::string& dir, int NT, int W, int H);

// A movie member decoded with FFmpeg and delivered as packed RGB24 (4:2:0 sources only). Opens
// the container at once and throws std::runtime_error when it does not match NT, W, H.
std::unique_ptr<Source> openMp4(const std::string& path, int NT, int W, int H);

// A warp-prior movie (yuv444p, side x side) delivered as three fp16 planes R, G, B with values
// level / 255. Opens the container at once.
std::unique_ptr<Source> openPriorHevc(const std::string& path, int NT, int side);

}  // namespace le::driver
