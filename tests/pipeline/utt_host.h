// Host-side helpers of the utterance pipeline tests: the baked fixtures, owning handles, and the
// calls a real host makes (push speech as 16-bit samples, pull frames as they come).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "le/le.h"
#include "le/le_utt.h"

namespace le::test {

inline std::string fixture(const std::string& name) { return std::string(LE_TEST_FIXTURES) + "/" + name; }

struct CtxCloser {
  void operator()(le_ctx* c) const { le_destroy(c); }
};
using CtxPtr = std::unique_ptr<le_ctx, CtxCloser>;

struct UttCloser {
  void operator()(le_utt* u) const { le_utt_destroy(u); }
};
using UttPtr = std::unique_ptr<le_utt, UttCloser>;

inline CtxPtr openSession(const std::string& bundle = "test") {
  CtxPtr ctx(le_create(fixture(bundle).c_str(), "b1", 2, ""));
  EXPECT_TRUE(ctx) << le_last_error();
  return ctx;
}

inline le_utt_opts optsFor(const std::string& motionDir) {
  le_utt_opts o{};
  o.motion_dir = motionDir.c_str();
  return o;
}

// Waits until the pipeline's warm-up is over; returns le_utt_ready's last answer.
inline int waitReady(le_utt* utt, double seconds = 120) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int r = 0;
  while ((r = le_utt_ready(utt)) == 0 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return r;
}

// Float speech at 16 kHz of the baked espeak-ng sentences, as the 16-bit samples a host pushes.
inline std::vector<int16_t> sentencePcm(const std::string& name) {
  std::ifstream in(fixture("sentences/" + name + ".f32"), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_FALSE(bytes.empty()) << "missing sentence " << name;
  std::vector<int16_t> pcm(bytes.size() / sizeof(float));
  for (size_t i = 0; i < pcm.size(); ++i) {
    float v;
    std::memcpy(&v, bytes.data() + i * sizeof(float), sizeof v);
    pcm[i] = int16_t(std::lround(std::fmax(-1.0f, std::fmin(1.0f, v)) * 32767.0f));
  }
  return pcm;
}

inline std::vector<float> readFloats(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> v(bytes.size() / sizeof(float));
  std::memcpy(v.data(), bytes.data(), v.size() * sizeof(float));
  return v;
}

struct Pulled {
  le_utt_frame_info info;
  std::vector<uint8_t> frame;
};

// Pulls one frame, polling for at most `seconds`; false when none came.
// How much longer than a plain build a sanitizer build takes to make a frame.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr double kSlowdown = 10;
#else
constexpr double kSlowdown = 1;
#endif

inline bool pullOne(le_utt* utt, Pulled& out, size_t frameBytes, double seconds = 20) {
  out.frame.resize(frameBytes);
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds * kSlowdown);
  while (std::chrono::steady_clock::now() < until) {
    if (le_utt_pull_frame(utt, out.frame.data(), out.frame.size(), &out.info) == 1) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

inline size_t frameBytesOf(le_ctx* ctx) { return size_t(le_width(ctx)) * size_t(le_height(ctx)) * 3; }

// Pulls frames until `stop` says so for the last one, at most maxFrames; the frames' infos.
template <class Stop>
std::vector<le_utt_frame_info> pullUntil(le_utt* utt, size_t frameBytes, size_t maxFrames, Stop stop,
                                         std::vector<std::vector<uint8_t>>* frames = nullptr) {
  std::vector<le_utt_frame_info> got;
  Pulled p;
  while (got.size() < maxFrames && pullOne(utt, p, frameBytes)) {
    got.push_back(p.info);
    if (frames) frames->push_back(p.frame);
    if (stop(got)) break;
  }
  return got;
}

inline int countKind(const std::vector<le_utt_frame_info>& v, int kind) {
  int n = 0;
  for (const auto& i : v) n += i.kind == kind;
  return n;
}

}  // namespace le::test
