// The motion generator's debug dumps: raw f32 files in the directory named by LE_MOTION_DUMP.
#pragma once

#include <cstddef>
#include <string>

namespace le::audio {

class MotionDump {
 public:
  // Reads LE_MOTION_DUMP; dumping is off when it is unset or empty. The directory is created when
  // missing.
  MotionDump();

  bool on() const { return !dir_.empty(); }

  // Replaces the file `name` with n floats.
  void write(const char* name, const float* data, size_t n);
  // Appends n floats to the file `name`.
  void append(const char* name, const float* data, size_t n);

  // Starts a new utterance: the appended files begin empty again, and the first window and first
  // chunk are written anew.
  void restart();

  // Whether the first window and first chunk of this utterance are still to be written.
  bool firstWindowPending() const { return firstWindow_; }
  bool firstChunkPending() const { return firstChunk_; }
  void firstWindowDone() { firstWindow_ = false; }
  void firstChunkDone() { firstChunk_ = false; }

 private:
  void put(const char* name, const float* data, size_t n, const char* mode);

  std::string dir_;
  bool firstWindow_ = true;
  bool firstChunk_ = true;
  bool warned_ = false;
};

}  // namespace le::audio
