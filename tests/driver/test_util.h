// Helpers shared by the driver tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace le::test {

// The text of the std::runtime_error fn throws, or "(no error)".
inline std::string errorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "(no error)";
}

// Sets (or, with nullopt, unsets) an environment variable for the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? setenv(name, value->c_str(), 1) : unsetenv(name);
  }
  ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

inline std::vector<uint8_t> readBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot open " + path);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

struct Diff {
  double mean = 0;
  int max = 0;
};

inline Diff diff(const uint8_t* a, const uint8_t* b, size_t n) {
  Diff d;
  for (size_t i = 0; i < n; ++i) {
    const int e = std::abs(int(a[i]) - int(b[i]));
    d.mean += e;
    d.max = std::max(d.max, e);
  }
  d.mean /= double(n);
  return d;
}

}  // namespace le::test
