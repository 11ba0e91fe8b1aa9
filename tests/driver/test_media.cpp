#include "test_media.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace le::test {
namespace fs = std::filesystem;

void run(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("command failed: " + command);
}

namespace {

constexpr const char* kVersion = "driver-media-v2";

std::string pattern(int w, int h, int frames) {
  return "ffmpeg -nostdin -hide_banner -loglevel error -y -threads 1 -f lavfi -i testsrc=size=" +
         std::to_string(w) + "x" + std::to_string(h) + ":rate=25 -frames:v " +
         std::to_string(frames) + " ";
}

void make(const std::string& d) {
  using M = DriverMedia;
  const std::string drv = pattern(M::kW, M::kH, M::kNT);
  const std::string x264 = "-c:v libx264 -preset medium -crf 8 -bf 2 -threads 1 ";
  const std::string x265 =
      "-c:v libx265 -crf 4 -x265-params log-level=error:pools=none:frame-threads=1 ";
  fs::create_directories(d + "/target_frames");
  run(drv + "-q:v 1 -start_number 0 " + d + "/target_frames/frame_%06d.jpg");
  run(drv + x264 + "-pix_fmt yuv420p " + d + "/target_frames.mp4");
  run(drv + x264 + "-pix_fmt yuv444p " + d + "/driver444.mp4");
  run(pattern(M::kW, M::kH, M::kNT - 1) + x264 + "-pix_fmt yuv420p " + d + "/short.mkv");
  run(drv + "-f rawvideo -pix_fmt rgb24 " + d + "/driver.rgb");
  run("ffmpeg -nostdin -hide_banner -loglevel error -y -threads 1 -i " + d +
      "/target_frames.mp4 -f rawvideo -pix_fmt rgb24 " + d + "/driver_h264_ffmpeg.rgb");
  const std::string pri = pattern(M::kSide, M::kSide, M::kNT);
  run(pri + x265 + "-pix_fmt yuv444p -tag:v hvc1 " + d + "/P_hevc.mov");
  run(pri + x265 + "-pix_fmt yuv420p " + d + "/prior420.mov");
  run(pri + "-f rawvideo -pix_fmt rgb24 " + d + "/prior.rgb");
  run("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i sine=frequency=440:duration=1 "
      "-c:a aac " + d + "/tone.m4a");
}

DriverMedia build() {
  const fs::path root = fs::path(LE_TEST_FIXTURES).parent_path() / "test-media";
  const fs::path final = root / kVersion;
  if (!fs::exists(final)) {
    fs::create_directories(root);
    const fs::path staging = root / (std::string(kVersion) + ".part" + std::to_string(getpid()));
    fs::remove_all(staging);
    make(staging.string());
    // Another test process may have placed its copy first; both are the same media.
    std::error_code ec;
    fs::rename(staging, final, ec);
    if (ec) fs::remove_all(staging);
  }
  return DriverMedia{final.string()};
}

}  // namespace

const DriverMedia& driverMedia() {
  static const DriverMedia media = build();
  return media;
}

}  // namespace le::test
