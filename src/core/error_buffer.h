// Copies a failure message into a caller's buffer, the convention of the C exports that take
// `err` and `err_len`: at most err_len - 1 bytes, always NUL-terminated, nothing written when the
// buffer is absent or has no room.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace le {

inline void copyToErrorBuffer(std::string_view message, char* err, int32_t errLen) {
  if (!err || errLen <= 0) return;
  const size_t n = std::min(message.size(), size_t(errLen) - 1);
  std::memcpy(err, message.data(), n);
  err[n] = '\0';
}

}  // namespace le
