#include "tessera/teeth_dtable.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "simd/half.h"
#include "simd/simd.h"

namespace le::tessera {

namespace {

std::vector<float> buildTable() {
  float level[256];
  for (int i = 0; i < 256; ++i) level[i] = roundedToHalf(float(i) / 255.f);
  std::vector<float> table(256 * 256);
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) table[size_t(a) * 256 + b] = std::fabs(roundedToHalf(level[b] - level[a]));
  return table;
}

}  // namespace

float roundedToHalf(float value) {
  const uint16_t half = le::f32ToF16(value);
  float widened = 0.f;
  le::halfToFloat(&half, &widened, 1);
  return widened;
}

const float* dTable() {
  // A function-local static is initialised once, under the compiler's thread-safe guard.
  static const std::vector<float> table = buildTable();
  return table.data();
}

}  // namespace le::tessera

namespace le::tessera {

float addExactRow(float sum, const uint8_t* live, const uint8_t* donor, const float* mask, size_t n, float* distance,
                  float* product) {
  const float* table = dTable();
  for (size_t x = 0; x < n; ++x) {
    const uint8_t* l = live + 3 * x;
    const uint8_t* d = donor + 3 * x;
    distance[x] = (table[l[0] * 256 + d[0]] + table[l[1] * 256 + d[1]] + table[l[2] * 256 + d[2]]) / 3.f;
  }
  simd::roundF16Mul(distance, mask, product, n);
  for (size_t x = 0; x < n; ++x)
    if (mask[x] != 0.f) sum += product[x];
  return sum;
}

}  // namespace le::tessera
