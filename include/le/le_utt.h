/* le: utterance pipeline family (le_utt_).
 *
 * The real-time path: built over an open session (le_create), a pipeline accepts speech audio
 * pushed by the host and keeps an output ring of 8 finished full frames (W x H x 3 RGB bytes) that
 * the host pulls at its own frame rate. Without speech it delivers the driver video untouched
 * (idle frames, driver frames in order); with speech it turns the audio into keypoints with a
 * streaming audio-to-motion engine, renders face crops with the session's director and pastes
 * them into the driver frames; after speech, and after an interrupt, it renders a short ramp from
 * the last spoken pose back to the idle pose.
 *
 * Engine: the audio-to-expression engine (le_a2x.h) when the motion directory holds the member
 * "a2x_enc_stream.onnx" (or its descriptive name), else the motion generator (le_motion.h). The
 * idle pose of driver frame t is row t of "xs_target.bin" in the motion directory; without that
 * member (or with one of the wrong size) speech ends without a ramp.
 *
 * Threads: a producer (the state machine: takes audio, renders, ramps, admits frames), a warm-up
 * thread (creates the engine and the steady chunk renderer, warms the director), a dispatch thread
 * (calls the engine) and, with pipelined paste, a paste thread. Pushing never blocks on output;
 * pulling returns "nothing yet" instead of waiting. Every export may be called from any thread.
 * While a pipeline runs, the host does not call the frame-at-a-time exports of le.h on its
 * session; it destroys every pipeline before the session.
 *
 * Errors: exports that can fail set this family's per-thread text, read with le_utt_last_error();
 * only le_utt_create clears it on entry. Render failures inside the threads are counted and
 * described by le_utt_render_status().
 *
 * Environment: LE_STEADY_MODEL (model key of the steady chunk renderer, "-" for none),
 * LE_UTT_HYBRID (non-empty and not "0": hybrid eager switching when opts.eager does not choose),
 * LE_UTT_PIPELINE_PASTE (integer, non-zero: composite on a paste thread; the default is on for the
 * audio-to-expression engine and off for the motion generator), LE_UTT_STAGE_REPORT (set: print
 * the stage report when the pipeline is destroyed). */
#ifndef LE_UTT_H
#define LE_UTT_H

#include <stddef.h>
#include <stdint.h>

#include "le.h"
#include "le_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct le_utt le_utt;

/* Options read once by le_utt_create. A zeroed struct with motion_dir set gives every default. */
typedef struct le_utt_opts {
  /* Directory of the motion engine's members (required). */
  const char* motion_dir;
  /* Intra-op threads of the motion engine; < 1: the session's threads. */
  int threads;
  /* Execution provider handed to le_motion_create; NULL: the CPU provider. */
  const char* motionEp;
  /* Model key of the steady chunk renderer (member "model_<key>.onnx"); "-": none, every speech
   * frame is rendered alone; NULL or "": "b24_fp32". LE_STEADY_MODEL, when set, replaces it. */
  const char* steadyModel;
  /* Eager frame count of the engine; -2: hybrid mode (3, switching to 24 under backlog); other
   * values < 1: hybrid when LE_UTT_HYBRID says so, else the engine's own (-1). */
  int eager;
  /* Seconds without pushed audio after which an utterance ends by itself; 0: 0.6; negative:
   * never (only le_utt_end_utterance ends it). */
  double idleEndSeconds;
  /* Frames of the ramp back to the idle pose after speech; < 1: 6. */
  int rampFrames;
  /* Frames of the ramp after an interrupt; < 1: 4. */
  int interruptRampFrames;
} le_utt_opts;

/* What le_utt_pull_frame delivered. */
typedef struct le_utt_frame_info {
  /* Running number of the frame among all frames admitted to the ring, from 0. */
  int64_t seq;
  /* 0 idle, 1 speech, 2 ramp. */
  int32_t kind;
  /* Driver frame (and source frame) index. */
  int32_t idx;
  /* Speech frame number within its utterance, from 0; -1 for idle and ramp frames. */
  int32_t frameNo;
} le_utt_frame_info;

/* Counters and timings of a pipeline (le_utt_get_stats). */
typedef struct le_utt_stats {
  int64_t framesPulled;
  int64_t speechFramesPulled;
  /* Utterances whose first speech frame entered the ring. */
  int64_t utterancesStarted;
  /* Milliseconds from the first audio push of the latest utterance to its first speech frame
   * entering the ring. */
  double lastLatencyMs;
  /* Exponential average (factor 0.9) over speech frames of the time to render and admit one. */
  double renderMsEma;
  /* Producer state: 0 idle, 1 utterance started, 2 speaking, 3 ramp. */
  int32_t state;
  int32_t reserved; /* always 0 */
} le_utt_stats;

/* Builds a pipeline over ctx and starts its threads; the session's director is created first when
 * it has none. The engine is created in the background: le_utt_ready tells when it is ready.
 * Returns NULL on failure: "le_utt_create: NULL ctx/opts", "le_utt_create: opts.motion_dir
 * required", or "le_utt_create: " and the reason. Release with le_utt_destroy, before ctx. */
