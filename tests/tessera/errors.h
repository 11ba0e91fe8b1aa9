// The message a call throws, for tests that pin refusal texts.
#pragma once

#include <stdexcept>
#include <string>

namespace le::test {

// The what() of the std::runtime_error `f` throws, or "" when it returns.
template <class F>
std::string errorOf(F&& f) {
  try {
    f();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

}  // namespace le::test
