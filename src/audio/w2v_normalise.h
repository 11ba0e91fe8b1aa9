// Normalisation of one speech-encoder input window.
#pragma once

#include <cstddef>

namespace le::w2v {

// Over all n samples (zeros included): mean and variance in double; std = sqrt(float(variance) +
// 1e-7) in float; every sample becomes (x - mean) * (1 / std), computed in double, stored as float.
void normaliseWindow(float* x, size_t n);

}  // namespace le::w2v
