#include "simd/reference.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace le::test {
float refF16ToF32(uint16_t h) {
  const int exponent = (h >> 10) & 31;
  const int mantissa = h & 1023;
  const bool negative = h & 0x8000;
  if (exponent == 31) {
    return fromBits((negative ? 0x80000000u : 0u) | 0x7F800000u |
                    (static_cast<uint32_t>(mantissa) << 13));
  }
  const double magnitude = exponent == 0 ? std::ldexp(mantissa, -24)
                                         : std::ldexp(mantissa + 1024, exponent - 25);
  return static_cast<float>(negative ? -magnitude : magnitude);
}

uint16_t refF32ToF16(float f) {
  const uint32_t bits = bitsOf(f);
  const uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000);
  if (std::isnan(f)) return sign | 0x7E00 | ((bits >> 13) & 0x3FF);
  if (std::isinf(f)) return sign | 0x7C00;
  const double a = std::fabs(static_cast<double>(f));
  int e = 0;
  std::frexp(a, &e);  // a = m * 2^e, m in [0.5, 1)
  const double quantum = std::ldexp(1.0, std::max(e - 1, -14) - 10);
  const double value = std::nearbyint(a / quantum) * quantum;  // ties to even
  if (value >= 65536.0) return sign | 0x7C00;
  if (value < std::ldexp(1.0, -14)) return sign | static_cast<uint16_t>(std::ldexp(value, 24));
  std::frexp(value, &e);
  const int exponent = e - 1 + 15;
  const int mantissa = static_cast<int>(std::ldexp(value, 11 - e)) - 1024;
  return sign | static_cast<uint16_t>(exponent << 10 | mantissa);
}

float refRoundF16(float f) { return refF16ToF32(refF32ToF16(f)); }

namespace {

float meanAbsDiff(const uint16_t* a, const uint16_t* b, size_t stride, size_t i) {
  float s = 0.0f;
  for (size_t c = 0; c < 3; ++c) {
    const float delta = refRoundF16(refF16ToF32(a[c * stride + i]) - refF16ToF32(b[c * stride + i]));
    s = c == 0 ? std::fabs(delta) : s + std::fabs(delta);
  }
  return refRoundF16(s / 3.0f);
}

}  // namespace

float refRetrieveExactRange(const uint16_t* a, const uint16_t* b, const float* w, size_t stride,
                            size_t begin, size_t end) {
  float total = 0.0f;
  for (size_t i = begin; i < end; ++i) {
    if (w[i] == 0.0f) continue;
    const float term = w[i] * meanAbsDiff(a, b, stride, i);
    total += term;
  }
  return total;
}

float refRetrievePooled(const uint16_t* a, const uint16_t* b, const uint16_t* w, size_t n) {
  float total = 0.0f;
  for (size_t i = 0; i < n; ++i) {
    const float term = refRoundF16(meanAbsDiff(a, b, n, i) * refF16ToF32(w[i]));
    total += term;
  }
  return total;
}

ConvPixel refConv3x3(const float* in, int cin, int height, int width, const float* weights,
                     const float* bias, int cout, int k, int y, int x) {
  const int image = k / cout;
  const int o = k % cout;
  ConvPixel p{0.0, 0.0};
  for (int c = 0; c < cin; ++c) {
    for (int ky = 0; ky < 3; ++ky) {
      for (int kx = 0; kx < 3; ++kx) {
        const int sy = y + ky - 1;
        const int sx = x + kx - 1;
        if (sy < 0 || sx < 0 || sy >= height || sx >= width) continue;
        const double term =
            static_cast<double>(weights[((o * cin + c) * 3 + ky) * 3 + kx]) *
            in[((static_cast<size_t>(image) * cin + c) * height + sy) * width + sx];
        p.value += term;
        p.magnitude += std::fabs(term);
      }
    }
  }
  p.value += bias[o];
  p.magnitude += std::fabs(bias[o]);
  return p;
}

