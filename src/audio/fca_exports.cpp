// The le_fca C interface: argument checks and the family's error convention around fca::Animator.
#include <memory>
#include <string>

#include "audio/fca.h"
#include "core/last_error.h"
#include "le/le_fca.h"

struct le_fca {
  std::unique_ptr<le::fca::Animator> animator;
};

namespace {

template <class R>
R refuse(const char* where, const std::string& reason, R failValue) {
  le::setErr<le::FcaFamily>(where, reason.c_str());
  return failValue;
}

}  // namespace

extern "C" {

LE_API const char* le_fca_last_error(void) { return le::lastErrorText<le::FcaFamily>().c_str(); }

LE_API le_fca* le_fca_create(const char* encoder_path, const char* animator_path, int threads) {
  constexpr const char* where = "le_fca_create";
  return le::guarded<le::FcaFamily>(where, static_cast<le_fca*>(nullptr), [&]() -> le_fca* {
    if (!encoder_path || !animator_path) return refuse(where, "NULL model path", static_cast<le_fca*>(nullptr));
    auto f = std::make_unique<le_fca>();
    f->animator = std::make_unique<le::fca::Animator>(encoder_path, animator_path, threads);
    return f.release();
  });
}

LE_API int le_fca_deltas(le_fca* f, const float* samples, int count, float* deltas, int max_frames) {
  constexpr const char* where = "le_fca_deltas";
  return le::guarded<le::FcaFamily>(where, -1, [&]() -> int {
    if (!f) return refuse(where, "NULL object", -1);
    const int64_t frames = le::fca::Animator::framesOf(count);
    if (frames == 0) return 0;
    if (frames > max_frames)
      return refuse(where, "deltas has room for " + std::to_string(max_frames) + " frames, the audio gives " +
                               std::to_string(frames),
                    -1);
    if (!samples || !deltas) return refuse(where, "NULL samples or deltas", -1);
    return int(f->animator->deltas(samples, count, deltas));
  });
}

LE_API void le_fca_destroy(le_fca* f) { std::unique_ptr<le_fca> owned(f); }

}  // extern "C"
