// Small driver and prior media made with the ffmpeg command from its own test pattern, once per
// build tree: the driver as JPEG frames, H.264 movies and raw RGB, the prior as HEVC movies and raw
// RGB. Every test process shares one copy in the build tree; the first to need it builds it.
#pragma once

#include <string>

namespace le::test {

struct DriverMedia {
  static constexpr int kNT = 12, kW = 96, kH = 64;  // driver video
  static constexpr int kSide = 64;                  // prior crop

  std::string dir;
  std::string jpgDir() const { return dir + "/target_frames"; }  // frame_000000.jpg ...
  std::string h264() const { return dir + "/target_frames.mp4"; }  // yuv420p, with B-frames
  std::string h264Yuv444() const { return dir + "/driver444.mp4"; }
  std::string shortMkv() const { return dir + "/short.mkv"; }  // kNT - 1 frames, no frame count
  std::string rgb() const { return dir + "/driver.rgb"; }      // kNT frames of the pattern, RGB24
  // target_frames.mp4 as the ffmpeg command decodes it (its own RGB conversion), RGB24.
  std::string h264ByFfmpeg() const { return dir + "/driver_h264_ffmpeg.rgb"; }
  std::string prior() const { return dir + "/P_hevc.mov"; }    // HEVC yuv444p, kSide square
  std::string priorYuv420() const { return dir + "/prior420.mov"; }
  std::string priorRgb() const { return dir + "/prior.rgb"; }
  std::string audioOnly() const { return dir + "/tone.m4a"; }
};

const DriverMedia& driverMedia();

// Runs a shell command line; throws std::runtime_error when it fails.
void run(const std::string& command);

}  // namespace le::test
