// Session lifetime and accessors at the C boundary.
#include <string>

#include "core/last_error.h"
#include "core/session.h"
#include "le/le.h"
#include "pool/pool.h"

extern "C" {

LE_API le_ctx* le_create(const char* bundle_dir, const char* model_key, int threads, const char* ep) {
  le::lastErrorText<le::CoreFamily>().clear();
  if (!bundle_dir || !model_key) {
    le::lastErrorText<le::CoreFamily>() = "le_create: NULL bundle_dir/model_key";
    return nullptr;
  }
  return le::guarded<le::CoreFamily>("le_create", static_cast<le_ctx*>(nullptr), [&] {
    const bool isExplicit = threads > 0;
    // An intra-op pool is built whole at the director's first run: a count beyond the cores only
    // costs minutes of thread creation and gigabytes of stacks.
    const int count = isExplicit ? le::pool::capAtHardware(threads) : le::pool::threads();
    return new le_ctx(bundle_dir, model_key, count, isExplicit, ep ? ep : "");
  });
}

LE_API void le_destroy(le_ctx* ctx) { delete ctx; }

LE_API int le_nt(const le_ctx* ctx) { return ctx ? ctx->manifest.NT : 0; }
LE_API int le_width(const le_ctx* ctx) { return ctx ? ctx->manifest.W : 0; }
LE_API int le_height(const le_ctx* ctx) { return ctx ? ctx->manifest.H : 0; }
LE_API int le_crop(const le_ctx* ctx) { return ctx ? ctx->manifest.crop : 0; }
LE_API int le_drive_frames(const le_ctx* ctx) { return ctx ? ctx->drive.frames : 0; }

}  // extern "C"
