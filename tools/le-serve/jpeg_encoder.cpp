#include "jpeg_encoder.h"

#include <turbojpeg.h>

#include <stdexcept>

namespace le_serve {
namespace {

// Quality 85 with 4:2:0 chroma: a 256-pixel frame stays near 10 kB, well within a browser's
// 25 fps on any link.
constexpr int kQuality = 85;

}  // namespace

JpegEncoder::JpegEncoder() : handle_(tjInitCompress()) {
  if (!handle_) throw std::runtime_error("le-serve: libturbojpeg does not start");
}

JpegEncoder::~JpegEncoder() { tjDestroy(handle_); }

std::string JpegEncoder::encode(const uint8_t* rgb, int width, int height) {
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  const int failed = tjCompress2(handle_, rgb, width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_420, kQuality,
                                 TJFLAG_FASTDCT);
  std::string out;
  if (!failed) out.assign(reinterpret_cast<const char*>(jpeg), size);
  tjFree(jpeg);
  return out;
}

}  // namespace le_serve
