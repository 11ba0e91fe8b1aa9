// libFuzzer target over the a2x meta reader: any input, read as the text of a2x_meta.json, either
// gives the keys' values or is refused with a message naming the file. Every integer handed out is
// the number its text says (a value no int holds is not folded into another one), and the spans
// the streaming engine builds from them (layers x left frames of history, layers x window of
// look-ahead) fit an int. Anything else (a crash, an out-of-bounds read under the sanitizers,
// another exception, a broken invariant) is a finding.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "audio/a2x_meta.h"

namespace {

// The integer the text after "key" and the next colon says, as strtol reads it; `fallback` when
// the key or the colon is absent.
long long plainInt(const std::string& text, const char* key, long long fallback) {
  const size_t at = text.find(std::string("\"") + key + "\"");
  const size_t colon = at == std::string::npos ? at : text.find(':', at);
  if (colon == std::string::npos) return fallback;
  errno = 0;
  const long v = std::strtol(text.c_str() + colon + 1, nullptr, 10);
  return errno == ERANGE ? LLONG_MAX : v;
}

bool fitsInt(long long v) { return v >= INT_MIN && v <= INT_MAX; }

void checkAccepted(const le::A2xMeta& m, const std::string& text) {
  const le::A2xMeta defaults;
  const struct {
    const char* key;
    int value, fallback;
  } fields[] = {{"h", m.h, defaults.h}, {"window", m.window, defaults.window}, {"left", m.left, defaults.left},
                {"layers", m.layers, defaults.layers}, {"silence_prime", m.silencePrime, defaults.silencePrime}};
  for (const auto& f : fields)
    if (plainInt(text, f.key, f.fallback) != f.value) std::abort();
  if (!fitsInt(int64_t(m.layers) * m.left) || !fitsInt(int64_t(m.layers) * m.window)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    checkAccepted(le::parseA2xMeta(text), text);
  } catch (const std::runtime_error& e) {
    if (std::string(e.what()).rfind("a2x_meta.json: ", 0) != 0) std::abort();
  }
  return 0;
}
