#include "tessera/teeth_head.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

#include "pool/pool.h"
#include "simd/simd.h"
#include "tessera/teeth_pooling.h"

namespace le::tessera {

namespace {

constexpr int kHidden = 16;        // channels of the candidate network's hidden layers
constexpr int kInputPlanes = 7;    // candidate RGB, live RGB, mean |candidate - live|
// The first layer's input planes that differ between candidates (candidate RGB and the difference)
// and those every candidate shares (live RGB).
constexpr std::array<int, 4> kOwnPlanes = {0, 1, 2, 6};
constexpr std::array<int, 3> kLivePlanes = {3, 4, 5};
constexpr size_t kPixelGrain = 256;

// One output index of the 2x bilinear upsampling: the two source indices and the second's weight.
struct Tap {
  int i0 = 0;
  int i1 = 0;
  float weight = 0.f;
};

// Half-pixel centres: s = max((o + 0.5) / 2 - 0.5, 0), i0 = floor(s), i1 = min(i0 + 1, size - 1).
std::vector<Tap> upsampleTaps(int outSize, int inSize) {
  std::vector<Tap> taps(size_t(std::max(outSize, 0)));
  for (int o = 0; o < outSize; ++o) {
    const float s = std::max((float(o) + 0.5f) * 0.5f - 0.5f, 0.f);
    const int i0 = std::min(int(std::floor(s)), inSize - 1);
    taps[size_t(o)] = {i0, std::min(i0 + 1, inSize - 1), s - float(i0)};
  }
  return taps;
}

// The first layer's weights restricted to some of its input planes: [16][planes][3][3].
template <size_t kPlanes>
std::vector<float> firstLayerWeights(const std::vector<float>& weights, const std::array<int, kPlanes>& planes) {
  std::vector<float> out;
  for (int o = 0; o < kHidden; ++o)
    for (int c : planes) {
      const auto kernel = weights.begin() + (o * kInputPlanes + c) * 9;
      out.insert(out.end(), kernel, kernel + 9);
    }
  return out;
}

// Every candidate's own input planes (its pooled planes and their mean absolute difference over
// channels from the pooled live planes), and the pooled live planes once.
void buildCandidatePlanes(const HeadFrame& frame, int h2, int w2, HeadOutput& out) {
  const size_t half = size_t(h2) * w2, full = size_t(frame.height) * frame.width;
  out.livePooled.resize(3 * half);
  averagePool(frame.live, 3, frame.height, frame.width, 2, out.livePooled.data());
  const float* live = out.livePooled.data();
  out.planes.resize(size_t(frame.count) * kOwnPlanes.size() * half);
  pool::parallelRange(size_t(frame.count), 1, [&](size_t begin, size_t end) {
    for (size_t k = begin; k < end; ++k) {
      float* planes = out.planes.data() + k * kOwnPlanes.size() * half;
      averagePool(frame.candidates + k * 3 * full, 3, frame.height, frame.width, 2, planes);
      for (size_t p = 0; p < half; ++p) {
        const float d = std::fabs(planes[p] - live[p]) + std::fabs(planes[half + p] - live[half + p]) +
                        std::fabs(planes[2 * half + p] - live[2 * half + p]);
        planes[3 * half + p] = d / 3.f;
      }
    }
  });
}

// One 3x3 convolution over every image of `in`, plus `shared` (one plane per output channel, the
// same for every image) when given, optionally followed by ReLU.
void convLayer(const std::vector<float>& in, int count, int cin, int h2, int w2, const std::vector<float>& weights,
               const std::vector<float>& bias, int cout, const float* shared, bool relu, std::vector<float>& out) {
  const size_t plane = size_t(h2) * w2;
  out.resize(size_t(count) * cout * plane);
  pool::parallelRange(size_t(count) * cout, 1, [&](size_t begin, size_t end) {
    simd::conv3x3Range(in.data(), count, cin, h2, w2, weights.data(), bias.data(), cout, out.data(), int(begin),
                       int(end));
    for (size_t k = begin; k < end; ++k) {
      float* v = out.data() + k * plane;
      const float* add = shared ? shared + (k % size_t(cout)) * plane : nullptr;
      for (size_t p = 0; p < plane; ++p) {
        const float x = add ? v[p] + add[p] : v[p];
        v[p] = relu ? std::max(x, 0.f) : x;
      }
    }
  });
}

// The live planes are the same for every candidate, so their part of the first layer, with the
// layer's bias, is computed once and added to each candidate's part.
void candidateNetwork(const HeadWeights& head, int count, int h2, int w2, HeadOutput& out) {
  const std::vector<float> ownWeights = firstLayerWeights(head.cand0Weight, kOwnPlanes);
  const std::vector<float> liveWeights = firstLayerWeights(head.cand0Weight, kLivePlanes);
  const std::vector<float> noBias(kHidden, 0.f);
  convLayer(out.livePooled, 1, int(kLivePlanes.size()), h2, w2, liveWeights, head.cand0Bias, kHidden, nullptr, false,
            out.shared);
  convLayer(out.planes, count, int(kOwnPlanes.size()), h2, w2, ownWeights, noBias, kHidden, out.shared.data(), true,
            out.hidden);
  convLayer(out.hidden, count, kHidden, h2, w2, head.cand2Weight, head.cand2Bias, kHidden, nullptr, true, out.hidden2);
  convLayer(out.hidden2, count, kHidden, h2, w2, head.cand4Weight, head.cand4Bias, 1, nullptr, false, out.logits);
}

float bilinear(const float* map, int w2, const Tap& row, const Tap& col) {
  const float* top = map + size_t(row.i0) * w2;
  const float* bottom = map + size_t(row.i1) * w2;
  const float upper = (1.f - col.weight) * top[col.i0] + col.weight * top[col.i1];
  const float lower = (1.f - col.weight) * bottom[col.i0] + col.weight * bottom[col.i1];
  return (1.f - row.weight) * upper + row.weight * lower;
}

// Softmax and blend of pixels [begin, end) in blocks: the upsampled logits of every candidate (all
// 0 when the pooled window is empty), their maximum and the sum of the exponentials per pixel,
// then the weights and the blend candidate by candidate, so that the inner loops run over
// contiguous pixels.
void softmaxBlend(const HeadFrame& frame, const std::vector<Tap>& rows, const std::vector<Tap>& cols, int w2,
                  size_t begin, size_t end, HeadOutput& out) {
  const size_t full = size_t(frame.height) * frame.width, count = size_t(frame.count);
  const size_t half = rows.empty() ? 0 : size_t(frame.height / 2) * w2;
  std::vector<float> logit(count * kPixelGrain), largest(kPixelGrain), sum(kPixelGrain), blend(3 * kPixelGrain);
  std::vector<const Tap*> rowTaps(kPixelGrain), colTaps(kPixelGrain);
  for (size_t first = begin; first < end; first += kPixelGrain) {
    const size_t n = std::min(kPixelGrain, end - first);
    if (half) {
      for (size_t j = 0; j < n; ++j) {
        rowTaps[j] = &rows[(first + j) / size_t(frame.width)];
        colTaps[j] = &cols[(first + j) % size_t(frame.width)];
      }
    }
    for (size_t k = 0; k < count; ++k)
      for (size_t j = 0; j < n; ++j)
        logit[k * kPixelGrain + j] = half ? bilinear(out.logits.data() + k * half, w2, *rowTaps[j], *colTaps[j]) : 0.f;
    std::fill(largest.begin(), largest.end(), -INFINITY);
    for (size_t k = 0; k < count; ++k)
      for (size_t j = 0; j < n; ++j) largest[j] = std::max(largest[j], logit[k * kPixelGrain + j]);
    std::fill(sum.begin(), sum.end(), 0.f);
    for (size_t k = 0; k < count; ++k)
      for (size_t j = 0; j < n; ++j) {
        float& v = logit[k * kPixelGrain + j];
        sum[j] += (v = std::exp(v - largest[j]));
      }
    std::fill(blend.begin(), blend.end(), 0.f);
    for (size_t k = 0; k < count; ++k) {
      float* weight = out.weights.data() + k * full + first;
      for (size_t j = 0; j < n; ++j) weight[j] = logit[k * kPixelGrain + j] / sum[j];
      for (size_t c = 0; c < 3; ++c) {
        const float* candidate = frame.candidates + (k * 3 + c) * full + first;
        for (size_t j = 0; j < n; ++j) blend[c * kPixelGrain + j] += weight[j] * candidate[j];
      }
    }
    for (size_t c = 0; c < 3; ++c)
      for (size_t j = 0; j < n; ++j) {
        const size_t p = first + j;
        out.blended[c * full + p] = frame.mask[p] ? blend[c * kPixelGrain + j] : frame.live[c * full + p];
      }
  }
}

// Each candidate's weight summed over the window in pixel order, so that the totals do not depend
// on how the softmax was split over threads.
void weightTotals(const HeadFrame& frame, HeadOutput& out) {
  const size_t full = size_t(frame.height) * frame.width;
  out.totals.assign(size_t(frame.count), 0.0);
  pool::parallelRange(size_t(frame.count), 1, [&](size_t begin, size_t end) {
    for (size_t k = begin; k < end; ++k) {
      double total = 0.0;
      for (size_t p = 0; p < full; ++p) total += out.weights[k * full + p];
      out.totals[k] = total;
    }
  });
}

}  // namespace

void headForward(const HeadWeights& head, const HeadFrame& frame, HeadOutput& out) {
  const size_t full = size_t(frame.height) * frame.width;
  const int h2 = frame.height / 2, w2 = frame.width / 2;
  out.blended.resize(3 * full);
  out.weights.resize(size_t(frame.count) * full);
  out.synth.assign(full, 0.f);
  std::vector<Tap> rows, cols;
  if (h2 > 0 && w2 > 0) {
    buildCandidatePlanes(frame, h2, w2, out);
    candidateNetwork(head, frame.count, h2, w2, out);
    rows = upsampleTaps(frame.height, h2);
    cols = upsampleTaps(frame.width, w2);
  }
  pool::parallelRange(full, kPixelGrain, [&](size_t begin, size_t end) {
    softmaxBlend(frame, rows, cols, w2, begin, end, out);
  });
  weightTotals(frame, out);
}

}  // namespace le::tessera
