// Writes an MP4 with FFmpeg's libraries: H.264 video from packed RGB frames and, when asked for, an
// AAC track from mono 16-bit samples.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace le::tool {

struct Mp4Options {
  // Starts every error text and warning ("le-render: mp4 header: ...").
  std::string tool;
  // Even both: the video is 4:2:0 (BT.709 limited range, tagged so).
  int width = 0, height = 0;
  int fps = 25;
  // x264's speed against size at a constant quality.
  std::string preset = "medium", crf = "18";
  // Without an H.264 encoder, write FFmpeg's MPEG-4 Part 2 (with a warning on standard error)
  // instead of failing.
  bool mpeg4Fallback = false;
  // Sample rate of the mono 16-bit audio written beside the frames; 0: no audio track.
  int audioRate = 0;
};

class Mp4Writer {
 public:
  // Opens path for writing. Throws std::runtime_error naming the step that failed; a file it had
  // created is removed again.
  Mp4Writer(const std::string& path, const Mp4Options& options);
  // Abandons the file unless finish() succeeded.
  ~Mp4Writer();
  Mp4Writer(const Mp4Writer&) = delete;
  Mp4Writer& operator=(const Mp4Writer&) = delete;

  // Appends one frame of width x height x 3 bytes and the audioCount samples that play during it
  // (audioRate / fps of them; none without an audio track).
  void write(const uint8_t* rgb, const int16_t* audio = nullptr, int audioCount = 0);
  // Drains the encoders, writes the trailer and closes the file; later calls do nothing. Throws
  // when any of it fails, and the file then stays unfinished.
  void finish();
  // Closes an unfinished file without a trailer, so that it can never pass for a whole video, and
  // removes it when it is a regular file. Returns the note for the error message
  // ("; removed the unfinished PATH"), empty when nothing was removed.
  std::string abandon();
  // The file being written.
  const std::string& path() const;
  // Name of the video encoder in use ("libx264" when present).
  const char* videoEncoder() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace le::tool
