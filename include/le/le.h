/* le: real-time talking-head video of one pre-recorded person.
 *
 * Core family: sessions and frames, bundle resolution, prior rows. Every export of this family that
 * can fail clears the calling thread's last-error text on entry and, on failure, sets it to
 * "<export name>: <reason>"; read it with le_last_error(). */
#ifndef LE_H
#define LE_H

#include <stddef.h>
#include <stdint.h>

#include "le_export.h"
#include <le/le_version.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Keypoints per frame of every core interface: 21 rows of (x, y, z), 63 contiguous floats. */
#define LE_HOST_KP_ROWS 21
#define LE_HOST_KP_FLOATS (LE_HOST_KP_ROWS * 3)

/* The calling thread's last-error text of the core family. Never NULL; empty when the last core
 * export on this thread that can fail succeeded. Valid until the next core export call on this
 * thread. */
LE_API const char* le_last_error(void);

/* The library's version as LE_VERSION_INT computes it (le_version.h), read from the loaded library:
 * a host compiled against other headers sees the difference here. */
LE_API unsigned le_version(void);

/* The keypoint row count, LE_HOST_KP_ROWS (21). */
LE_API int le_host_kp_rows(void);

/* Resolves a bundle handle (a directory, an IMX container, or a name whose ".imx" sibling is a
 * container) to the bundle's root directory, unwrapping a container once and reusing it while the
 * container is unchanged. Writes the NUL-terminated root into out (outLen bytes).
 * Returns 1 on success, -1 on failure: NULL arguments (last error left empty), a buffer too small,
 * or a failed unwrap (see le_last_error()). */
LE_API int le_bundle_resolve_handle(const char* handle, char* out, size_t outLen);

/* Resolves the member `name` (its short name; the descriptive form is found too) of the bundle
 * `bundle` and writes its NUL-terminated path into out (outLen bytes).
 * Returns 1 when that file opens for reading, 0 when it does not, -1 on failure: NULL arguments
 * (last error left empty), a buffer too small, a bundle handle that cannot be resolved, a name
 * that would leave the bundle (absolute, a ".." component, or a link out of the root), or a member
 * that is a FIFO, device or socket (never opened, so the call does not block); the reason is in
 * le_last_error() ("le_bundle_resolve_member: ..."), and out holds an empty string. */
LE_API int le_bundle_resolve_member(const char* bundle, const char* name, char* out, size_t outLen);

/* ---- Diagnostics ---------------------------------------------------------------------------- */

/* Receives one diagnostic line of the library: NUL-terminated, without a trailing newline, and
 * beginning with a bracketed tag ("[le] ...", "[le-driver] ..."); a "WARNING" after the tag marks a
 * warning. The text is valid only during the call. The callback may be called from any thread of
 * the library (decoder, pipeline and worker threads), also concurrently, so it must be
 * thread-safe; it must not call back into the library. */
typedef void (*le_log_fn)(const char* line, void* user);

/* Routes every diagnostic line of the library to fn, called with user. NULL restores the default,
 * which writes each line and a newline to standard error. Takes effect for lines emitted after the
 * call returns; a line already being delivered may still reach the previous callback.
 * While a hook is set, FFmpeg's own messages (its demuxers and decoders reading a driver video or a
 * teeth bank) arrive there too, tagged "[ffmpeg]", at FFmpeg's log level (av_log_set_level). FFmpeg
 * keeps one log callback per process: setting a hook replaces any av_log callback the host
 * installed before, and NULL restores FFmpeg's default one. A host that unloads the library while
 * FFmpeg stays loaded clears the hook first. */
LE_API void le_log_set(le_log_fn fn, void* user);

/* ---- Threads ------------------------------------------------------------------------------- */

