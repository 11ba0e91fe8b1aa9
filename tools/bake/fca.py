"""The face-coefficient animator of our own (fca_stream.onnx): one autoregressive step per 40 ms.

  cond [1, 5376]  7 frames x 768 centred speech features (the speech encoder's layers 4..9
                  averaged, minus the running mean of the voiced frames). Channel 0 of each frame
                  is the loudness of our speech encoder, so after centring a voiced frame sits near
                  0 and silence far below it.
  loud            the loudness channel of the 7 frames, weighted toward the current one (row 1)
  h  [1, 1, 384]  channel 0 holds the opening, a leaky follower of sigmoid(GAIN * (loud + SHIFT));
                  the other channels stay 0. hn is the new state.
  m  [1, 63]      (1 - SMOOTH) * opening * OPEN * D + SMOOTH * prev, where D is the mouth-opening
                  direction of the keypoints (lips, chin, jaw): voiced speech opens the mouth,
                  silence closes it, and prev smooths the motion between frames.
"""

import numpy as np

import a2x
from onnxgraph import Graph, tensor

FRAMES, CHANNELS, HIDDEN, KP = 7, 768, 384, 63
ROW_WEIGHTS = [0.1, 0.6, 0.2, 0.05, 0.05, 0.0, 0.0]   # offsets -1 .. 5
GAIN, SHIFT = 3.0, 1.0
LEAK = 0.3
OPEN = 0.08
SMOOTH = 0.3


def animator():
    g = Graph()
    pick = np.zeros((FRAMES * CHANNELS, 1))
    for row, weight in enumerate(ROW_WEIGHTS):
        pick[row * CHANNELS, 0] = weight
    loud = g.op("MatMul", ["cond", g.const("/fca/pick_loud", pick)], "/fca/loud")
    gate = g.op("Sigmoid", [g.op("Mul", [g.op("Add", [loud, g.const("/fca/shift", [SHIFT])], "/fca/shifted"),
                                         g.const("/fca/gain", [GAIN])], "/fca/scaled")], "/fca/gate")
    first = np.zeros(HIDDEN)
    first[0] = 1.0
    old = g.op("Reshape", ["h", g.i64("/fca/flat", [1, HIDDEN])], "/fca/h_flat")
    kept = g.op("Mul", [old, g.const("/fca/leak", LEAK * first)], "/fca/kept")
    taken = g.op("Mul", [gate, g.const("/fca/take", (1.0 - LEAK) * first)], "/fca/taken")
    new = g.op("Add", [kept, taken], "/fca/h_new")
    g.op("Reshape", [new, g.i64("/fca/state", [1, 1, HIDDEN])], "hn")
    opening = g.op("MatMul", [new, g.const("/fca/pick_open", first[:, None])], "/fca/opening")
    spoken = g.op("Mul", [opening, g.const("/fca/open_dir", (1.0 - SMOOTH) * OPEN * a2x.opening_direction())],
                  "/fca/spoken")
    held = g.op("Mul", ["prev", g.const("/fca/smooth", [SMOOTH])], "/fca/held")
    g.op("Add", [spoken, held], "m")
    inputs = [tensor("cond", [1, FRAMES * CHANNELS]), tensor("prev", [1, KP]), tensor("h", [1, 1, HIDDEN])]
    return g.model("fca_stream", inputs, [tensor("m", [1, KP]), tensor("hn", [1, 1, HIDDEN])])
