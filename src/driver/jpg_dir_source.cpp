#include "driver/jpg_dir_source.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "driver/load_image.h"

namespace le::driver {

JpgDirSource::JpgDirSource(std::string dir, int NT, int W, int H)
    : dir_(std::move(dir)), NT_(NT), W_(W), H_(H) {}

std::string JpgDirSource::framePath(const std::string& dir, int i) {
  char name[32];
  std::snprintf(name, sizeof name, "/frame_%06d.jpg", i);
  return dir + name;
}

bool JpgDirSource::next(uint8_t* dst) {
  if (next_ >= NT_) return false;
  const std::string path = framePath(dir_, next_);
  const ImageRGB img = loadImageRGB(path);
  if (img.w != W_ || img.h != H_) {
    throw std::runtime_error("le_driver: " + path + " is " + std::to_string(img.w) + "x" +
                             std::to_string(img.h) + ", the manifest says " + std::to_string(W_) +
                             "x" + std::to_string(H_) + " — refusing");
  }
  std::memcpy(dst, img.rgb.get(), size_t(frameBytes()));
  ++next_;
  return true;
}

void JpgDirSource::seek(int i) {
  if (i < 0 || i >= NT_) throw std::runtime_error("le_driver: seek outside the member");
  next_ = i;
}

std::unique_ptr<Source> openJpgDir(const std::string& dir, int NT, int W, int H) {
  return std::make_unique<JpgDirSource>(dir, NT, W, H);
}

}  // namespace le::driver
