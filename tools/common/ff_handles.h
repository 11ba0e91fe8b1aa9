// Owning handles for the FFmpeg objects the tools make beyond the decoding ones the library shares:
// each one freed with its own function.
#pragma once

extern "C" {
#include <libswresample/swresample.h>
}

#include <memory>

#include "core/ff_handles.h"

namespace le::tool {

// A muxer context; its output file, when still open, is closed with it.
struct OutputDeleter {
  void operator()(AVFormatContext* f) const {
    if (f->pb) avio_closep(&f->pb);
    avformat_free_context(f);
  }
};
struct SwrDeleter {
  void operator()(SwrContext* s) const { swr_free(&s); }
};

using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;
using ff::CodecPtr;
using ff::FramePtr;
using ff::InputPtr;
using ff::PacketPtr;
using ff::SwsPtr;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;

}  // namespace le::tool
