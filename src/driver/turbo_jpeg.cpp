#include "driver/turbo_jpeg.h"

#include <turbojpeg.h>

#include <stdexcept>

namespace le::driver {

TurboJpeg::TurboJpeg() : handle_(tjInitDecompress()) {
  if (!handle_) {
    throw std::runtime_error(std::string("le_driver: libjpeg-turbo has no decompressor (") +
                             tjGetErrorStr2(nullptr) + ")");
  }
}

TurboJpeg::~TurboJpeg() { tjDestroy(handle_); }

bool TurboJpeg::isJpeg(const uint8_t* data, size_t size) {
  return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

void TurboJpeg::fail(const std::string& path) const {
  throw std::runtime_error("le_driver: cannot decode " + path + " (" + tjGetErrorStr2(handle_) + ")");
}

void TurboJpeg::size(const uint8_t* data, size_t size, const std::string& path, int& w, int& h) {
  int subsampling = 0, colourspace = 0;
  if (tjDecompressHeader3(handle_, data, static_cast<unsigned long>(size), &w, &h, &subsampling,
                          &colourspace) != 0) {
    fail(path);
  }
}

void TurboJpeg::decodeRGB(const uint8_t* data, size_t size, const std::string& path, int w, int h,
                          uint8_t* dst) {
  if (tjDecompress2(handle_, data, static_cast<unsigned long>(size), dst, w, w * 3, h, TJPF_RGB,
                    TJFLAG_ACCURATEDCT) != 0 &&
      tjGetErrorCode(handle_) != TJERR_WARNING) {
    fail(path);
  }
}

}  // namespace le::driver
