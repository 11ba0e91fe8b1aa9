// Converts audio of any rate, channel count and sample format to the pipeline's input: 16 kHz mono
// 16-bit, with libswresample.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

namespace le::tool {

// The rate every pushed sample is at.
constexpr int kPipelineRate = 16000;

class Resampler {
 public:
  // Input of inRate Hz in inLayout's channels, samples in inFormat (packed or planar).
  // Throws std::runtime_error (tool + ": ...") when swresample refuses the conversion.
  Resampler(std::string tool, int inRate, const AVChannelLayout& inLayout, AVSampleFormat inFormat);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Converts `samples` samples per channel (one pointer per plane; one pointer for packed input).
  void convert(const uint8_t* const* planes, int samples);
  // Drains the resampler's filter and hands over everything converted.
  std::vector<int16_t> finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace le::tool
