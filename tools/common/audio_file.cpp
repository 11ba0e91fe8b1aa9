#include "common/audio_file.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "common/resampler.h"

namespace le::tool {
namespace {

struct SndfileCloser {
  void operator()(SNDFILE* f) const { sf_close(f); }
};
using Sndfile = std::unique_ptr<SNDFILE, SndfileCloser>;

[[noreturn]] void fail(const std::string& tool, const std::string& what) {
  throw std::runtime_error(tool + ": " + what);
}

// The checks every later step takes for granted: the path names a readable, non-empty file.
void requireReadableFile(const std::string& path, const std::string& tool) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) fail(tool, "cannot open " + path + ": " + std::strerror(errno));
  if (S_ISDIR(st.st_mode)) fail(tool, path + " is a directory, not an audio file");
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) fail(tool, "cannot read " + path + ": " + std::strerror(errno));
  ::close(fd);
  if (S_ISREG(st.st_mode) && st.st_size == 0) fail(tool, path + " is empty");
}

// Reads every frame libsndfile decodes (as interleaved floats) through the resampler.
std::vector<int16_t> readWithSndfile(const std::string& path, const std::string& tool, SNDFILE* file,
                                     const SF_INFO& info) {
  AVChannelLayout layout;
  av_channel_layout_default(&layout, info.channels);
  Resampler resampler(tool, info.samplerate, layout, AV_SAMPLE_FMT_FLT);
  constexpr sf_count_t kBlock = 4096;
  std::vector<float> block(size_t(kBlock) * size_t(info.channels));
  for (;;) {
    const sf_count_t got = sf_readf_float(file, block.data(), kBlock);
    if (got <= 0) break;
    const uint8_t* planes[] = {reinterpret_cast<const uint8_t*>(block.data())};
    resampler.convert(planes, int(got));
  }
  if (sf_error(file) != SF_ERR_NO_ERROR) fail(tool, "cannot decode " + path + ": " + sf_strerror(file));
  return resampler.finish();
}

}  // namespace

std::vector<int16_t> readAudioFile(const std::string& path, const std::string& tool) {
  requireReadableFile(path, tool);
  SF_INFO info{};
  Sndfile file(sf_open(path.c_str(), SFM_READ, &info));
  std::vector<int16_t> samples;
  if (file && info.channels > 0 && info.samplerate > 0) {
    samples = readWithSndfile(path, tool, file.get(), info);
  } else if (!decodeWithFfmpeg(path, tool, samples)) {
    fail(tool, path + " is not an audio file (neither libsndfile nor FFmpeg can read it)");
  }
  if (samples.empty()) fail(tool, path + " holds no audio");
  return samples;
}

}  // namespace le::tool
