// Frame source over a directory of numbered image files ("frame_%06d.jpg", from 0): JPEG files are
// decoded with libjpeg-turbo straight into the caller's frame, any other image (a PNG under the
// same name) with stb_image and copied.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "driver/source.h"
#include "driver/turbo_jpeg.h"

namespace le::driver {

class JpgDirSource final : public Source {
 public:
  JpgDirSource(std::string dir, int NT, int W, int H);

  int NT() const override { return NT_; }
  int W() const override { return W_; }
  int H() const override { return H_; }
  bool next(uint8_t* dst) override;
  void rewind() override { next_ = 0; }
  void seek(int i) override;
  std::string name() const override { return "jpg/turbo"; }
  // The buffer the compressed file is read into (the largest frame file so far).
  int64_t residentBytes() const override { return fileBytes_.load(std::memory_order_relaxed); }

  // Name of frame i inside the directory, and its path in directory dir.
  static std::string frameName(int i);
  static std::string framePath(const std::string& dir, int i);
  // Throws the refusal for a frame at path of w x h pixels when the manifest says W x H.
  static void requireFrameSize(const std::string& path, int w, int h, int W, int H);

 private:
  void decodeJpeg(const std::string& path, uint8_t* dst);
  void decodeOther(const std::string& path, uint8_t* dst) const;

  std::string dir_;
  int NT_, W_, H_;
  int next_ = 0;
  std::unique_ptr<TurboJpeg> jpeg_;  // made at the first JPEG frame
  std::vector<uint8_t> file_;        // the compressed frame, reused from frame to frame
  // Written by the decoding thread, read by residentBytes() from any thread.
  std::atomic<int64_t> fileBytes_{0};
};

}  // namespace le::driver
