// The blend head's forward pass: per window pixel, a softmax over the candidates' logits from the
// candidate network, and the candidates blended by those weights inside the blend mask.
#pragma once

#include <cstdint>
#include <vector>

#include "tessera/head_weights.h"

namespace le::tessera {

// One frame's inputs: `count` candidates of three planes of height x width values in [0, 1]
// ([count][3][height][width]), the live window's three planes, and the blend mask (height x
// width bytes, non-zero where the candidates are blended).
struct HeadFrame {
  const float* candidates = nullptr;
  int count = 0;
  const float* live = nullptr;
  int height = 0;
  int width = 0;
  const uint8_t* mask = nullptr;
};

// What the pass yields, with the buffers it works in (kept to be reused by the next frame).
struct HeadOutput {
  std::vector<float> blended;     // [3][height][width]: the blend inside the mask, live outside it
  std::vector<double> totals;     // per candidate, its softmax weight summed over the window
  std::vector<float> synth;       // [height][width]: the synthesis weight, 0 (that branch is idle)
  std::vector<float> weights;     // [count][height][width] softmax weights
  std::vector<float> planes;      // [count][4][height / 2][width / 2]: each candidate's own input planes
  std::vector<float> livePooled;  // [3][height / 2][width / 2]: the input planes all candidates share
  std::vector<float> shared;      // [16][height / 2][width / 2]: their part of the first layer
  std::vector<float> hidden;      // [count][16][height / 2][width / 2], twice
  std::vector<float> hidden2;
  std::vector<float> logits;      // [count][height / 2][width / 2]
};

// Runs the candidate network of `head` on every candidate and blends; work is spread over the
// worker pool and the result does not depend on its thread count.
void headForward(const HeadWeights& head, const HeadFrame& frame, HeadOutput& out);

}  // namespace le::tessera
