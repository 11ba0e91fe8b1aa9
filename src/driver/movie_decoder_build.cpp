#include "driver/movie_decoder_build.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace le {
namespace {

std::string versionText(unsigned v) {
  return std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xff) + "." +
         std::to_string(v & 0xff);
}

}  // namespace

std::string libavcodecVersion() { return versionText(avcodec_version()); }

std::string movieDecoderBuild() {
  return "libavcodec " + libavcodecVersion() + " (built against " +
         versionText(LIBAVCODEC_VERSION_INT) + ") / " + avcodec_configuration();
}

}  // namespace le
