// Encodes packed RGB frames to an H.264 MP4 file with FFmpeg's libraries.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace le_render {

class Mp4Writer {
 public:
  // Opens path for writing; width and height must be even (the video is 4:2:0, BT.709
  // limited range, tagged so). Throws std::runtime_error naming the step that failed; a file it
  // had created is removed again.
  Mp4Writer(const std::string& path, int width, int height, int fps);
  // Abandons the file unless finish() succeeded.
  ~Mp4Writer();
  Mp4Writer(const Mp4Writer&) = delete;
  Mp4Writer& operator=(const Mp4Writer&) = delete;

  // Encodes one frame of width x height x 3 bytes.
  void write(const uint8_t* rgb);
  // Drains the encoder, writes the trailer and closes the file; later calls do nothing. Throws
  // when any of it fails, and the file then stays unfinished.
  void finish();
  // Closes an unfinished file without a trailer, so that it can never pass for a whole video, and
  // removes it when it is a regular file. Returns the note for the error message
  // ("; removed the unfinished PATH"), empty when nothing was removed.
  std::string abandon();
  // The file being written.
  const std::string& path() const;
  // Name of the encoder in use ("libx264" when present).
  const char* encoderName() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace le_render
