// The table of half-precision differences between two 8-bit channel values, and the exact
// retrieval term's sum over one window row that looks pixels up in it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace le::tessera {

// h(value): value rounded to binary16, to nearest with ties to even, and widened back.
float roundedToHalf(float value);

// 256 x 256 floats, entry [a * 256 + b] = |h(v(b) - v(a))| with v(i) = h(i / 255), where h rounds
// to binary16 and widens back. Built once per process, on first use, from any thread.
const float* dTable();

// One row of the exact term over n pixels: per pixel d = (T[live R][donor R] + T[live G][donor G]
// + T[live B][donor B]) / 3 (RGB8 pixels, T the table) and the product h(d) * mask; returns `sum`
// with the products of the pixels whose mask is non-zero added one by one in column order.
// distance and product are n floats of scratch.
float addExactRow(float sum, const uint8_t* live, const uint8_t* donor, const float* mask, size_t n, float* distance,
                  float* product);

}  // namespace le::tessera
