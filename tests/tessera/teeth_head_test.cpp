// The blend head's forward pass against a plain float implementation written here from the
// network's description, and the behaviour of the bundle's set head.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "tessera/teeth_head.h"
#include "tessera/teeth_pass_fixture.h"

namespace le::tessera {
namespace {

using Planes = std::vector<float>;

HeadWeights randomHead(uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> normal(0.f, 0.3f);
  const auto fill = [&](size_t n) {
    std::vector<float> v(n);
    for (float& x : v) x = normal(rng);
    return v;
  };
  HeadWeights h;
  h.cand0Weight = fill(16 * 7 * 9);
  h.cand0Bias = fill(16);
  h.cand2Weight = fill(16 * 16 * 9);
  h.cand2Bias = fill(16);
  h.cand4Weight = fill(16 * 9);
  h.cand4Bias = fill(1);
  return h;
}

// in [cin][h][w] -> out [cout][h][w], zero padding, optional ReLU.
Planes conv(const Planes& in, int cin, int h, int w, const std::vector<float>& wt, const std::vector<float>& bias,
            int cout, bool relu) {
  Planes out(size_t(cout) * h * w);
  for (int o = 0; o < cout; ++o)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        double sum = 0.0;
        for (int c = 0; c < cin; ++c)
          for (int ky = 0; ky < 3; ++ky)
            for (int kx = 0; kx < 3; ++kx) {
              const int sy = y + ky - 1, sx = x + kx - 1;
              if (sy >= 0 && sy < h && sx >= 0 && sx < w)
                sum += double(wt[((o * cin + c) * 3 + ky) * 3 + kx]) * in[(size_t(c) * h + sy) * w + sx];
            }
        const float v = float(sum) + bias[size_t(o)];
        out[(size_t(o) * h + y) * w + x] = relu ? std::max(v, 0.f) : v;
      }
  return out;
}

Planes pool2(const float* in, int planes, int h, int w) {
  Planes out(size_t(planes) * (h / 2) * (w / 2));
  for (int p = 0; p < planes; ++p)
    for (int y = 0; y < h / 2; ++y)
      for (int x = 0; x < w / 2; ++x) {
        const float* at = in + (size_t(p) * h + 2 * y) * w + 2 * x;
        out[(size_t(p) * (h / 2) + y) * (w / 2) + x] = (at[0] + at[1] + at[w] + at[w + 1]) / 4.f;
      }
  return out;
}

// Bilinear 2x with half-pixel centres, clamped at the low edge and at the last source index.
float upsampled(const Planes& map, int h2, int w2, int y, int x) {
  const auto source = [](int o, int size, int& i0, int& i1) {
    const double s = std::max((o + 0.5) * 0.5 - 0.5, 0.0);
    i0 = std::min(int(std::floor(s)), size - 1);
    i1 = std::min(i0 + 1, size - 1);
    return s - i0;
  };
  int y0, y1, x0, x1;
  const double wy = source(y, h2, y0, y1), wx = source(x, w2, x0, x1);
  const auto at = [&](int r, int c) { return double(map[size_t(r) * w2 + c]); };
  return float((1 - wy) * ((1 - wx) * at(y0, x0) + wx * at(y0, x1)) + wy * ((1 - wx) * at(y1, x0) + wx * at(y1, x1)));
}

struct Reference {
  Planes blended;
  std::vector<double> totals;
};

Reference referenceForward(const HeadWeights& head, const Planes& cands, int count, const Planes& live, int h, int w,
                           const std::vector<uint8_t>& mask) {
  const int h2 = h / 2, w2 = w / 2;
  const size_t full = size_t(h) * w, half = size_t(h2) * w2;
  const Planes livePooled = pool2(live.data(), 3, h, w);
  std::vector<Planes> logits;
  for (int k = 0; k < count; ++k) {
    Planes input = pool2(cands.data() + size_t(k) * 3 * full, 3, h, w);
    input.insert(input.end(), livePooled.begin(), livePooled.end());
    for (size_t p = 0; p < half; ++p) {
      double d = 0;
      for (int c = 0; c < 3; ++c) d += std::fabs(input[c * half + p] - livePooled[c * half + p]);
      input.push_back(float(d / 3));
    }
    const Planes a = conv(input, 7, h2, w2, head.cand0Weight, head.cand0Bias, 16, true);
    const Planes b = conv(a, 16, h2, w2, head.cand2Weight, head.cand2Bias, 16, true);
    logits.push_back(conv(b, 16, h2, w2, head.cand4Weight, head.cand4Bias, 1, false));
  }
  Reference ref{Planes(3 * full), std::vector<double>(size_t(count), 0.0)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const size_t p = size_t(y) * w + x;
      std::vector<double> weight(static_cast<size_t>(count));
      double largest = -1e300, sum = 0;
      for (int k = 0; k < count; ++k) {
        weight[k] = upsampled(logits[k], h2, w2, y, x);
        largest = std::max(largest, weight[k]);
      }
      for (double& v : weight) sum += (v = std::exp(v - largest));
      for (int k = 0; k < count; ++k) ref.totals[k] += (weight[k] /= sum);
      for (int c = 0; c < 3; ++c) {
        double v = 0;
        for (int k = 0; k < count; ++k) v += weight[k] * cands[(size_t(k) * 3 + c) * full + p];
        ref.blended[c * full + p] = mask[p] ? float(v) : live[c * full + p];
      }
    }
  return ref;
}

Planes randomPlanes(std::mt19937& rng, size_t n) {
  std::uniform_real_distribution<float> unit(0.f, 1.f);
  Planes v(n);
  for (float& x : v) x = unit(rng);
  return v;
}

// Odd sizes exercise the dropped pooling remainder and the clamped last upsampling index.
TEST(TeethHead, ForwardMatchesAPlainFloatReference) {
  for (const auto& [count, h, w] : {std::array<int, 3>{3, 9, 7}, std::array<int, 3>{5, 12, 17}}) {
    std::mt19937 rng(uint32_t(count * 100 + h));
    const HeadWeights head = randomHead(uint32_t(w));
    const Planes cands = randomPlanes(rng, size_t(count) * 3 * h * w), live = randomPlanes(rng, 3 * size_t(h) * w);
    std::vector<uint8_t> mask(size_t(h) * w);
    for (auto& m : mask) m = uint8_t(rng() % 3 != 0);
    HeadOutput out;
    headForward(head, {cands.data(), count, live.data(), h, w, mask.data()}, out);
    const Reference ref = referenceForward(head, cands, count, live, h, w, mask);
    for (size_t i = 0; i < ref.blended.size(); ++i) ASSERT_NEAR(out.blended[i], ref.blended[i], 2e-5) << i;
    for (int k = 0; k < count; ++k) EXPECT_NEAR(out.totals[size_t(k)], ref.totals[size_t(k)], 1e-3) << k;
    EXPECT_EQ(out.synth, std::vector<float>(size_t(h) * w, 0.f));
  }
}

TEST(TeethHead, IdenticalCandidatesShareTheWeightAndBlendToThemselves) {
  std::mt19937 rng(3);
  const int count = 4, h = 10, w = 8;
  const Planes one = randomPlanes(rng, 3 * size_t(h) * w), live = randomPlanes(rng, one.size());
  Planes cands;
  for (int k = 0; k < count; ++k) cands.insert(cands.end(), one.begin(), one.end());
  const std::vector<uint8_t> mask(size_t(h) * w, 1);
  HeadOutput out;
  headForward(randomHead(5), {cands.data(), count, live.data(), h, w, mask.data()}, out);
  for (size_t i = 0; i < one.size(); ++i) ASSERT_NEAR(out.blended[i], one[i], 1e-6);
  for (double total : out.totals) EXPECT_NEAR(total, h * w / 4.0, 1e-4);
}

// A window too small to pool gives every candidate the same weight.
TEST(TeethHead, WindowTooSmallToPoolBlendsUniformly) {
  const Planes cands = {0.2f, 0.4f, 0.6f, 0.8f, 1.0f, 0.0f}, live = {0.5f, 0.5f, 0.5f};
  const std::vector<uint8_t> mask = {1};
  HeadOutput out;
  headForward(randomHead(9), {cands.data(), 2, live.data(), 1, 1, mask.data()}, out);
  EXPECT_NEAR(out.blended[0], 0.5f, 1e-6);
  EXPECT_NEAR(out.blended[1], 0.7f, 1e-6);
  EXPECT_NEAR(out.blended[2], 0.3f, 1e-6);
}

// The bundle's head is set to prefer the candidate that matches the live window: among a copy of
// the live window and copies shifted in brightness, the copy takes nearly all the weight.
TEST(TeethHead, SetHeadFavoursTheCandidateThatMatchesTheLiveWindow) {
  std::mt19937 rng(8);
  const int h = 12, w = 16;
  const size_t full = size_t(h) * w;
  const Planes live = randomPlanes(rng, 3 * full);
  Planes cands;
  for (float offset : {0.15f, 0.0f, -0.1f})
    for (float v : live) cands.push_back(std::clamp(v + offset, 0.f, 1.f));
  const std::vector<uint8_t> mask(full, 1);
  HeadOutput out;
  headForward(test::testBank().head, {cands.data(), 3, live.data(), h, w, mask.data()}, out);
  EXPECT_GT(out.totals[1], 0.9 * double(full));
  double diff = 0;
  for (size_t i = 0; i < live.size(); ++i) diff += std::fabs(out.blended[i] - live[i]);
  EXPECT_LT(diff / double(live.size()), 0.01);
}

}  // namespace
}  // namespace le::tessera
