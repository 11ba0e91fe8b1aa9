// Which libavcodec decodes the movie members: for diagnostics and source names.
#pragma once

#include <string>

namespace le {

// "major.minor.micro" of the libavcodec loaded at run time.
std::string libavcodecVersion();

// "libavcodec " + the loaded version + " (built against " + the version of the headers this
// library was compiled with + ") / " + FFmpeg's configuration string. Both versions are given
// because a process may load a libavcodec other than the one it was built against.
std::string movieDecoderBuild();

}  // namespace le
