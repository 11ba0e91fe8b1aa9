// Writes the talking video: H.264 frames (RGB in) and AAC audio (16 kHz mono 16-bit in) muxed into
// an MP4 with FFmpeg's libraries.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace le_speak {

class TalkWriter {
 public:
  // Opens path for writing; width and height must be even (4:2:0 video, BT.709 limited range,
  // tagged so). Video at fps frames a second with libx264 (another H.264 encoder, else, with a
  // warning on standard error, FFmpeg's mpeg4); audio with FFmpeg's aac encoder at audioRate.
  // Throws std::runtime_error naming the step that failed; a file it had created is removed again.
  TalkWriter(const std::string& path, int width, int height, int fps, int audioRate);
  // Abandons the file unless finish() succeeded.
  ~TalkWriter();
  TalkWriter(const TalkWriter&) = delete;
  TalkWriter& operator=(const TalkWriter&) = delete;

  // Appends one video frame (width x height x 3 bytes) and the audio that plays during it
  // (audioRate / fps samples).
  void write(const uint8_t* rgb, const int16_t* audio, int audioCount);
  // Drains both encoders, writes the trailer and closes the file; later calls do nothing.
  void finish();
  // Closes an unfinished file and removes it when it is a regular file; returns the note for the
  // error message ("; removed the unfinished PATH"), empty when nothing was removed.
  std::string abandon();
  const std::string& path() const;
  // The video encoder in use ("libx264" when present).
  const char* videoEncoder() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace le_speak
