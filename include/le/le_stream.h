/* le_stream: the offline stream renderer. A whole recorded utterance (mono float samples at
 * 16 kHz) in, one finished RGB24 frame per 40 ms out, handed to a callback in order. The audio is
 * turned into keypoint deltas by the bundle's face-coefficient animator (le_fca.h, the member
 * "fca_stream.onnx"); a render thread renders face crops up to four frames ahead while the calling
 * thread pastes them into the driver frames.
 *
 * Errors: every export that can fail clears the calling thread's last-error text on entry and, on
 * failure, sets it; read it with le_stream_last_error(). */
#ifndef LE_STREAM_H
#define LE_STREAM_H

#include <stddef.h>
#include <stdint.h>

#include "le_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct le_stream le_stream;

/* Receives output frame `index` (counted from 0 after the skipped frames): RGB24, width x height,
 * no row padding. The bytes are valid during the call only. Called on the thread of le_stream_run. */
typedef void (*le_stream_frame_fn)(void* user, int index, const uint8_t* rgb, int width, int height);

/* The calling thread's last-error text of this family; never NULL, empty after a success. */
LE_API const char* le_stream_last_error(void);

/* Opens a session on the bundle (its director, paste and driver video), the animator with the 8 s
 * speech encoder at encoder_path, and the bundle's target keypoints. threads < 1 takes the
 * library's thread budget. skip (>= 0) leading animation frames are computed but not rendered;
 * gain scales the animator's deltas. Returns NULL on failure with the text: "le_create: ...",
 * "le_fca_create: ...", "le_stream_create: cannot read xs_target.bin (NT*63 f32)",
 * "le_stream_create: skip <n> is negative" or "le_stream_create: NULL bundle or encoder path". */
LE_API le_stream* le_stream_create(const char* bundle, const char* encoder_path, int threads, int skip, float gain);

/* Renders `count` samples: ceil(count / 640) animation frames, of which the first `skip` are not
 * rendered. Each frame goes to callback (NULL: rendered and discarded). Returns the frames
 * delivered (0 when nothing is left after the skip), or -1 on failure with the text
 * ("le_stream_run: render/paste failed" after delivering the frames made before the failure, or
 * "le_stream_run: <reason>"). One run at a time per stream. */
LE_API int le_stream_run(le_stream* s, const float* samples, int count, le_stream_frame_fn callback, void* user);

/* Frame size in pixels; 0 for NULL. */
LE_API int le_stream_width(const le_stream* s);
LE_API int le_stream_height(const le_stream* s);

/* Releases the stream and its session; NULL is ignored. */
LE_API void le_stream_destroy(le_stream* s);

#ifdef __cplusplus
}
#endif

#endif /* LE_STREAM_H */
