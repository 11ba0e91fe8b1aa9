// Normalisation of one speech-encoder input window.
#include "audio/w2v_normalise.h"

#include <cmath>

namespace le::w2v {

void normaliseWindow(float* x, size_t n) {
  if (n == 0) return;
  double sum = 0.0;
  for (size_t i = 0; i < n; ++i) sum += x[i];
  const double mean = sum / double(n);
  double squares = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double d = x[i] - mean;
    squares += d * d;
  }
  const float variance = float(squares / double(n));
  const float stddev = std::sqrt(variance + 1e-7f);
  const double inverse = 1.0 / double(stddev);
  for (size_t i = 0; i < n; ++i) x[i] = float((x[i] - mean) * inverse);
}

}  // namespace le::w2v
