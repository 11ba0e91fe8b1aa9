// Image file decoding through stb_image.
#pragma once

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

// Decodes a JPEG or PNG file to packed RGB24. Throws std::runtime_error naming the path and
// stb_image's reason when the file does not open or decode.
ImageRGB loadImageRGB(const std::string& path);

// Reads only the header of an image file: its width and height, or false when it does not decode.
bool imageSize(const std::string& path, int& w, int& h);

}  // namespace le
