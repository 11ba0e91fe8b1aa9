// Reads a whole audio file as the pipeline takes it: 16 kHz mono 16-bit samples.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace le::tool {

// Any file libsndfile reads (WAV, FLAC, Ogg Vorbis, ...), else any audio FFmpeg decodes (AAC/M4A,
// MP3, the audio of a video ...), at any rate, channel count and sample format. Throws
// std::runtime_error with one line for the user: tool + ": " and what is wrong with the file.
std::vector<int16_t> readAudioFile(const std::string& path, const std::string& tool);

// The FFmpeg half of readAudioFile: false when FFmpeg cannot open the file or finds no audio
// stream in it, else true with the converted samples (possibly none) in out.
bool decodeWithFfmpeg(const std::string& path, const std::string& tool, std::vector<int16_t>& out);

}  // namespace le::tool
