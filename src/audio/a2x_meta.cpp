// The keys of a bundle's a2x_meta.json.
#include "audio/a2x_meta.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace le {
namespace {

// The text after the colon that follows "key", or nullptr when the key or the colon is absent.
const char* valueOf(const std::string& text, const char* key) {
  const size_t at = text.find(std::string("\"") + key + "\"");
  if (at == std::string::npos) return nullptr;
  const size_t colon = text.find(':', at);
  return colon == std::string::npos ? nullptr : text.c_str() + colon + 1;
}

// A value no int holds is refused: folded into an int it would become an arbitrary other count.
int intOf(const std::string& text, const char* key, int fallback) {
  const char* value = valueOf(text, key);
  if (!value) return fallback;
  errno = 0;
  const long v = std::strtol(value, nullptr, 10);
  if (errno == ERANGE || v < INT_MIN || v > INT_MAX)
    throw std::runtime_error(std::string("a2x_meta.json: ") + key + " out of range");
  return int(v);
}

bool boolOf(const std::string& text, const char* key, bool fallback) {
  const char* value = valueOf(text, key);
  if (!value) return fallback;
  while (*value == ' ' || *value == '\t') ++value;
  if (std::strncmp(value, "true", 4) == 0) return true;
  if (std::strncmp(value, "false", 5) == 0) return false;
  return std::strtol(value, nullptr, 10) != 0;
}

}  // namespace

A2xMeta parseA2xMeta(const std::string& text) {
  A2xMeta meta;
  meta.h = intOf(text, "h", meta.h);
  meta.window = intOf(text, "window", meta.window);
  meta.left = intOf(text, "left", meta.left);
  meta.layers = intOf(text, "layers", meta.layers);
  meta.width = boolOf(text, "width", meta.width);
  meta.silencePrime = intOf(text, "silence_prime", meta.silencePrime);
  // The engine keeps layers x left frames of history and layers x window of look-ahead in an int.
  for (const int span : {meta.left, meta.window}) {
    const int64_t frames = int64_t(meta.layers) * span;
    if (frames < INT_MIN || frames > INT_MAX)
      throw std::runtime_error("a2x_meta.json: layers x window or left out of range");
  }
  return meta;
}

}  // namespace le
