// The keys of a bundle's a2x_meta.json.
#pragma once

#include <string>

namespace le {

struct A2xMeta {
  int h = 256;
  // Look-ahead and history frames of each attention layer; -1 when the key is absent.
  int window = -1;
  int left = -1;
  int layers = 6;
  bool width = false;
  int silencePrime = 0;
};

// Reads the keys from a flat JSON object: each value follows the first colon after the quoted key,
// integers parse as strtol does, `width` is true for "true" or a non-zero integer. Absent keys keep
// their defaults. Throws "a2x_meta.json: <key> out of range" for an integer no int holds, and
// "a2x_meta.json: layers x window or left out of range" when either span of frames does not fit
// an int.
A2xMeta parseA2xMeta(const std::string& text);

}  // namespace le
