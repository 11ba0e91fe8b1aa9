#include "driver/jpg_dir_source.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "bundle/member_names.h"
#include "driver/frame_file.h"
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
  readFrameFile(path, file_);
  fileBytes_.store(int64_t(file_.capacity()), std::memory_order_relaxed);
  if (TurboJpeg::isJpeg(file_.data(), file_.size())) {
    decodeJpeg(path, dst);
  } else {
    decodeOther(path, dst);
  }
  ++next_;
  return true;
}

void JpgDirSource::decodeJpeg(const std::string& path, uint8_t* dst) {
  if (!jpeg_) jpeg_ = std::make_unique<TurboJpeg>();
  int w = 0, h = 0;
  jpeg_->size(file_.data(), file_.size(), path, w, h);
  requireFrameSize(path, w, h, W_, H_);
  jpeg_->decodeRGB(file_.data(), file_.size(), path, w, h, dst);
}

void JpgDirSource::decodeOther(const std::string& path, uint8_t* dst) const {
  const ImageRGB img = decodeImageRGB(file_.data(), file_.size(), path);
  requireFrameSize(path, img.w, img.h, W_, H_);
  std::memcpy(dst, img.rgb.get(), size_t(frameBytes()));
}

void JpgDirSource::seek(int i) {
  if (i < 0 || i >= NT_) throw std::runtime_error("le_driver: seek outside the member");
  next_ = i;
}

std::unique_ptr<Source> openJpgDir(const std::string& dir, int NT, int W, int H) {
  return std::make_unique<JpgDirSource>(dir, NT, W, H);
}

}  // namespace le::driver
