#include "audio_file.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "resampler.h"

namespace le_speak {
namespace {

struct SndfileCloser {
  void operator()(SNDFILE* f) const { sf_close(f); }
};
using Sndfile = std::unique_ptr<SNDFILE, SndfileCloser>;

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error("le-speak: " + what); }

// The checks every later step takes for granted: the path names a readable, non-empty file.
void requireReadableFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) fail("cannot open " + path + ": " + std::strerror(errno));
  if (S_ISDIR(st.st_mode)) fail(path + " is a directory, not an audio file");
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) fail("cannot read " + path + ": " + std::strerror(errno));
  ::close(fd);
  if (S_ISREG(st.st_mode) && st.st_size == 0) fail(path + " is empty");
}

// Reads every frame libsndfile decodes (as interleaved floats) through the resampler.
std::vector<int16_t> readWithSndfile(const std::string& path, SNDFILE* file, const SF_INFO& info) {
  AVChannelLayout layout;
  av_channel_layout_default(&layout, info.channels);
  Resampler resampler(info.samplerate, layout, AV_SAMPLE_FMT_FLT);
  constexpr sf_count_t kBlock = 4096;
  std::vector<float> block(size_t(kBlock) * size_t(info.channels));
  for (;;) {
    const sf_count_t got = sf_readf_float(file, block.data(), kBlock);
    if (got <= 0) break;
    const uint8_t* planes[] = {reinterpret_cast<const uint8_t*>(block.data())};
    resampler.convert(planes, int(got));
  }
  if (sf_error(file) != SF_ERR_NO_ERROR) fail("cannot decode " + path + ": " + sf_strerror(file));
  return resampler.finish();
}

}  // namespace

std::vector<int16_t> readAudioFile(const std::string& path) {
  requireReadableFile(path);
  SF_INFO info{};
  Sndfile file(sf_open(path.c_str(), SFM_READ, &info));
  std::vector<int16_t> samples;
  if (file && info.channels > 0 && info.samplerate > 0) {
    samples = readWithSndfile(path, file.get(), info);
  } else if (!decodeWithFfmpeg(path, samples)) {
    fail(path + " is not an audio file (neither libsndfile nor FFmpeg can read it)");
  }
  if (samples.empty()) fail(path + " holds no audio");
  return samples;
}

}  // namespace le_speak
