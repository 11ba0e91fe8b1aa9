#include "common/resampler.h"

#include <stdexcept>
#include <string>

#include "common/ff_handles.h"

namespace le::tool {

struct Resampler::Impl {
  std::string tool;
  SwrPtr swr;
  std::vector<int16_t> out;

  // Runs one swr_convert call (null planes: drain) and appends what comes out; returns its count.
  int run(const uint8_t* const* planes, int samples) {
    const int room = swr_get_out_samples(swr.get(), samples) + 64;
    const size_t used = out.size();
    out.resize(used + size_t(room));
    uint8_t* dst = reinterpret_cast<uint8_t*>(out.data() + used);
    const int got = swr_convert(swr.get(), &dst, room, const_cast<const uint8_t**>(planes), samples);
    if (got < 0) throw std::runtime_error(tool + ": audio conversion to 16 kHz mono failed");
    out.resize(used + size_t(got));
    return got;
  }
};

Resampler::Resampler(std::string tool, int inRate, const AVChannelLayout& inLayout, AVSampleFormat inFormat)
    : impl_(std::make_unique<Impl>()) {
  impl_->tool = std::move(tool);
  AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
  AVChannelLayout in = inLayout;  // this swresample takes the layouts by non-const pointer
  SwrContext* swr = nullptr;
  if (swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_S16, kPipelineRate, &in, inFormat, inRate, 0, nullptr) < 0 ||
      !swr || swr_init(swr) < 0) {
    swr_free(&swr);
    throw std::runtime_error(impl_->tool + ": cannot convert " + std::to_string(inLayout.nb_channels) + "-channel audio at " +
                             std::to_string(inRate) + " Hz to 16 kHz mono");
  }
  impl_->swr.reset(swr);
}

Resampler::~Resampler() = default;

void Resampler::convert(const uint8_t* const* planes, int samples) {
  if (samples > 0) impl_->run(planes, samples);
}

std::vector<int16_t> Resampler::finish() {
  while (impl_->run(nullptr, 0) > 0) {
  }
  return std::move(impl_->out);
}

}  // namespace le::tool
