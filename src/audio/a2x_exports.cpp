// The le_a2x C interface: argument checks and the family's error convention around le::A2x.
#include <cstdlib>
#include <memory>
#include <string>

#include "audio/a2x.h"
#include "audio/w2v_sessions.h"
#include "core/last_error.h"
#include "le/le_a2x.h"

struct le_a2x {
  std::unique_ptr<le::A2x> engine;
};

namespace {

template <class R, class Fn>
R guarded(const char* where, R failValue, Fn&& fn) {
  return le::guarded<le::A2xFamily>(where, failValue, std::forward<Fn>(fn));
}

template <class R>
R refuse(const char* where, const char* reason, R failValue) {
  le::setErr<le::A2xFamily>(where, reason);
  return failValue;
}

int offlineDeltas(const char* where, le_a2x* a, const float* samples, int count, float* out, float* wn, int max) {
  return guarded(where, -1, [&]() -> int {
    if (!a) return refuse(where, "NULL object", -1);
    if (count < 1) return 0;
    const int64_t frames = le::a2x::totalFrames(count);
    if (!samples || !out) return refuse(where, "NULL samples/out", -1);
    if (max < frames) return refuse(where, ("out too small (" + std::to_string(frames) + " frames)").c_str(), -2);
    return int(a->engine->deltas(samples, count, out, wn, wn ? frames : 0));
  });
}

}  // namespace

extern "C" {

LE_API const char* le_a2x_last_error(void) { return le::lastErrorText<le::A2xFamily>().c_str(); }

LE_API le_a2x* le_a2x_create(const char* bundle, int threads) {
  return guarded("le_a2x_create", static_cast<le_a2x*>(nullptr), [&]() -> le_a2x* {
    if (!bundle) return refuse("le_a2x_create", "NULL bundle", static_cast<le_a2x*>(nullptr));
    auto a = std::make_unique<le_a2x>();
    a->engine = std::make_unique<le::A2x>(bundle, threads);
    return a.release();
  });
}

LE_API void le_a2x_destroy(le_a2x* a) { std::unique_ptr<le_a2x> owned(a); }

LE_API int le_a2x_push(le_a2x* a, const float* samples, int count) {
  return guarded("le_a2x_push", 0, [&] {
    if (!a || (count > 0 && !samples)) return refuse("le_a2x_push", "bad args", 0);
    a->engine->push(samples, count);
    return 1;
  });
}

LE_API void le_a2x_finish(le_a2x* a) {
  if (a) a->engine->finish();
}

LE_API int le_a2x_avail(le_a2x* a) {
  return guarded("le_a2x_avail", 0, [&] { return a ? a->engine->avail() : 0; });
}

LE_API int le_a2x_pull(le_a2x* a, int32_t* rows, float* target, float* kp, int max) {
  return guarded("le_a2x_pull", 0, [&] { return a ? a->engine->pull(rows, target, kp, nullptr, max) : 0; });
}

LE_API int le_a2x_pull_wn(le_a2x* a, int32_t* rows, float* target, float* kp, float* wn, int max) {
  return guarded("le_a2x_pull_wn", 0, [&] { return a ? a->engine->pull(rows, target, kp, wn, max) : 0; });
}

LE_API int le_a2x_total(const le_a2x* a) { return a ? a->engine->total() : 0; }

LE_API int le_a2x_reset(le_a2x* a, int start, int direction, int loop) {
  return a ? a->engine->reset(start, direction, loop) : 0;
}

LE_API int le_a2x_deltas(le_a2x* a, const float* samples, int count, float* out, int max) {
  return offlineDeltas("le_a2x_deltas", a, samples, count, out, nullptr, max);
}

LE_API int le_a2x_deltas_wn(le_a2x* a, const float* samples, int count, float* out, float* wn, int max) {
  if (a && !a->engine->hasWn()) {
    le::lastErrorText<le::A2xFamily>().clear();
    return refuse("le_a2x_deltas_wn", "encoder declares no wn output", -3);
  }
  return offlineDeltas("le_a2x_deltas", a, samples, count, out, wn, max);
}

LE_API int le_a2x_nt(const le_a2x* a) { return a ? a->engine->nt() : 0; }

LE_API int le_a2x_width(const le_a2x* a) { return a && a->engine->hasWn() ? 1 : 0; }

LE_API void le_a2x_set_eager(le_a2x* a, int eager) {
  if (a) a->engine->setEager(eager);
}

LE_API int le_a2x_preload_w2v(const char* path) {
  return guarded("le_a2x_preload_w2v", 0, [&] {
    std::string chosen = path && *path ? path : "";
    if (chosen.empty()) {
      const char* env = std::getenv("W2V_ONNX");
      if (!env) return refuse("le_a2x_preload_w2v", "no path and $W2V_ONNX unset", 0);
      chosen = env;
    }
    if (le::w2v::sharedEncoder(chosen, 0)) return 1;
    return refuse("le_a2x_preload_w2v", ("load failed (" + chosen + ")").c_str(), 0);
  });
}

LE_API int le_a2x_w2v8_lazy(void) { return 1; }

}  // extern "C"
