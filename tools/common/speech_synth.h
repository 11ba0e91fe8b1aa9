// Speech from text: espeak-ng's voice, converted to 16 kHz mono.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace le::tool {

// Speaks text (UTF-8) with espeak-ng's en-us voice at 150 words a minute, synchronously, and
// returns the speech at 16 kHz mono. Throws std::runtime_error with one line for the user (tool +
// ": " and what is wrong) when the text is blank, or espeak-ng cannot start or says nothing. Calls
// from several threads take turns.
std::vector<int16_t> synthesiseSpeech(const std::string& text, const std::string& tool);

}  // namespace le::tool
