// A session's first render on a bundle, as a host makes it: the tests of refused directors read
// the text it fails with.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "le/le.h"

namespace le::test {

// The first render of a session on the bundle: its error text ("create failed: ..." when the
// session itself is refused), or "" when it rendered. The library's own lines are kept off the
// test's output.
inline std::string firstRenderError(const std::string& bundle, const char* key = "b1", const char* ep = nullptr) {
  testing::internal::CaptureStderr();
  le_ctx* ctx = le_create(bundle.c_str(), key, 1, ep);
  std::string error;
  if (!ctx) {
    error = std::string("create failed: ") + le_last_error();
  } else {
    const std::vector<float> kp(63, 0.1f);
    if (!le_render_kp_crop(ctx, 0, kp.data(), kp.data())) error = le_last_error();
  }
  testing::internal::GetCapturedStderr();
  le_destroy(ctx);
  return error;
}

}  // namespace le::test
