// Shared by the motion generator's host-level tests: the baked motion directories, sentences and
// numpy reference files, and one utterance run through the public interface.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "le/le_motion.h"

namespace le::test {

inline const std::string kMotionFixtures = LE_TEST_FIXTURES;

inline std::string motionDir(const std::string& name) { return kMotionFixtures + "/" + name; }
inline std::string motionRef(const std::string& kase, const std::string& file) {
  return kMotionFixtures + "/motion-ref/" + kase + "/" + file;
}

template <class T>
std::vector<T> readRaw(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  EXPECT_TRUE(in) << "missing fixture " << path << " (build the le_fixtures target)";
  if (!in) return {};
  std::vector<T> v(size_t(in.tellg()) / sizeof(T));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(v.data()), std::streamsize(v.size() * sizeof(T)));
  return v;
}

inline std::vector<float> sentence(const std::string& name) {
  return readRaw<float>(kMotionFixtures + "/sentences/" + name + ".f32");
}

// What an utterance hands out, frame by frame.
struct MotionFrames {
  std::vector<int32_t> rows;
  std::vector<float> target, keypoints;
  size_t count() const { return rows.size(); }
};

// Pulls every frame ready now into out; returns how many.
inline int pullReady(le_motion* m, MotionFrames& out) {
  int got = 0;
  for (;;) {
    int32_t rows[16];
    float target[16 * 63], kp[16 * 63];
    const int n = le_motion_pull(m, rows, target, kp, 16);
    if (n <= 0) return got;
    out.rows.insert(out.rows.end(), rows, rows + n);
    out.target.insert(out.target.end(), target, target + n * 63);
    out.keypoints.insert(out.keypoints.end(), kp, kp + n * 63);
    got += n;
  }
}

// Pushes audio in pieces of `push` samples; after each piece calls avail and, when pullWhileStreaming,
// pulls what is ready. Then finishes and pulls the rest. `beforeFinish` receives the frames pulled
// before finish.
inline MotionFrames runUtterance(le_motion* m, const std::vector<float>& audio, size_t push,
                                 bool pullWhileStreaming, size_t* beforeFinish = nullptr) {
  MotionFrames frames;
  for (size_t at = 0; at < audio.size(); at += push) {
    const size_t n = std::min(push, audio.size() - at);
    EXPECT_EQ(le_motion_push(m, audio.data() + at, int(n)), 1) << le_motion_last_error();
    EXPECT_GE(le_motion_avail(m), 0);
    if (pullWhileStreaming) pullReady(m, frames);
  }
  if (beforeFinish) *beforeFinish = frames.count();
  le_motion_finish(m);
  pullReady(m, frames);
  EXPECT_STREQ(le_motion_last_error(), "");
  return frames;
}

// Owns a motion object.
struct MotionHandle {
  le_motion* m;
  explicit MotionHandle(const std::string& dir, int threads = 1, const char* ep = "")
      : m(le_motion_create(dir.c_str(), threads, ep)) {}
  ~MotionHandle() { le_motion_destroy(m); }
  MotionHandle(const MotionHandle&) = delete;
  MotionHandle& operator=(const MotionHandle&) = delete;
};

}  // namespace le::test
