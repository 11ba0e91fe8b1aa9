#include "driver/load_image.h"

#include <stb_image.h>

#include <climits>
#include <stdexcept>

namespace le {

void StbFree::operator()(uint8_t* p) const { stbi_image_free(p); }

ImageRGB decodeImageRGB(const uint8_t* data, size_t size, const std::string& path) {
  if (size > size_t(INT_MAX)) throw std::runtime_error("le_driver: cannot decode " + path + " (file too large)");
  ImageRGB img;
  int channels = 0;
  img.rgb.reset(stbi_load_from_memory(data, int(size), &img.w, &img.h, &channels, 3));
  if (!img.rgb) {
    const char* why = stbi_failure_reason();
    throw std::runtime_error("le_driver: cannot decode " + path + " (" + (why ? why : "?") + ")");
  }
  return img;
}

bool imageSize(const std::string& path, int& w, int& h) {
  int channels = 0;
  return stbi_info(path.c_str(), &w, &h, &channels) != 0;
}

}  // namespace le
