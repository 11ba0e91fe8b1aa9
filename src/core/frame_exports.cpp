// Frame-at-a-time use of a session at the C boundary: render a face crop, paste a crop into its
// driver frame, fetch a driver frame, or render and paste in one call with an RGBA result.
#include <cstring>

#include "core/last_error.h"
#include "core/session.h"
#include "le/le.h"

namespace {

constexpr int kKpFloats = LE_HOST_KP_ROWS * 3;

size_t frameBytes(const le_ctx& ctx, size_t channels) {
  return size_t(ctx.manifest.W) * size_t(ctx.manifest.H) * channels;
}

bool inFrames(const le_ctx& ctx, int t) { return t >= 0 && t < ctx.manifest.NT; }

void failWith(const char* text) { le::lastErrorText<le::CoreFamily>() = text; }

// The common tail of the RGBA exports, after a successful render: paste the latest crop into
// driver frame t and widen it to RGBA.
int pasteToRGBA(le_ctx* ctx, int t, uint8_t* out, size_t outLen) {
  if (!out || outLen < frameBytes(*ctx, 4)) {
    failWith("le_render_*_rgba: out buffer too small");
    return 0;
  }
  const uint8_t* rgb = le_paste_last(ctx, t);
  if (!rgb) return 0;
  const size_t pixels = frameBytes(*ctx, 1);
  for (size_t p = 0; p < pixels; ++p) {
    std::memcpy(out + 4 * p, rgb + 3 * p, 3);
    out[4 * p + 3] = 255;
  }
  return 1;
}

}  // namespace

extern "C" {

LE_API const float* le_render_kp_crop(le_ctx* ctx, int si, const float* ks, const float* kd) {
  le::lastErrorText<le::CoreFamily>().clear();
  if (!ctx || !ks || !kd || !inFrames(*ctx, si)) {
    failWith("le_render_kp_crop: bad args");
    return nullptr;
  }
  return le::guarded<le::CoreFamily>("le_render_kp_crop", static_cast<const float*>(nullptr), [&] {
    const float* crop = le::rendererOf(*ctx).render(&si, ks, kd, 1);
    ctx->lastCrop = crop;
    return crop;
  });
}

LE_API const float* le_render_drive_crop(le_ctx* ctx, int i) {
  le::lastErrorText<le::CoreFamily>().clear();
  if (!ctx || i < 0 || i >= ctx->drive.frames) {
    failWith("le_render_drive_crop: bad frame index");
    return nullptr;
  }
  const size_t row = size_t(i) * kKpFloats;
  return le_render_kp_crop(ctx, ctx->drive.si[size_t(i)], ctx->drive.xs.data() + row, ctx->drive.xd.data() + row);
}

LE_API int le_paste_crop(le_ctx* ctx, int t, const float* crop, uint8_t* out, size_t outLen) {
  le::lastErrorText<le::CoreFamily>().clear();
  if (!ctx || !crop || !out || !inFrames(*ctx, t) || outLen < frameBytes(*ctx, 3)) {
    failWith("le_paste_crop: bad args / out too small");
    return 0;
  }
  return le::guarded<le::CoreFamily>("le_paste_crop", 0, [&] {
    ctx->cursor->pullAt(t, out);
    ctx->paste->composite(crop, 255.0f, ctx->identity.M(t), out, ctx->manifest.W, ctx->manifest.H);
    return 1;
  });
}

LE_API const uint8_t* le_paste_last(le_ctx* ctx, int t) {
  le::lastErrorText<le::CoreFamily>().clear();
  if (!ctx || !ctx->lastCrop || !inFrames(*ctx, t)) {
    failWith("le_paste_last: bad args / no prior render");
    return nullptr;
  }
  return le::guarded<le::CoreFamily>("le_paste_last", static_cast<const uint8_t*>(nullptr), [&] {
    ctx->cursor->pullAt(t, ctx->frame.data());
    ctx->paste->composite(ctx->lastCrop, 255.0f, ctx->identity.M(t), ctx->frame.data(), ctx->manifest.W,
                          ctx->manifest.H);
    return static_cast<const uint8_t*>(ctx->frame.data());
  });
}

LE_API int le_render_kp_rgba(le_ctx* ctx, int si, const float* ks, const float* kd, uint8_t* out, size_t outLen) {
  if (!le_render_kp_crop(ctx, si, ks, kd)) return 0;
  return pasteToRGBA(ctx, si, out, outLen);
}

LE_API int le_render_drive_rgba(le_ctx* ctx, int i, uint8_t* out, size_t outLen) {
  if (!le_render_drive_crop(ctx, i)) return 0;
  return pasteToRGBA(ctx, ctx->drive.si[size_t(i)], out, outLen);
}

LE_API const uint8_t* le_target_frame(le_ctx* ctx, int t) {
  le::lastErrorText<le::CoreFamily>().clear();
  if (!ctx || !inFrames(*ctx, t)) {
    failWith("le_target_frame: bad args");
    return nullptr;
  }
  return le::guarded<le::CoreFamily>("le_target_frame", static_cast<const uint8_t*>(nullptr), [&] {
    int delivered = -1;
    return ctx->cursor->pullAt(t, &delivered);
  });
}

}  // extern "C"
