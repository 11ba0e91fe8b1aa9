// The motion generator's three networks, each opened once on ONNX Runtime with the generator's
// session options and called on caller buffers in the shapes the model declares.
#pragma once

#include <memory>
#include <string>

namespace le::audio {

class MotionNets {
 public:
  // Opens hubert_student.onnx, lmdm.onnx and stitch.onnx under dir with `threads` intra-op threads
  // on the provider `ep` ("" or a "coreml..." string, see parseMotionEp). Throws when a model is
  // missing or declares inputs or outputs of other sizes than the generator feeds.
  MotionNets(const std::string& dir, int threads, const std::string& ep);
  ~MotionNets();
  MotionNets(const MotionNets&) = delete;
  MotionNets& operator=(const MotionNets&) = delete;

  // mel: 1680 floats -> features: 20 x 1024.
  void student(const float* mel, float* features);
  // state: 265 floats, cond: 80 x 1103 -> motion: 80 x 265.
  void lmdm(const float* state, const float* cond, float* motion);
  // xs, xd: 63 floats each -> out: 63 floats.
  void stitch(const float* xs, const float* xd, float* out);

  // "cpu", or the ep string when CoreML serves.
  const std::string& epName() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace le::audio
