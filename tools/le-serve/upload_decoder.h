// A recording sent from the page, read as the pipeline takes it.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol.h"

namespace le_serve {

// Writes the upload to a private temporary folder under its own name, reads it with libsndfile or
// FFmpeg (16 kHz mono 16-bit) and removes it. Throws std::runtime_error with one line for the page
// ("le-serve: NAME is not an audio file ...") that names the file as the page did.
std::vector<int16_t> decodeUpload(const Upload& upload);

}  // namespace le_serve
