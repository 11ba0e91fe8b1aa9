// The motion generator family at the C boundary.
#include <stdexcept>
#include <string>

#include "audio/motion_engine.h"
#include "audio/motion_ep.h"
#include "core/last_error.h"
#include "le/le_motion.h"

struct le_motion {
  le_motion(const char* dir, int threads, const char* ep) : engine(dir, threads, ep ? ep : "") {}
  le::audio::MotionEngine engine;
};

namespace {

template <class R, class Fn>
R motionGuarded(const char* where, R failValue, Fn&& fn) {
  return le::guarded<le::MotionFamily>(where, failValue, std::forward<Fn>(fn));
}

[[noreturn]] void badArgs(const char* reason) { throw std::invalid_argument(reason); }

}  // namespace

extern "C" {

LE_API le_motion* le_motion_create(const char* motion_dir, int threads, const char* ep) {
  return motionGuarded("le_motion_create", static_cast<le_motion*>(nullptr), [&] {
    if (!motion_dir) badArgs("NULL motion_dir");
    le::audio::parseMotionEp(ep ? ep : "");  // an unknown ep fails before any file is read
    return new le_motion(motion_dir, threads, ep);
  });
}

LE_API void le_motion_destroy(le_motion* m) { delete m; }

LE_API const char* le_motion_last_error(void) { return le::lastErrorText<le::MotionFamily>().c_str(); }

LE_API int le_motion_push(le_motion* m, const float* samples, int count) {
  return motionGuarded("le_motion_push", 0, [&] {
    if (!m || !samples || count < 0 || m->engine.total() >= 0) badArgs("bad args / already finished");
    m->engine.push(samples, size_t(count));
    return 1;
  });
}

LE_API void le_motion_finish(le_motion* m) {
  if (!m) return;
  motionGuarded("le_motion_finish", 0, [&] {
    m->engine.finish();
    return 0;
  });
}

LE_API int le_motion_avail(le_motion* m) {
  if (!m) return 0;
  return motionGuarded("le_motion_avail", 0, [&] { return m->engine.avail(); });
}

LE_API int le_motion_pull(le_motion* m, int32_t* rows, float* target, float* keypoints, int max) {
  return motionGuarded("le_motion_pull", 0, [&] {
    if (!m || !target || !keypoints || max <= 0) badArgs("bad args");
    return m->engine.pull(rows, target, keypoints, max);
  });
}

LE_API int le_motion_total(const le_motion* m) { return m ? int(m->engine.total()) : 0; }

LE_API void le_motion_reset(le_motion* m, int start, int direction, int loop) {
  if (m) m->engine.reset(start, direction, loop);
}

LE_API void le_motion_set_eager(le_motion* m, int eager) {
  if (m) m->engine.setEager(eager);
}

LE_API int le_motion_nt(const le_motion* m) { return m ? m->engine.nt() : 0; }

}  // extern "C"
