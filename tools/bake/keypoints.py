"""The person's 21 keypoints and the idle motion that moves them.

Coordinates are x, y in -1..1 across the square crop (x to the right, y down, pixel centres at
(i + 0.5) / crop * 2 - 1) and z toward the viewer. Rows 6, 12, 14 and 17 to 20 are lip landmarks.
"""

import numpy as np

ROWS = 21

# Row -> (name, x, y, z) of the neutral pose.
LAYOUT = [
    ("forehead", 0.00, -0.62, 0.05),
    ("chin", 0.00, 0.62, 0.05),
    ("eye_left", -0.25, -0.12, 0.10),
    ("eye_right", 0.25, -0.12, 0.10),
    ("lid_left", -0.25, -0.19, 0.12),
    ("lid_right", 0.25, -0.19, 0.12),
    ("lip_upper_inner", 0.00, 0.295, 0.15),
    ("nose_tip", 0.00, 0.12, 0.30),
    ("brow_left", -0.26, -0.28, 0.12),
    ("brow_right", 0.26, -0.28, 0.12),
    ("cheek_left", -0.42, 0.15, 0.00),
    ("cheek_right", 0.42, 0.15, 0.00),
    ("lip_lower_inner", 0.00, 0.365, 0.15),
    ("jaw_left", -0.40, 0.42, -0.05),
    ("mouth_centre", 0.00, 0.330, 0.14),
    ("jaw_right", 0.40, 0.42, -0.05),
    ("neck", 0.00, 0.95, -0.10),
    ("mouth_corner_left", -0.17, 0.325, 0.10),
    ("mouth_corner_right", 0.17, 0.325, 0.10),
    ("lip_upper_outer", 0.00, 0.255, 0.16),
    ("lip_lower_outer", 0.00, 0.415, 0.16),
]
assert len(LAYOUT) == ROWS
ROW = {name: i for i, (name, *_unused) in enumerate(LAYOUT)}
LIP_ROWS = (6, 12, 14, 17, 18, 19, 20)
# Rows that move with the jaw when the mouth opens, and how far (fraction of the opening).
JAW_SHARE = {12: 1.0, 20: 1.0, 14: 0.5, 1: 0.6, 13: 0.3, 15: 0.3, 17: 0.35, 18: 0.35}


def neutral():
    return np.array([[x, y, z] for _name, x, y, z in LAYOUT], dtype=np.float64)


def open_mouth(kp, amount):
    """Keypoints with the lower lip (and jaw) lowered by `amount` and the upper lip raised a little."""
    out = np.array(kp, dtype=np.float64, copy=True)
    for row, share in JAW_SHARE.items():
        out[..., row, 1] += amount * share
    out[..., ROW["lip_upper_inner"], 1] -= amount * 0.15
    out[..., ROW["lip_upper_outer"], 1] -= amount * 0.10
    return out


def idle_poses(NT, rng):
    """Per-frame pose parameters of an idle loop that closes on itself after NT frames."""
    phase = rng.uniform(0.0, 2 * np.pi, size=6)
    t = np.arange(NT) / NT * 2 * np.pi
    blink = np.zeros(NT)
    # One blink per second of video, or one in the middle of a short loop.
    centres = [NT // 2] if NT < 50 else list(range(int(rng.integers(5, 20)), NT - 3, 25))
    for c in centres:
        blink = np.maximum(blink, np.clip(1.0 - np.abs(np.arange(NT) - c) / 2.5, 0.0, 1.0))
    return dict(
        sway_x=np.sin(t + phase[0]),             # head translation in the frame, -1..1
        sway_y=np.sin(2 * t + phase[1]),
        roll=0.035 * np.sin(t + phase[2]),      # radians
        drift_x=0.012 * np.sin(t + phase[3]),   # the face's offset inside the crop
        drift_y=0.010 * np.sin(t + phase[4]),
        breath=np.sin(t + phase[5]),            # shoulders, -1..1
        blink=blink,                            # 0 open .. 1 closed
    )


def idle_keypoints(poses):
    """Keypoints of every idle frame (NT x 21 x 3, float64)."""
    NT = len(poses["blink"])
    base = neutral()
    out = np.empty((NT, ROWS, 3))
    for t in range(NT):
        kp = base.copy()
        # Blink: the upper lids come down over the eyes.
        for lid, eye in ((ROW["lid_left"], ROW["eye_left"]), (ROW["lid_right"], ROW["eye_right"])):
            kp[lid, 1] += poses["blink"][t] * (kp[eye, 1] + 0.075 - kp[lid, 1])
        kp[:, 0] += poses["drift_x"][t]
        kp[:, 1] += poses["drift_y"][t]
        out[t] = kp
    return out
