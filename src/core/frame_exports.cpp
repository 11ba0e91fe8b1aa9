// Frame-at-a-time use of a session at the C boundary: render a face crop, paste a crop into its
// driver frame, fetch a driver frame, or render and paste in one call with an RGBA result.
//
// Every export reports failures under its own name, including the steps it shares with another
// export (the RGBA exports render and paste through the same helpers as the crop exports).
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

#include "core/last_error.h"
#include "core/session.h"
#include "le/le.h"

namespace {

size_t frameBytes(const le_ctx& ctx, size_t channels) {
  return size_t(ctx.manifest.W) * size_t(ctx.manifest.H) * channels;
}

bool inFrames(const le_ctx& ctx, int t) { return t >= 0 && t < ctx.manifest.NT; }

void failWith(const char* where, const char* reason) { le::setErr<le::CoreFamily>(where, reason); }

// "x[5] (row 1, y) is nan" for the first non-finite value of a keypoint set, or "" when all are
// finite. A non-finite keypoint renders a black blob that would otherwise pass as a frame.
std::string firstNonFinite(const float* kp, const char* name) {
  for (int i = 0; i < LE_HOST_KP_FLOATS; ++i) {
    if (std::isfinite(kp[i])) continue;
    const char* value = std::isnan(kp[i]) ? "nan" : kp[i] > 0 ? "inf" : "-inf";
    return std::string(name) + "[" + std::to_string(i) + "] (row " + std::to_string(i / 3) + ", " + "xyz"[i % 3] +
           ") is " + value;
  }
  return "";
}

// Where a render's keypoints come from, for the refusal of a non-finite one: the host's ks and
// kd, or a step of the bundle's idle-loop tables xs and xd.
struct KeypointOrigin {
  std::string context;
  const char* sourceName;
  const char* drivingName;
};

const float* renderChecked(le_ctx& ctx, int si, const float* ks, const float* kd, const KeypointOrigin& origin) {
  for (const auto& [kp, name] : {std::pair{ks, origin.sourceName}, std::pair{kd, origin.drivingName}}) {
    const std::string bad = firstNonFinite(kp, name);
    if (!bad.empty()) throw std::runtime_error(origin.context + "keypoint " + bad + "; keypoints must be finite");
  }
  const float* crop = le::rendererOf(ctx).render(&si, ks, kd, 1);
  ctx.lastCrop = crop;
  return crop;
}

// The session's last crop is cleared before anything can fail, so that a failed render never
// leaves an older (or half-written) crop for le_paste_last.
const float* renderKp(le_ctx* ctx, const char* where, int si, const float* ks, const float* kd) {
  if (ctx) ctx->lastCrop = nullptr;
  if (!ctx || !ks || !kd || !inFrames(*ctx, si)) {
    failWith(where, "bad args");
    return nullptr;
  }
  return le::guarded<le::CoreFamily>(where, static_cast<const float*>(nullptr),
                                     [&] { return renderChecked(*ctx, si, ks, kd, {"", "ks", "kd"}); });
}

const float* renderDrive(le_ctx* ctx, const char* where, int i) {
  if (ctx) ctx->lastCrop = nullptr;
  if (!ctx || i < 0 || i >= ctx->drive.frames) {
    failWith(where, "bad frame index");
    return nullptr;
  }
  const size_t row = size_t(i) * LE_HOST_KP_FLOATS;
  return le::guarded<le::CoreFamily>(where, static_cast<const float*>(nullptr), [&] {
    return renderChecked(*ctx, ctx->drive.si[size_t(i)], ctx->drive.xs.data() + row, ctx->drive.xd.data() + row,
                         {"idle-loop step " + std::to_string(i) + " of the bundle: ", "xs", "xd"});
  });
}

// Driver frame t is read where the cursor decoded it, held there by the lease while the paste
// writes the finished frame to out.
void pasteOverDriver(le_ctx& ctx, int t, const float* crop, uint8_t* out) {
  const le::DriverCursor::Lease driver = ctx.cursor->leaseAt(t);
  ctx.paste->composite(crop, 255.0f, ctx.identity.M(t), driver.data(), out, ctx.manifest.W, ctx.manifest.H);
}

const uint8_t* pasteLast(le_ctx* ctx, const char* where, int t) {
  if (!ctx || !ctx->lastCrop || !inFrames(*ctx, t)) {
    failWith(where, "bad args / no prior render");
    return nullptr;
  }
  return le::guarded<le::CoreFamily>(where, static_cast<const uint8_t*>(nullptr), [&] {
    pasteOverDriver(*ctx, t, ctx->lastCrop, ctx->frame.data());
    return static_cast<const uint8_t*>(ctx->frame.data());
  });
}

// The common tail of the RGBA exports, after a successful render: paste the latest crop into
// driver frame t and widen it to RGBA.
int pasteToRGBA(le_ctx* ctx, const char* where, int t, uint8_t* out, size_t outLen) {
  if (!out || outLen < frameBytes(*ctx, 4)) {
    failWith(where, "out buffer too small");
    return 0;
  }
  const uint8_t* rgb = pasteLast(ctx, where, t);
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
  return renderKp(ctx, "le_render_kp_crop", si, ks, kd);
}

LE_API const float* le_render_drive_crop(le_ctx* ctx, int i) {
  le::lastErrorText<le::CoreFamily>().clear();
  return renderDrive(ctx, "le_render_drive_crop", i);
}

LE_API int le_paste_crop(le_ctx* ctx, int t, const float* crop, uint8_t* out, size_t outLen) {
  le::lastErrorText<le::CoreFamily>().clear();
  if (!ctx || !crop || !out || !inFrames(*ctx, t) || outLen < frameBytes(*ctx, 3)) {
    failWith("le_paste_crop", "bad args / out too small");
    return 0;
  }
  return le::guarded<le::CoreFamily>("le_paste_crop", 0, [&] {
    pasteOverDriver(*ctx, t, crop, out);
    return 1;
  });
}

LE_API const uint8_t* le_paste_last(le_ctx* ctx, int t) {
  le::lastErrorText<le::CoreFamily>().clear();
  return pasteLast(ctx, "le_paste_last", t);
}

LE_API int le_render_kp_rgba(le_ctx* ctx, int si, const float* ks, const float* kd, uint8_t* out, size_t outLen) {
  le::lastErrorText<le::CoreFamily>().clear();
  if (!renderKp(ctx, "le_render_kp_rgba", si, ks, kd)) return 0;
  return pasteToRGBA(ctx, "le_render_kp_rgba", si, out, outLen);
}

LE_API int le_render_drive_rgba(le_ctx* ctx, int i, uint8_t* out, size_t outLen) {
  le::lastErrorText<le::CoreFamily>().clear();
  if (!renderDrive(ctx, "le_render_drive_rgba", i)) return 0;
  return pasteToRGBA(ctx, "le_render_drive_rgba", ctx->drive.si[size_t(i)], out, outLen);
}

LE_API const uint8_t* le_target_frame(le_ctx* ctx, int t) {
  le::lastErrorText<le::CoreFamily>().clear();
  if (!ctx || !inFrames(*ctx, t)) {
    failWith("le_target_frame", "bad args");
    return nullptr;
  }
  return le::guarded<le::CoreFamily>("le_target_frame", static_cast<const uint8_t*>(nullptr), [&] {
    int delivered = -1;
    return ctx->cursor->pullAt(t, &delivered);
  });
}

}  // extern "C"
