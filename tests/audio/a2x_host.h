// Host-side helpers of the le_a2x tests: the baked fixtures, an owning handle and the live loop a
// real host runs (push, pull what is ready, finish, pull the rest).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "le/le_a2x.h"

namespace le::test {

inline std::string fixture(const std::string& name) { return std::string(LE_TEST_FIXTURES) + "/" + name; }

// The 8 s encoder of a speech folder ("speech", "speech-legacy", ...).
inline std::string encoderOf(const std::string& speechFolder) { return fixture(speechFolder) + "/w2v_8s.onnx"; }

inline std::vector<float> utterance(const std::string& name) {
  std::ifstream in(fixture("utterances/" + name + ".f32"), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> samples(bytes.size() / sizeof(float));
  std::copy(bytes.data(), bytes.data() + samples.size() * sizeof(float), reinterpret_cast<char*>(samples.data()));
  return samples;
}

struct A2xCloser {
  void operator()(le_a2x* a) const { le_a2x_destroy(a); }
};
using A2xPtr = std::unique_ptr<le_a2x, A2xCloser>;

inline A2xPtr openA2x(const std::string& bundle, int threads = 1) {
  A2xPtr a(le_a2x_create(bundle.c_str(), threads));
  EXPECT_TRUE(a) << le_a2x_last_error();
  return a;
}

// Frames pulled from one utterance: rows, targets and keypoints, 63 floats per frame.
struct Pulled {
  std::vector<int32_t> rows;
  std::vector<float> target, kp, wn;
  size_t frames() const { return rows.size(); }
};

// Pulls every frame that is ready now, `max` at a time.
inline void pullReady(le_a2x* a, Pulled& out, int max) {
  std::vector<int32_t> rows(static_cast<size_t>(max));
  std::vector<float> target(size_t(max) * 63), kp(size_t(max) * 63), wn(static_cast<size_t>(max));
  while (le_a2x_avail(a) > 0) {
    const int got = le_a2x_pull_wn(a, rows.data(), target.data(), kp.data(), wn.data(), max);
    if (got <= 0) break;
    out.rows.insert(out.rows.end(), rows.begin(), rows.begin() + got);
    out.target.insert(out.target.end(), target.begin(), target.begin() + size_t(got) * 63);
    out.kp.insert(out.kp.end(), kp.begin(), kp.begin() + size_t(got) * 63);
    out.wn.insert(out.wn.end(), wn.begin(), wn.begin() + got);
  }
}

// The live loop: pushes of `pushSize` samples, each followed by pulling what is ready; finish; the
// rest.
inline Pulled runLive(le_a2x* a, const std::vector<float>& samples, size_t pushSize, int max = 16) {
  Pulled out;
  for (size_t at = 0; at < samples.size(); at += pushSize) {
    const size_t n = std::min(pushSize, samples.size() - at);
    EXPECT_EQ(le_a2x_push(a, samples.data() + at, int(n)), 1);
    pullReady(a, out, max);
  }
  le_a2x_finish(a);
  pullReady(a, out, max);
  return out;
}

// Motion of each pulled frame: keypoints minus target.
inline std::vector<float> motionOf(const Pulled& p) {
  std::vector<float> d(p.kp.size());
  for (size_t i = 0; i < d.size(); ++i) d[i] = p.kp[i] - p.target[i];
  return d;
}

inline float maxAbsDiff(const std::vector<float>& a, const std::vector<float>& b) {
  float worst = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) worst = std::max(worst, std::fabs(a[i] - b[i]));
  return worst;
}

// Test names from text parameters: letters and digits kept, everything else '_'.
inline std::string paramName(const std::string& text) {
  std::string name;
  for (char c : text) name.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
  return name;
}

}  // namespace le::test
