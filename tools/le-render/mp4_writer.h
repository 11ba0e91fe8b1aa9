// Encodes packed RGB frames to an H.264 MP4 file with FFmpeg's libraries.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace le_render {

class Mp4Writer {
 public:
  // Opens path for writing; width and height must be even (the video is 4:2:0). Throws
  // std::runtime_error naming the step that failed.
  Mp4Writer(const std::string& path, int width, int height, int fps);
  // Finishes the file when finish() was not called (errors are then lost).
  ~Mp4Writer();
  Mp4Writer(const Mp4Writer&) = delete;
  Mp4Writer& operator=(const Mp4Writer&) = delete;

  // Encodes one frame of width x height x 3 bytes.
  void write(const uint8_t* rgb);
  // Drains the encoder and writes the trailer; later calls do nothing.
  void finish();
  // Name of the encoder in use ("libx264" when present).
  const char* encoderName() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace le_render
