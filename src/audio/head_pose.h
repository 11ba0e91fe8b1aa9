// Head pose of the motion generator's info records: angles from 66-bin logits, the rotation
// matrix, and the keypoints a pose, scale and expression place in the crop.
#pragma once

namespace le::audio {

// The softmax expectation over 66 bins of 3 degrees: 3 * sum_i softmax_i * i - 97.5.
float bin66(const float* logits);

// The row-major rotation of pitch p, yaw y and roll r (degrees):
// [cos y cos r, cos y sin r, -sin y;
//  sin p sin y cos r - cos p sin r, cos p cos r + sin p sin y sin r, sin p cos y;
//  sin p sin r + cos p sin y cos r, cos p sin y sin r - sin p cos r, cos p cos y].
void rotation(float pitch, float yaw, float roll, float out[9]);

// The source and driving keypoints of one info record (328 floats): for every keypoint with
// canonical c (a row vector), x = scale * (c R + expression) + (tx, ty, 0), with the record's own
// pose and expression for xs, and the pitch raised by deltaPitch and `drivingExpression` (63
// floats) for xd.
void poseKeypoints(const float* info, const float* drivingExpression, float deltaPitch, float xs[63], float xd[63]);

// The motion vector (265 floats) of an info record: scale - 1, pitch, yaw and roll logits,
// translation, expression.
void motionFromInfo(const float* info, float* motion);

}  // namespace le::audio
