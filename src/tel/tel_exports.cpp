// The telemetry family at the C boundary. These exports have no last-error text: a failure
// inside (only running out of memory is possible) is logged and turned into the documented
// result.
#include <exception>
#include <string>

#include "core/log.h"
#include "le/le_tel.h"
#include "tel/flush.h"
#include "tel/store.h"

namespace {

template <class R, class Fn>
R withoutThrowing(const char* where, R fallback, Fn&& fn) noexcept {
  try {
    return fn();
  } catch (const std::exception& e) {
    le::logPrintf("[le] telemetry: %s: %s", where, e.what());
  } catch (...) {
    le::logPrintf("[le] telemetry: %s: unknown exception", where);
  }
  return fallback;
}

}  // namespace

extern "C" {

LE_API void le_tel_record(const char* key, double value) {
  if (key == nullptr) return;
  withoutThrowing("le_tel_record", false, [&] {
    le::tel::processStore().record(key, value);
    return true;
  });
}

LE_API void le_tel_record_str(const char* key, const char* value) {
  if (key == nullptr || value == nullptr) return;
  withoutThrowing("le_tel_record_str", false, [&] {
    le::tel::processStore().recordText(key, value);
    return true;
  });
}

LE_API const char* le_tel_pending_json(void) {
  thread_local std::string text;
  const bool built = withoutThrowing("le_tel_pending_json", false, [&] {
    text = le::tel::processStore().pendingJson();
    return true;
  });
  if (!built) text.clear();
  return text.c_str();
}

LE_API int le_tel_flush(void) {
  return withoutThrowing("le_tel_flush", static_cast<int>(le::tel::kNothingDelivered),
                         [] { return le::tel::flush(le::tel::processStore()); });
}

}  // extern "C"
