/* le_a2x: streaming audio-to-expression. Speech in (mono float samples at 16 kHz, pushes of any
 * size), per-frame keypoints out at 25 frames per second (640 samples per frame): for every frame a
 * row of the bundle's target keypoint table and that row plus the motion the speech gives it, each
 * LE_HOST_KP_ROWS x 3 = 63 floats.
 *
 * Speech features come from a speech encoder shared by every object of the process: the 8 s
 * encoder named by $W2V_ONNX, and the short-window trunk/head pair found through
 * $LE_A2X_W2V_WIN_ONNX / $LE_A2X_W2V_HEAD_ONNX or beside the encoder
 * ("audio_encoder_fp16_window_{trunk,head}.onnx", else "w2v_trunk32.onnx"/"w2v_head32.onnx").
 * With the pair an object runs one 2 s trunk window per block of 8 frames; without it, 8 s
 * windows.
 *
 * Live use: create; per utterance push ... (avail/pull interleaved) ... finish, pull until
 * le_a2x_total frames are out, reset. Before finish, frames become ready in whole blocks of 8
 * (5120 samples, a block counting once 4481 of its samples are in), so the frames pulled do not
 * depend on how the audio was split into pushes.
 *
 * Errors: every export of this family that can fail clears the calling thread's last-error text
 * on entry and, on failure, sets it to "<export name>: <reason>"; read it with
 * le_a2x_last_error(). Accessors return 0 for a NULL object.
 *
 * Environment: W2V_ONNX (the 8 s encoder), LE_A2X_W2V_WIN_ONNX and LE_A2X_W2V_HEAD_ONNX (the
 * short-window pair), LE_A2X_W2V_RIGHT (right-context frames of the frontend, default 12),
 * LE_A2X_SILENCE_PRIME (silence-priming frames, overrides the bundle's), LE_A2X_CUDA ("1": the
 * speech-encoder sessions ask for the CUDA execution provider; on a runtime without it they fail
 * to load) and LE_A2X_CUDA_MEM_MIB (its memory limit, default 3072). */
#ifndef LE_A2X_H
#define LE_A2X_H

#include <stddef.h>
#include <stdint.h>

#include "le_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One streaming audio-to-expression engine over one bundle. Use it from one thread at a time;
 * objects on different threads share only the speech-encoder sessions. */
typedef struct le_a2x le_a2x;

/* The calling thread's last-error text of this family. Never NULL; empty when the last le_a2x
 * export on this thread that can fail succeeded. Valid until the next le_a2x export call on this
 * thread. */
LE_API const char* le_a2x_last_error(void);

/* Opens the engine of a bundle handle (directory or IMX container): its a2x_meta.json,
 * a2x_pos.f32, a2x_norm.f32, the member xs_target.bin, the encoder a2x_enc_stream.onnx and the
 * decoder a2x_dec.onnx; and the shared speech encoder. threads < 1, or not below the library's
 * thread budget, takes the budget. Returns NULL on failure with le_a2x_last_error() set to one of:
 *   "le_a2x_create: NULL bundle"
 *   "le_a2x_create: a2x_meta.json missing in <root>"
 *   "le_a2x_create: meta lacks causal window/left (not a streaming a2x)"
 *   "le_a2x_create: pos/norm/xs_target read failed"
 *   "le_a2x_create: $W2V_ONNX not set"
 *   "le_a2x_create: shared w2v load failed"
 *   "le_a2x_create: shared w2v load failed (silence_prime)"
 *   "le_a2x_create: <reason>" for any other failure (bundle resolution, a network that does not
 *   open). */
LE_API le_a2x* le_a2x_create(const char* bundle, int threads);

/* Releases the engine; NULL is ignored. The shared speech-encoder sessions stay loaded. */
LE_API void le_a2x_destroy(le_a2x* a);

/* Appends count samples (count <= 0 appends nothing). Never computes. Returns 1; 0 for a NULL
 * object or NULL samples with count > 0 ("le_a2x_push: bad args"). */
