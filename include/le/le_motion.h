/* le: motion generator family (le_motion_).
 *
 * A second audio-to-keypoint engine with the same per-frame output as le_a2x: for every 40 ms video
 * frame a row of the target keypoint table, that row's target keypoints and the driving keypoints
 * for the director. Speech (16 kHz mono float) becomes a log-mel spectrogram computed in the
 * library, speech features from a distilled encoder, and motion vectors from a motion model run
 * over overlapping chunks of 80 frames; only the lip keypoints follow the generated expression,
 * head pose, scale and translation stay those of the source frame, and a stitching network
 * corrects the driving keypoints for the paste.
 *
 * Model directory (given at creation; a bundle directory): "meta.json" (keys nt, n_src, n_emo,
 * s_bridge, optional delta_pitch), the raw little-endian f32 tables "hubert_stft_window.bin",
 * "hubert_stft_binmat.bin", "hubert_fmean.bin", "hubert_fstd.bin", "emo.bin", "ch_xs_info.bin",
 * "ch_sc.bin", "ch_eye_open.bin", "ch_eye_ball.bin", "v_min_max.bin", "src_xs_info.bin", the
 * member "xs_target.bin", and the networks "hubert_student.onnx", "lmdm.onnx", "stitch.onnx".
 *
 * Calling order: create; per utterance push ... (avail / pull interleaved) ... finish, pull until
 * le_motion_total() frames are out, reset. One object is used by one thread at a time; distinct
 * objects may run on distinct threads at once.
 *
 * Errors: every export of this family that can fail clears the calling thread's last-error text
 * on entry and, on failure, sets it to "<export name>: <reason>"; read it with
 * le_motion_last_error(). The text is separate from le_last_error() and the other families.
 *
 * Environment: LE_ORT_SPIN beginning with "1" keeps ONNX Runtime's intra-op threads spinning
 * (off by default); LE_MOTION_DUMP names a directory for raw f32 debug dumps ("mel0.bin",
 * "feat0.bin", "lmdm0_kp.bin", "lmdm0_aud.bin", "lmdm0_pred.bin", "xsla.bin", "xdla.bin",
 * "xs.bin", "xd.bin", "res_post.bin", "final.bin", "cond.bin"); with dumping on, finish processes
 * the whole utterance at once. */
#ifndef LE_MOTION_H
#define LE_MOTION_H

#include <stddef.h>
#include <stdint.h>

#include "le_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct le_motion le_motion;

/* Opens the motion generator of the model directory motion_dir. threads is the intra-op thread
 * count of each network (0 or less: the library's thread budget). ep selects the execution
 * provider: NULL or "" is the ONNX Runtime CPU provider; a string beginning with "coreml" asks for
 * Apple's CoreML provider (compute units by the last three letters: "cpu" CPUOnly, "gpu"
 * CPUAndGPU, "ane" CPUAndNeuralEngine, anything else ALL). This platform's ONNX Runtime has no
 * CoreML provider: such a request logs "[le_motion] CoreML EP unavailable (...)" and the networks
 * run on the CPU provider. Any other ep string fails with "le_motion: unknown ep '<ep>'".
 * Returns NULL on failure: "le_motion_create: NULL motion_dir", or "le_motion_create: " and the
 * reason ("cannot open <path>", "short read <path>", "<path>: <n> floats, expected <m>",
 * "meta.json: missing <key>", "meta.json: bad <key>", "le_motion: n_src != nt unsupported", ...).
 * Release the object with le_motion_destroy(). */
LE_API le_motion* le_motion_create(const char* motion_dir, int threads, const char* ep);

/* Releases the object and its sessions; NULL is ignored. */
LE_API void le_motion_destroy(le_motion* m);

/* The calling thread's last-error text of this family. Never NULL; empty when the last export of
 * this family on this thread that can fail succeeded. Valid until the next le_motion_ call on this
 * thread. */
LE_API const char* le_motion_last_error(void);

/* Appends count samples (16 kHz mono, float). Pushing never waits for output; frames do not
 * depend on how the audio is split into pushes. Returns 1, or 0 with
 * "le_motion_push: bad args / already finished" for a NULL object or samples, a negative count,
 * or a push after le_motion_finish(). A count of 0 appends nothing and returns 1. */
LE_API int le_motion_push(le_motion* m, const float* samples, int count);

/* Marks the end of the utterance's audio: total = ceil(samples / 640) frames, the last partial
 * frame included. A second call changes nothing; NULL is ignored. A failure while processing
 * (with LE_MOTION_DUMP set) sets "le_motion_finish: <reason>". */
LE_API void le_motion_finish(le_motion* m);

/* Runs whatever the audio received allows and returns the frames ready to pull (>= 0). Without
 * eager mode, frames before le_motion_finish() are handed out only once they are final: they
 * equal the frames of the finished utterance. Returns 0 for NULL, and 0 with
 * "le_motion_avail: <reason>" when a network fails. */
LE_API int le_motion_avail(le_motion* m);

/* Writes up to max frames, in order: per frame the target-table row to rows[i] (rows may be NULL),
 * 63 floats of target keypoints to target and 63 floats of driving keypoints to keypoints.
 * Returns the frames written (0 when none is ready). Returns 0 with "le_motion_pull: bad args" for
 * a NULL object, target or keypoints, or max <= 0, and 0 with "le_motion_pull: <reason>" when a
 * network fails before any frame was written (frames already written are returned and the failure
 * shows on the next call). */
LE_API int le_motion_pull(le_motion* m, int32_t* rows, float* target, float* keypoints, int max);

/* -1 before le_motion_finish(), then the utterance's frame count; 0 for NULL. */
LE_API int le_motion_total(const le_motion* m);

/* Starts the next utterance: clears the audio, the conditioning, the motion timeline, the counters
 * and the reference expression, and restores the initial motion state. The frames walk the target
 * table from start (clamped to [0, nt - 1]; negative continues from the row the next frame would
 * have taken), one row per frame, backwards when direction is negative, wrapping around when loop
 * is non-zero and reversing at the ends when it is 0. The eager setting stays. NULL is ignored. */
LE_API void le_motion_reset(le_motion* m, int start, int direction, int loop);

/* Eager mode: 0 (the default) hands out only final frames; a positive value speculates over the
 * audio received so far once that many new frames of audio arrived (and at every new frame until
 * the first pull); a negative value adapts that threshold to the measured cost of a speculative
 * pass (1 to 8 frames). Speculative frames come earlier but may differ from the final ones; the
 * final timeline after le_motion_finish() is the same with or without eager mode. Setting 0
 * discards any speculation at once. NULL is ignored. */
LE_API void le_motion_set_eager(le_motion* m, int eager);

/* Rows of the target keypoint table (nt); 0 for NULL. */
LE_API int le_motion_nt(const le_motion* m);

#ifdef __cplusplus
}
#endif

#endif /* LE_MOTION_H */
