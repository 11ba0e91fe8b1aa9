"""Drive tables (the idle loop: drive/xs.f32, drive/xd.f32, drive/si.i32) and xs_target.bin."""

import numpy as np


def idle_loop(kps, frames):
    """frames steps over the NT source frames, bouncing at the ends (0, 1, .., NT-1, NT-2, .., 1, 0,
    ..). Idle means the driving keypoints are the source keypoints."""
    NT = len(kps)
    period = max(1, 2 * NT - 2)
    si = np.array([(k % period) if (k % period) < NT else period - (k % period)
                   for k in range(frames)], dtype=np.int32)
    xs = kps[si].reshape(frames, 63).astype(np.float32)
    return xs, xs.copy(), si


def target_keypoints(kps):
    """xs_target.bin: the idle pose of every driver frame, NT x 63 float."""
    return kps.reshape(len(kps), 63).astype(np.float32)
