// Image decoding through stb_image: the PNG frames of a driver directory and the frame headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace le {

struct StbFree {
  void operator()(uint8_t* p) const;
};

struct ImageRGB {
  int w = 0;
  int h = 0;
  std::unique_ptr<uint8_t, StbFree> rgb;  // packed R, G, B; w x h x 3 bytes, no row padding
};

// Decodes a JPEG or PNG file already read into memory to packed RGB24. Throws std::runtime_error
// "le_driver: cannot decode <path> (<stb_image's reason>)" when it does not decode.
ImageRGB decodeImageRGB(const uint8_t* data, size_t size, const std::string& path);

// Reads only the header of an image file: its width and height, or false when it does not decode.
bool imageSize(const std::string& path, int& w, int& h);

}  // namespace le