LE_API le_utt* le_utt_create(le_ctx* ctx, const le_utt_opts* opts);

/* le_utt_create with only motion_dir set. */
LE_API le_utt* le_utt_open(le_ctx* ctx, const char* motion_dir);

/* Stops and joins the pipeline's threads and releases it; NULL is ignored. */
LE_API void le_utt_destroy(le_utt* utt);

/* The calling thread's last-error text of this family. Never NULL; valid until the thread's next
 * call into this family. */
LE_API const char* le_utt_last_error(void);

/* 1 when the warm-up has finished, 0 while warming, -1 when the engine cannot be created (the
 * engine's own error becomes this family's text) or utt is NULL. */
LE_API int le_utt_ready(le_utt* utt);

/* Appends count 16-bit samples (mono, 16 kHz) to the pending audio; the first push after idle
 * starts an utterance. Audio pushed before the engine is ready is discarded. Returns 1, or 0 with
 * "le_utt_push_audio: bad args" (NULL utt or samples, negative count). */
LE_API int le_utt_push_audio(le_utt* utt, const int16_t* samples, int count);

/* Ends the current utterance once its pushed audio is rendered. */
LE_API void le_utt_end_utterance(le_utt* utt);

/* Discards pending audio and every undelivered frame, then ramps from the last pulled pose back to
 * idle (or continues idle). */
LE_API void le_utt_interrupt(le_utt* utt);

/* Frames waiting in the ring (0 to 8); 0 for NULL. */
LE_API int le_utt_frames_available(le_utt* utt);

/* Copies the oldest waiting frame (W x H x 3 bytes) into out and fills info when given. Returns 1,
 * or 0 when no frame is waiting (no text) or on error: "le_utt_pull_frame: bad args",
 * "le_utt_pull_frame: buffer too small" (the frame stays for the next pull). Never waits. */
LE_API int le_utt_pull_frame(le_utt* utt, uint8_t* out, size_t outLen, le_utt_frame_info* info);

/* Fills stats; NULL utt or stats is ignored. */
LE_API void le_utt_get_stats(le_utt* utt, le_utt_stats* stats);

/* Copies the last render failure ("ep=<ep> <stage>: <reason>", empty when none) into buf (at most
 * bufLen - 1 bytes, always terminated) and the failure count into failCount when given. Returns -1
 * once a fatal failure (stage "render" or "ramp") was recorded, else 0. */
LE_API int le_utt_render_status(le_utt* utt, char* buf, int bufLen, int64_t* failCount);

/* ---- Teeth borrow --------------------------------------------------------------------------- */
/* Arms the teeth borrow on the pipeline: from then on every crop passes through it one frame
 * behind (the first speech frame of an utterance is delivered when the second is rendered, an idle
 * frame first delivers the held one), with real teeth from the bank blended into the mouth. The
 * arguments are the bundle's teeth members as le_tessera.h hands them out: the bank in donor order
 * (n_donors x band_h x band_w x 3 bytes, sizes from the stamp), n_donors (x, y) mouth centres, the
 * canonical centre (x, y), n_donors apertures, the twelve geometry numbers, the head weights file
 * and its byte count, the head config text and the manifest text. A second attach replaces the
 * borrow. The teeth stage runs on its own thread when paste is pipelined (LE_UTT_TEETH_THREAD=0
 * keeps it on the producer). Returns 0 when armed, else 1 with the message in err (at most
 * err_len - 1 bytes, terminated): "le_utt_tessera_attach: null session", "...: a required member
 * is null ...", "...: n_donors <= 0" (checked before anything is read), "...: bank canvas WxH !=
 * this bundle's render crop N", "...: xs_target.bin is absent ...", or the reason the bank, the
 * head or the lip template was refused. */
LE_API int le_utt_tessera_attach(le_utt* u, const uint8_t* donors, int32_t n_donors, const double* cent,
                                 const double* c_canon, const double* aperture, const int32_t* stamp,
                                 const uint8_t* head_pt, int32_t head_pt_len, const char* head_json,
                                 const char* manifest_json, char* err, int32_t err_len);

/* The borrow's counts (frames delivered through it, failures) and its last failure text (at most
 * bufLen - 1 bytes, terminated; NULL pointers are skipped). Returns 0 with no borrow attached, 1
 * when attached, -1 after a borrow failure: from then on no frame reaches the ring. */
LE_API int le_utt_tessera_stats(le_utt* u, int64_t* borrowed, int64_t* refused, char* buf, int bufLen);

/* The name of the compose geometry the bank was identified with ("v1", ...). Returns 1 with the
 * name when a borrow is attached; else 0 and an empty text (0 for NULL u or buf or bufLen < 1). */
LE_API int le_utt_tessera_geometry(le_utt* u, char* buf, int bufLen);

/* The blend head's synthesis weight over the frames emitted so far: the average, the last frame's
 * value and the frame count. Returns 1 when a borrow is attached and has emitted frames, else 0. */
LE_API int le_utt_tessera_synth_w(le_utt* u, double* average, double* last, int64_t* count);

#ifdef __cplusplus
}
#endif

#endif /* LE_UTT_H */
