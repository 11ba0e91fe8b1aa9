// Frames to JPEG for the page, with libturbojpeg.
#pragma once

#include <cstdint>
#include <string>

namespace le_serve {

class JpegEncoder {
 public:
  JpegEncoder();  // throws std::runtime_error when libturbojpeg cannot start
  ~JpegEncoder();
  JpegEncoder(const JpegEncoder&) = delete;
  JpegEncoder& operator=(const JpegEncoder&) = delete;

  // rgb: width x height x 3 bytes, no row padding. Returns the JPEG, or an empty string when the
  // encoder fails (the frame is then skipped).
  std::string encode(const uint8_t* rgb, int width, int height);

 private:
  void* handle_;
};

}  // namespace le_serve
