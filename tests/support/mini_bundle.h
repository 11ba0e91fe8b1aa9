// Tiny hand-made bundles (manifest and identity members only) for tests of loading and refusals.
// Baked bundles with driver video and networks come from tools/bake.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace le::test {

template <class T>
std::string bytesOf(const std::vector<T>& v) {
  return std::string(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(T));
}

struct MiniBundle {
  int NT = 2, W = 160, H = 120, crop = 4, frames = 2;
  int msrcW = 160, msrcH = 120;
  std::string extraKeys;  // appended inside the manifest object, starting with ", "

  std::string manifest() const {
    return "{\"format\": \"le-bundle-v0\", \"agent\": \"mini\", \"NT\": " + std::to_string(NT) +
           ", \"W\": " + std::to_string(W) + ", \"H\": " + std::to_string(H) + ", \"crop\": " + std::to_string(crop) +
           ", \"amount\": 1.3, \"sigma\": 2.0, \"ksize\": 3, \"frames\": " + std::to_string(frames) +
           ", \"M_src_w\": " + std::to_string(msrcW) + ", \"M_src_h\": " + std::to_string(msrcH) + extraKeys + "}";
  }

  // Writes the manifest and every identity and drive member under their welded names.
  void write(const std::string& root) const {
    writeFile(root + "/manifest.json", manifest());
    writeFile(root + "/pooled64.f16", std::string(size_t(NT) * 131072, '\0'));
    writeFile(root + "/P.f16", std::string(size_t(NT) * crop * crop * 6, '\x3c'));
    std::vector<float> M;
    for (int t = 0; t < NT; ++t) M.insert(M.end(), {1.0f, 0.0f, float(t), 0.0f, 1.0f, 2.0f * t});
    writeFile(root + "/M.f32", bytesOf(M));
    writeFile(root + "/mask_512.u8", std::string(size_t(crop) * crop, '\xff'));
    std::vector<float> kp(static_cast<size_t>(frames) * 63);
    for (size_t i = 0; i < kp.size(); ++i) kp[i] = float(i) / 1000.0f;
    writeFile(root + "/drive/xs.f32", bytesOf(kp));
    writeFile(root + "/drive/xd.f32", bytesOf(kp));
    std::vector<int32_t> si(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) si[size_t(i)] = i % NT;
    writeFile(root + "/drive/si.i32", bytesOf(si));
  }
};

}  // namespace le::test
