#include "audio/fca_features.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "audio/w2v_features.h"

namespace le::fca {

namespace {

constexpr int kFirstLayer = 4;
constexpr int kLayerCount = 6;
constexpr int kFirstOffset = -1;

double norm(const float* feature) {
  double sum = 0.0;
  for (int c = 0; c < kFeatureChannels; ++c) sum += double(feature[c]) * double(feature[c]);
  return std::sqrt(sum);
}

// The 20th percentile of the sorted norms, interpolated linearly between neighbours.
double percentile20(const std::vector<double>& sorted) {
  const double p = 0.2 * double(sorted.size() - 1);
  const size_t lo = size_t(std::floor(p)), hi = size_t(std::ceil(p));
  return sorted[lo] + (sorted[hi] - sorted[lo]) * (p - double(lo));
}

}  // namespace

void averageLayers(const float* encoderFrame, float* feature) {
  for (int c = 0; c < kFeatureChannels; ++c) {
    float sum = 0.f;
    for (int l = kFirstLayer; l < kFirstLayer + kLayerCount; ++l) sum += encoderFrame[size_t(l) * w2v::kChannels + c];
    feature[c] = sum / float(kLayerCount);
  }
}

void centreVoiced(const float* features, int64_t frames, float* centred) {
  std::vector<double> sortedNorms;
  std::vector<float> sum(kFeatureChannels, 0.f);
  int64_t voiced = 0;
  for (int64_t k = 0; k < frames; ++k) {
    const float* feature = features + size_t(k) * kFeatureChannels;
    const double n = norm(feature);
    sortedNorms.insert(std::upper_bound(sortedNorms.begin(), sortedNorms.end(), n), n);
    const bool isVoiced = k < kPercentileFrom ? n > 0.0 : n > percentile20(sortedNorms);
    if (isVoiced) {
      for (int c = 0; c < kFeatureChannels; ++c) sum[size_t(c)] += feature[c];
      ++voiced;
    }
    const float scale = 1.f / float(std::max<int64_t>(voiced, 1));
    float* out = centred + size_t(k) * kFeatureChannels;
    for (int c = 0; c < kFeatureChannels; ++c) out[c] = feature[c] - sum[size_t(c)] * scale;
  }
}

void windowRows(const float* centred, int64_t frames, int64_t k, float* cond) {
  for (int o = 0; o < kWindowFrames; ++o) {
    const int64_t row = std::clamp<int64_t>(k + kFirstOffset + o, 0, frames - 1);
    std::memcpy(cond + size_t(o) * kFeatureChannels, centred + size_t(row) * kFeatureChannels,
                sizeof(float) * kFeatureChannels);
  }
}

}  // namespace le::fca
