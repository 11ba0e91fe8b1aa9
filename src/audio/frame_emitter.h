// Turns one frame's motion vector into the per-frame output of the motion generator: the target
// row, and driving keypoints in which only the lips follow the generated expression, corrected by
// the stitching network.
#pragma once

#include <vector>

#include "audio/motion_dir.h"
#include "audio/motion_nets.h"

namespace le::audio {

class FrameEmitter {
 public:
  // Keeps references to tables and nets, which must outlive the emitter. Throws when source
  // record 0 has scale 0 (the expression gain would be infinite).
  FrameEmitter(const MotionTables& tables, MotionNets& nets);

  // Emits frame with source row s and motion vector `motion` (265 floats): target gets xs_target
  // row s, keypoints the target plus s_bridge times the stitching correction. xs and xd receive the
  // pose keypoints before stitching (63 floats each). The first frame after construction or
  // clearReference() fixes the reference expression.
  void emit(int s, const float* motion, float* target, float* keypoints, float* xs, float* xd);

  void clearReference() { haveReference_ = false; }

 private:
  const MotionTables& tables_;
  MotionNets& nets_;
  float gain_;  // template scale over the scale of source record 0
  std::vector<float> reference_;
  bool haveReference_ = false;
};

// The driving expression of one frame: the source expression, with the 18 lip coordinates replaced
// by (motion expression - reference) * gain + source expression.
void drivingExpression(const float* sourceExpression, const float* motionExpression, const float* reference,
                       float gain, float* out);

}  // namespace le::audio
