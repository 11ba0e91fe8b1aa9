/* le_fca: the face-coefficient animator, an offline audio-to-keypoint-delta model. A whole
 * utterance (mono float samples at 16 kHz) in, one row of LE_HOST_KP_ROWS x 3 = 63 keypoint deltas
 * per 40 ms frame (640 samples) out. It runs its own 8 s speech encoder ("input_values" [1, 128000]
 * -> "audio_emb" [12, 200, 768]) and a small autoregressive network ("fca_stream.onnx" in a bundle:
 * "cond" [1, 5376], "prev" [1, 63], "h" [1, 1, 384] -> "m", "hn"), and shares nothing with the
 * le_a2x and le_motion engines.
 *
 * Errors: every export that can fail clears the calling thread's last-error text on entry and, on
 * failure, sets it to "<export name>: <reason>"; read it with le_fca_last_error(). */
#ifndef LE_FCA_H
#define LE_FCA_H

#include <stddef.h>
#include <stdint.h>

#include "le_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One animator. Use it from one thread at a time. */
typedef struct le_fca le_fca;

/* The calling thread's last-error text of this family; never NULL, empty after a success. Valid
 * until the next le_fca export call on this thread. */
LE_API const char* le_fca_last_error(void);

/* Opens the speech encoder at encoder_path and the animator network at animator_path. threads < 1
 * takes the library's thread budget. Returns NULL on failure ("le_fca_create: <reason>"). */
LE_API le_fca* le_fca_create(const char* encoder_path, const char* animator_path, int threads);

/* Writes the deltas of `count` samples: F = ceil(count / 640) rows of 63 floats into deltas, and
 * returns F; 0 for count <= 0. Returns -1 when max_frames < F (nothing run, nothing written) or on
 * failure ("le_fca_deltas: <reason>"). */
LE_API int le_fca_deltas(le_fca* f, const float* samples, int count, float* deltas, int max_frames);

/* Releases the animator; NULL is ignored. */
LE_API void le_fca_destroy(le_fca* f);

#ifdef __cplusplus
}
#endif

#endif /* LE_FCA_H */
