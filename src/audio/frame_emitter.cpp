#include "audio/frame_emitter.h"

#include <cstring>
#include <stdexcept>

#include "audio/head_pose.h"
#include "audio/motion_layout.h"

namespace le::audio {

using namespace motion;

void drivingExpression(const float* sourceExpression, const float* motionExpression, const float* reference,
                       float gain, float* out) {
  std::memcpy(out, sourceExpression, kKpFloats * sizeof(float));
  for (int k : kLipKeypoints)
    for (int axis = 0; axis < 3; ++axis) {
      const int i = 3 * k + axis;
      out[i] = (motionExpression[i] - reference[i]) * gain + sourceExpression[i];
    }
}

FrameEmitter::FrameEmitter(const MotionTables& tables, MotionNets& nets)
    : tables_(tables), nets_(nets), reference_(kKpFloats) {
  const float sourceScale = tables.sourceInfo[kInfoScale];
  if (sourceScale == 0.0f) throw std::runtime_error("le_motion: src_xs_info.bin record 0 has scale 0");
  gain_ = tables.templateInfo[kInfoScale] / sourceScale;
}

void FrameEmitter::emit(int s, const float* motion, float* target, float* keypoints, float* xs, float* xd) {
  const float* expression = motion + kMvExpression;
  if (!haveReference_) {
    std::memcpy(reference_.data(), expression, kKpFloats * sizeof(float));
    haveReference_ = true;
  }
  const float* info = tables_.sourceInfo.data() + size_t(s) * kInfoFloats;
  float driving[kKpFloats];
  drivingExpression(info + kInfoExpression, expression, reference_.data(), gain_, driving);
  poseKeypoints(info, driving, tables_.meta.deltaPitch, xs, xd);
  float stitched[kKpFloats];
  nets_.stitch(xs, xd, stitched);
  const float* row = tables_.targetKp.data() + size_t(s) * kKpFloats;
  const float bridge = tables_.meta.sBridge;
  for (size_t i = 0; i < kKpFloats; ++i) {
    target[i] = row[i];
    keypoints[i] = row[i] + bridge * (stitched[i] - xs[i]);
  }
}

}  // namespace le::audio