void refBlurRow(const float* first, size_t stride, const float* kernel, int taps, float* out,
                size_t n) {
  for (size_t x = 0; x < n; ++x) {
    float sum = 0.0f;
    for (int i = 0; i < taps; ++i) {
      const float product = kernel[i] * first[static_cast<size_t>(i) * stride + x];
      sum += product;
    }
    out[x] = sum;
  }
}

void refSharpenRow(float* row, const float* blur, float amount, size_t n) {
  for (size_t x = 0; x < n; ++x) {
    const float keep = (1.0f + amount) * row[x];
    const float take = amount * blur[x];
    const float v = keep - take;
    row[x] = v > 0.0f ? std::min(v, 255.0f) : 0.0f;
  }
}

void refPasteRow(const float* crop4, int side, const uint8_t* mask, const float* lanczosTaps,
                 const float* bilinearTaps, const int* colU, const int* colV, int rowU, int rowV,
                 int x0, int x1, uint8_t* rowOut) {
  auto maskAt = [&](int x, int y) -> float {
    return x < 0 || y < 0 || x >= side || y >= side ? 0.0f : mask[y * side + x];
  };
  for (int x = x0; x <= x1; ++x) {
    const int u = rowU + colU[x - x0];
    const int v = rowV + colV[x - x0];
    const int px = static_cast<int>(std::floor(u / 1024.0));
    const int py = static_cast<int>(std::floor(v / 1024.0));
    if (u < -1024 || v < -1024 || px >= side || py >= side) continue;
    const int fu = static_cast<int>(std::floor(u / 32.0)) & 31;
    const int fv = static_cast<int>(std::floor(v / 32.0)) & 31;
    const float* bx = bilinearTaps + 2 * fu;
    const float* by = bilinearTaps + 2 * fv;
    const float top = maskAt(px, py) * bx[0] + maskAt(px + 1, py) * bx[1];
    const float bottom = maskAt(px, py + 1) * bx[0] + maskAt(px + 1, py + 1) * bx[1];
    const float alpha = std::nearbyint(top * by[0] + bottom * by[1]) / 255.0f;
    if (alpha <= 0.0f) continue;
    const float* across = lanczosTaps + fu * 8;
    const float* down = lanczosTaps + fv * 8;
    for (int c = 0; c < 3; ++c) {
      // Per source row: q_k = a[k] p[k] + a[k+4] p[k+4], halves q_0 + q_2 and q_1 + q_3, each
      // weighted by the row's down tap; each half's eight rows added pairwise, then in pairs of
      // pairs, then the two groups of four; the two halves added last. Pixels outside the crop
      // count 0.
      auto pixel = [&](int sx, int sy) -> float {
        return sx < 0 || sy < 0 || sx >= side || sy >= side ? 0.0f
                                                             : crop4[(sy * side + sx) * 4 + c];
      };
      float rows[2][8];
      for (int j = 0; j < 8; ++j) {
        const int sy = py - 3 + j;
        float q[4];
        for (int k = 0; k < 4; ++k) {
          const float left = across[k] * pixel(px - 3 + k, sy);
          const float right = across[k + 4] * pixel(px + 1 + k, sy);
          q[k] = left + right;
        }
        const float h0 = q[0] + q[2];
        const float h1 = q[1] + q[3];
        rows[0][j] = down[j] * h0;
        rows[1][j] = down[j] * h1;
      }
      float sums[2];
      for (int e = 0; e < 2; ++e) {
        const float* r = rows[e];
        const float pairs[4] = {r[0] + r[1], r[2] + r[3], r[4] + r[5], r[6] + r[7]};
        const float fours[2] = {pairs[0] + pairs[1], pairs[2] + pairs[3]};
        sums[e] = fours[0] + fours[1];
      }
      const float half0 = sums[0], half1 = sums[1];
      const float total = half0 + half1;
      const float dst = rowOut[3 * x + c];
      const float keep = dst * (1.0f - alpha);
      const float add = alpha * total;
      rowOut[3 * x + c] = static_cast<uint8_t>(std::clamp(keep + add, 0.0f, 255.0f));
    }
  }
}

void refYuvRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, int chromaStep,
               uint8_t* rgb) {
  auto clampShift = [](int value) {
    return static_cast<uint8_t>(std::clamp(static_cast<int>(std::floor(value / 256.0)), 0, 255));
  };
  for (int x = 0; x < width; ++x) {
    const int k = chromaStep * (x / 2);
    const int c = y[x] - 16, d = u[k] - 128, e = v[k] - 128;
    rgb[3 * x + 0] = clampShift(298 * c + 409 * e + 128);
    rgb[3 * x + 1] = clampShift(298 * c - 100 * d - 208 * e + 128);
    rgb[3 * x + 2] = clampShift(298 * c + 516 * d + 128);
  }
}

namespace {

// The source value at (x + dx, y + dy), clamped to the image.
float sourceAt(const float* channel, int width, int height, int x, int y) {
  return channel[std::clamp(y, 0, height - 1) * width + std::clamp(x, 0, width - 1)];
}

float secondDiffY(const float* channel, int width, int height, int x, int y) {
  return sourceAt(channel, width, height, x, y - 1) - 2.0f * sourceAt(channel, width, height, x, y) +
         sourceAt(channel, width, height, x, y + 1);
}

struct AxisTaps {
  int lo, hi;
  float fraction, curvature;
};

AxisTaps axisTaps(float g, int size) {
  const float position = ((1.0f + g) * static_cast<float>(size) - 1.0f) * 0.5f;
  const float t = position - std::floor(position);
  float clamped = position >= 0.0f ? position : 0.0f;
  clamped = clamped <= static_cast<float>(size - 1) ? clamped : static_cast<float>(size - 1);
  const int lo = static_cast<int>(std::floor(clamped));
  return {lo, std::min(lo + 1, size - 1), clamped - std::floor(clamped), (1.0f - t) * t * 0.5f};
}

}  // namespace

std::vector<float> refWarpPlanes(const float* src, int width, int height) {
  std::vector<float> planes(static_cast<size_t>(width) * height * 12);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) {
        const float* channel = src + static_cast<size_t>(c) * width * height;
        auto n = [&](int dx, int dy) { return sourceAt(channel, width, height, x + dx, y + dy); };
        auto dyy = [&](int dx) { return secondDiffY(channel, width, height, x + dx, y); };
        float* p = planes.data() + (static_cast<size_t>(y) * width + x) * 12 + c * 4;
        p[0] = n(0, 0);
        p[1] = n(-1, 0) - 2.0f * n(0, 0) + n(1, 0);
        p[2] = dyy(0);
        p[3] = dyy(-1) - 2.0f * dyy(0) + dyy(1);
      }
  return planes;
}

std::vector<float> refWarpGather(const std::vector<float>& planes, const float* grid, int width, int height) {
  std::vector<float> out(static_cast<size_t>(3) * width * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const float* g = grid + (static_cast<size_t>(y) * width + x) * 2;
      const AxisTaps tx = axisTaps(g[0], width), ty = axisTaps(g[1], height);
      const float a = tx.curvature, b = ty.curvature;
      const float w00 = (1.0f - tx.fraction) * (1.0f - ty.fraction);
      const float w10 = tx.fraction * (1.0f - ty.fraction);
      const float w01 = (1.0f - tx.fraction) * ty.fraction;
      const float w11 = tx.fraction * ty.fraction;
      auto corner = [&](int px, int py, int c, int k) {
        return planes[(static_cast<size_t>(py) * width + px) * 12 + c * 4 + k];
      };
      for (int c = 0; c < 3; ++c) {
        float s[4];
        for (int k = 0; k < 4; ++k)
          s[k] = w00 * corner(tx.lo, ty.lo, c, k) + w10 * corner(tx.hi, ty.lo, c, k) +
                 w01 * corner(tx.lo, ty.hi, c, k) + w11 * corner(tx.hi, ty.hi, c, k);
        out[(static_cast<size_t>(c) * height + y) * width + x] = s[0] - a * s[1] - b * s[2] + a * b * s[3];
      }
    }
  return out;
}

}  // namespace le::test
