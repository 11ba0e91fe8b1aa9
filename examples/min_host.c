/* A minimal host of the utterance pipeline (le_utt.h): opens a session on a bundle and a pipeline
 * on a motion directory, pushes one second of sound in 20 ms chunks, and pulls finished frames until
 * the speech and its ramp back to idle have been delivered.
 *
 *   min_host BUNDLE MOTION_DIR
 *
 * A live host pushes each chunk as it arrives and pulls on its display's clock; this one pushes at
 * once and pulls as fast as frames come. */
#define _POSIX_C_SOURCE 199309L
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "le/le.h"
#include "le/le_utt.h"

static void sleepMs(long ms) {
  struct timespec t;
  t.tv_sec = ms / 1000;
  t.tv_nsec = (ms % 1000) * 1000000L;
  nanosleep(&t, NULL);
}

/* Pushes one second of a 180 Hz buzz that swells and fades, as 50 chunks of 320 samples. */
static void pushSpeech(le_utt* utt) {
  int16_t chunk[320];
  int c, i;
  for (c = 0; c < 50; ++c) {
    for (i = 0; i < 320; ++i) {
      const double t = (c * 320 + i) / 16000.0;
      chunk[i] = (int16_t)(12000.0 * sin(3.14159265 * t) * sin(2.0 * 3.14159265 * 180.0 * t));
    }
    le_utt_push_audio(utt, chunk, 320);
  }
  le_utt_end_utterance(utt);
}

/* Pulls until idle frames follow the speech; returns the speech frames seen. */
static int pullUntilIdle(le_utt* utt, uint8_t* frame, size_t bytes) {
  le_utt_frame_info info;
  int speech = 0, ramp = 0, waitedMs = 0;
  while (waitedMs < 60000) {
    if (!le_utt_pull_frame(utt, frame, bytes, &info)) {
      sleepMs(2);
      waitedMs += 2;
      continue;
    }
    if (info.kind == 1) ++speech;
    if (info.kind == 2) ++ramp;
    if (info.kind == 0 && speech > 0) break;
  }
  printf("min_host: %d speech frames, %d ramp frames\n", speech, ramp);
  return speech;
}

int main(int argc, char** argv) {
  le_ctx* ctx;
  le_utt* utt;
  le_utt_opts opts = {0};
  uint8_t* frame;
  size_t bytes;
  int ready, speech;
  if (argc != 3) {
    fprintf(stderr, "usage: min_host BUNDLE MOTION_DIR\n");
    return 2;
  }
  ctx = le_create(argv[1], "b1", 0, NULL);
  if (!ctx) {
    fprintf(stderr, "min_host: %s\n", le_last_error());
    return 1;
  }
  opts.motion_dir = argv[2];
  utt = le_utt_create(ctx, &opts);
  if (!utt) {
    fprintf(stderr, "min_host: %s\n", le_utt_last_error());
    le_destroy(ctx);
    return 1;
  }
  /* Audio pushed before the warm-up ends is discarded. */
  while ((ready = le_utt_ready(utt)) == 0) sleepMs(10);
  if (ready < 0) fprintf(stderr, "min_host: %s\n", le_utt_last_error());
  bytes = (size_t)le_width(ctx) * (size_t)le_height(ctx) * 3;
  frame = malloc(bytes);
  speech = 0;
  if (ready > 0 && frame) {
    pushSpeech(utt);
    speech = pullUntilIdle(utt, frame, bytes);
  }
  free(frame);
  le_utt_destroy(utt); /* every pipeline before its session */
  le_destroy(ctx);
  return speech > 0 ? 0 : 1;
}
