// Frame source over a directory of numbered JPEG files ("frame_%06d.jpg", from 0).
#pragma once

#include "driver/source.h"

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
  std::string name() const override { return "jpg/stb"; }
  // The decoded image lives only for the duration of one `next`.
  int64_t residentBytes() const override { return 0; }

  // Name of frame i inside the directory, and its path in directory dir.
  static std::string frameName(int i);
  static std::string framePath(const std::string& dir, int i);
  // Throws the refusal for a frame at path of w x h pixels when the manifest says W x H.
  static void requireFrameSize(const std::string& path, int w, int h, int W, int H);

 private:
  std::string dir_;
  int NT_, W_, H_;
  int next_ = 0;
};

}  // namespace le::driver