LE_API int le_a2x_push(le_a2x* a, const float* samples, int count);

/* Marks the end of the utterance: the remaining frames, the last partial one included, become
 * ready. */
LE_API void le_a2x_finish(le_a2x* a);

/* Frames ready to pull (>= 0), computing at most one step of them (8 frames with the short-window
 * frontend, 64 with 8 s windows). A failed computation leaves le_a2x_last_error() at
 * "le_a2x extend: <reason>" and counts only the frames already computed. 0 for NULL. */
LE_API int le_a2x_avail(le_a2x* a);

/* Hands out up to max ready frames, computing them when none is waiting. For each frame: the
 * target-table row index into rows[i], that row (63 floats) into target + 63 i, and the row plus
 * the frame's motion into kp + 63 i. Any of the three outputs may be NULL to skip it. Returns the
 * frames written (0 when none is ready, for max <= 0, or for a NULL object); a failed computation
 * sets "le_a2x extend: <reason>" and the frames already computed are still handed out. */
LE_API int le_a2x_pull(le_a2x* a, int32_t* rows, float* target, float* kp, int max);

/* le_a2x_pull, and each frame's wn value (the encoder's second output; 0 when it has none) into
 * wn[i] (may be NULL). */
LE_API int le_a2x_pull_wn(le_a2x* a, int32_t* rows, float* target, float* kp, float* wn, int max);

/* -1 before le_a2x_finish; afterwards the utterance's frame count, ceil(samples / 640). 0 for
 * NULL. */
LE_API int le_a2x_total(const le_a2x* a);

/* Starts the next utterance: drops the audio and everything computed from it and restores the
 * decoder's starting state. The target rows walk from row `start` (negative: continue from where
 * the walk stands, the row the next pulled frame would have had), forwards or backwards
 * (direction < 0), wrapping around (loop != 0) or bouncing at the ends (loop == 0). Returns the
 * direction used, +1 or -1; 0 for NULL. */
LE_API int le_a2x_reset(le_a2x* a, int start, int direction, int loop);

/* Offline: the motion of a whole utterance of count samples, ceil(count / 640) frames of 63
 * floats written to out (kept by the caller), computed with 8 s windows and independent of the
 * live state, which it leaves untouched. Returns the frame count; 0 for count <= 0; -2 when max
 * frames is below the frame count (nothing written, "le_a2x_deltas: out too small (<F> frames)");
 * -1 on failure ("le_a2x_deltas: <reason>", also for a NULL object or buffers). */
LE_API int le_a2x_deltas(le_a2x* a, const float* samples, int count, float* out, int max);

/* le_a2x_deltas, and each frame's wn value into wn (max floats). Returns -3 when the encoder has
 * no wn output ("le_a2x_deltas_wn: encoder declares no wn output"); otherwise as le_a2x_deltas. */
LE_API int le_a2x_deltas_wn(le_a2x* a, const float* samples, int count, float* out, float* wn, int max);

/* Rows of the target keypoint table; 0 for NULL. */
LE_API int le_a2x_nt(const le_a2x* a);

/* 1 when the encoder has the wn output, else 0 (also for NULL). */
LE_API int le_a2x_width(const le_a2x* a);

/* Stores an eager-dispatch hint for the pipeline; the engine itself does not use it. */
LE_API void le_a2x_set_eager(le_a2x* a, int eager);

/* Loads the shared 8 s speech encoder ahead of first use with the library's thread budget. NULL
 * or "" means $W2V_ONNX. Returns 1 when the encoder is loaded afterwards (a later call with
 * another path keeps the first encoder), 0 otherwise: "le_a2x_preload_w2v: no path and $W2V_ONNX
 * unset", or "le_a2x_preload_w2v: load failed (<path>)". */
LE_API int le_a2x_preload_w2v(const char* path);

/* 1: the 8 s encoder is loaded only when first needed. */
LE_API int le_a2x_w2v8_lazy(void);

#ifdef __cplusplus
}
#endif

#endif /* LE_A2X_H */
