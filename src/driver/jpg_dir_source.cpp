#include "driver/jpg_dir_source.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "bundle/member_names.h"
#include "driver/load_image.h"

namespace le::driver {

JpgDirSource::JpgDirSource(std::string dir, int NT, int W, int H)
    : dir_(std::move(dir)), NT_(NT), W_(W), H_(H) {}

std::string JpgDirSource::frameName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "frame_%06d.jpg", i);
  return name;
}

std::string JpgDirSource::framePath(const std::string& dir, int i) { return dir + "/" + frameName(i); }

void JpgDirSource::requireFrameSize(const std::string& path, int w, int h, int W, int H) {
  if (w != W || h != H) {
    throw std::runtime_error("le_driver: " + path + " is " + std::to_string(w) + "x" + std::to_string(h) +
                             ", the manifest says " + std::to_string(W) + "x" + std::to_string(H) +
                             " — refusing");
  }
}

bool JpgDirSource::next(uint8_t* dst) {
  if (next_ >= NT_) return false;
  // A frame file that is a link out of its directory is refused like any member leaving the bundle.
  const std::string path = resolveMember(dir_, frameName(next_));
  const ImageRGB img = loadImageRGB(path);
  requireFrameSize(path, img.w, img.h, W_, H_);
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