/* The process-wide thread budget: how many threads one CPU-bound stage of the library may use at
 * once (the compositor's parallel loops, and the director's intra-op threads when le_create is
 * given threads < 1). Each host thread that runs such a stage gets its own workers, budget - 1 of
 * them, created on its first parallel loop and joined when that thread exits; a loop started
 * inside another runs serially on the thread that runs that part, whether the host's or a worker.
 * So two host threads rendering at once use up to twice the budget.
 *
 * Default: LE_CORE_THREADS, else LE_PASTE_THREADS (a base-10 count; 0 or text that is not a number
 * means 1), else 4, capped at the hardware thread count. Four leaves room for the decoder and
 * pipeline threads beside the compute threads on a typical machine; the variables are read once,
 * on the library's first use of the budget. */

/* The budget now in force (at least 1). */
LE_API int le_threads(void);

/* Sets the budget to n, capped at the hardware thread count; n < 1 restores the default above.
 * Returns the budget now in force. Parallel loops started after the call use it (a thread whose
 * workers were built for another budget rebuilds them at its next loop); directors already opened
 * keep their thread count, so call it before le_create to size a session's director. */
LE_API int le_set_threads(int n);

/* ---- Sessions ----------------------------------------------------------------------------- */

/* One identity bundle opened for rendering and compositing. A session has no lock: call it from
 * one thread at a time. */
typedef struct le_ctx le_ctx;

/* Opens a session on a bundle handle (directory, IMX container, or a name whose ".imx" sibling is
 * one): reads the manifest, maps the identity arrays and driving tables, loads the paste mask,
 * builds the compositor and starts decoding the driver video. model_key names the director model
 * ("b1" for the member "model_b1.onnx"); threads is the director's intra-op thread count, capped
 * at the hardware thread count (more threads than cores only add switching and memory); threads
 * < 1 takes the thread budget (le_threads), of which the director then uses at most two unless
 * ep is given, leaving the rest to a pipeline on the session. ep is the execution-provider
 * request (NULL for the default). The director itself opens on first use.
 * Returns NULL on failure; le_last_error() says why ("le_create: ..."). */
LE_API le_ctx* le_create(const char* bundle_dir, const char* model_key, int threads, const char* ep);

/* Closes a session; NULL is ignored. Destroy every pipeline built on it first. */
LE_API void le_destroy(le_ctx* ctx);

/* Driver-video frames (and rows of the identity arrays); 0 for NULL. */
LE_API int le_nt(const le_ctx* ctx);
/* Frame width and height in pixels; 0 for NULL. */
LE_API int le_width(const le_ctx* ctx);
LE_API int le_height(const le_ctx* ctx);
/* Side of the square face crop; 0 for NULL. */
LE_API int le_crop(const le_ctx* ctx);
/* Rows of the bundle's baked idle-loop tables; 0 for NULL. */
LE_API int le_drive_frames(const le_ctx* ctx);

/* ---- Frames, one at a time ---------------------------------------------------------------- */
/* Frame t (0 <= t < le_nt) selects the source frame of the director, the driver frame to paste
 * into and that frame's paste transform. Keypoints are LE_HOST_KP_ROWS x 3 floats. A crop is the
 * director's output: 3 planes (R, G, B) of le_crop x le_crop floats in [0, 1]. Frames are packed
 * RGB (le_width x le_height x 3 bytes, no row padding) or RGBA with alpha 255. The first render
 * on a session opens the director (a failed opening is retried by the next render). */

/* Renders the face crop of source frame si with source keypoints ks and driving keypoints kd
 * (LE_HOST_KP_FLOATS floats each, all finite). Returns the crop, owned by the session and valid
 * until the next render on it; NULL on failure (le_last_error(): "le_render_kp_crop: bad args",
 * "le_render_kp_crop: keypoint kd[37] (row 12, y) is nan; keypoints must be finite", or the
 * director's refusal). Every render, failed or not, first forgets the session's latest crop, so
 * after a failed render le_paste_last fails until a render succeeds. */
LE_API const float* le_render_kp_crop(le_ctx* ctx, int si, const float* ks, const float* kd);

