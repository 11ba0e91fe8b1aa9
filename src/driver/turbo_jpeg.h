// JPEG decoding through libjpeg-turbo's TurboJPEG API, straight into a caller's RGB24 buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace le::driver {

class TurboJpeg {
 public:
  // Throws std::runtime_error when libjpeg-turbo cannot make a decompressor.
  TurboJpeg();
  ~TurboJpeg();
  TurboJpeg(const TurboJpeg&) = delete;
  TurboJpeg& operator=(const TurboJpeg&) = delete;

  // True when data starts with a JPEG start-of-image marker.
  static bool isJpeg(const uint8_t* data, size_t size);

  // Width and height from the JPEG's header. Throws "le_driver: cannot decode <path> (<reason>)".
  void size(const uint8_t* data, size_t size, const std::string& path, int& w, int& h);
  // Decodes the whole image to packed RGB24 into dst, w x h x 3 bytes as `size` reported, with
  // the accurate integer IDCT and smooth chroma upsampling. Throws as `size`. Corrupt-data
  // warnings (a truncated scan, say) do not throw: the image is delivered as decoded.
  void decodeRGB(const uint8_t* data, size_t size, const std::string& path, int w, int h, uint8_t* dst);

 private:
  [[noreturn]] void fail(const std::string& path) const;

  void* handle_;  // tjhandle
};

}  // namespace le::driver