/* Renders step i (0 <= i < le_drive_frames) of the bundle's baked idle loop: the step's source
 * frame with its source and driving keypoints. The crop as le_render_kp_crop; NULL on failure
 * ("le_render_drive_crop: bad frame index", or the texts of le_render_kp_crop under this
 * export's name; a non-finite keypoint in the bundle's table names the step). */
LE_API const float* le_render_drive_crop(le_ctx* ctx, int i);

/* Writes driver frame t into out (outLen >= le_width x le_height x 3 bytes) and pastes the crop
 * into it through frame t's paste transform. The caller keeps both buffers. Returns 1, or 0 on
 * failure ("le_paste_crop: ..." in le_last_error()). */
LE_API int le_paste_crop(le_ctx* ctx, int t, const float* crop, uint8_t* out, size_t outLen);

/* Pastes the latest rendered crop into driver frame t. Returns the RGB frame, owned by the
 * session and valid until the next paste on it; NULL without a prior render or on failure
 * ("le_paste_last: ..." in le_last_error()). */
LE_API const uint8_t* le_paste_last(le_ctx* ctx, int t);

/* le_render_kp_crop, then the crop pasted into driver frame si, written into out as RGBA
 * (outLen >= le_width x le_height x 4 bytes, kept by the caller). Returns 1, or 0 on failure:
 * le_last_error() holds the failing step's text under this export's name ("le_render_kp_rgba:
 * ..."); "le_render_kp_rgba: out buffer too small" when out is too small, in which case the render
 * has happened and le_paste_last can still use it. */
LE_API int le_render_kp_rgba(le_ctx* ctx, int si, const float* ks, const float* kd, uint8_t* out, size_t outLen);

/* le_render_drive_crop, then the crop pasted into the step's own driver frame (its source frame,
 * not frame i), written into out as RGBA. Results as le_render_kp_rgba; texts begin
 * "le_render_drive_rgba: ". */
LE_API int le_render_drive_rgba(le_ctx* ctx, int i, uint8_t* out, size_t outLen);

/* Driver frame t as RGB, untouched. Returns a pointer into the session's decoder ring, valid until
 * the next call on this session that takes a driver frame (a paste or another le_target_frame);
 * NULL on failure ("le_target_frame: ..." in le_last_error()). */
LE_API const uint8_t* le_target_frame(le_ctx* ctx, int t);

/* ---- Warp-prior rows, without a session --------------------------------------------------- */

typedef struct le_prior le_prior;

/* Opens the bundle's warp prior for frame-by-frame reading: one row per frame, crop x crop x 3
 * half-precision values in three planes R, G, B. Rows come from the raw member P.f16 when the
 * bundle carries it (backend "mmap P.f16"), else they are decoded from the prior movie (P_hevc),
 * for which lookAhead (< 1 becomes 2) and history (< 0 becomes 0) size the decoder's ring.
 * Returns NULL on failure ("le_prior_open: ..." in le_last_error()), e.g. a bundle that carries
 * neither. */
LE_API le_prior* le_prior_open(const char* bundle_dir, int lookAhead, int history);

/* Writes frame t of the prior into out (cap bytes available, at least le_prior_row_bytes()).
 * Returns 1, or 0 on failure ("le_prior_row: ..." in le_last_error()); the handle stays usable. */
LE_API int le_prior_row(le_prior* prior, int t, void* out, size_t cap);

/* Bytes of one prior frame; 0 for NULL. */
LE_API size_t le_prior_row_bytes(const le_prior* prior);

/* The decoding backend recorded at open; "" for NULL. Valid until le_prior_close. */
LE_API const char* le_prior_backend(const le_prior* prior);

/* Frees the handle; NULL is ignored. */
LE_API void le_prior_close(le_prior* prior);

#ifdef __cplusplus
}  /* extern "C" */

namespace le {
/* Internal linkage keeps this valid before C++17, where inline variables do not exist. */
constexpr int kHostKpRows = LE_HOST_KP_ROWS;
}  // namespace le
#endif

#endif /* LE_H */
