// The utterance pipeline at the C boundary. Only le_utt_create clears the family's error text;
// the other exports set it when they fail and leave it alone otherwise.
#include <cstring>
#include <stdexcept>
#include <string>

#include "core/last_error.h"
#include "core/session.h"
#include "le/le_utt.h"
#include "pipeline/utt.h"

namespace {

void failWith(const char* where, const char* reason) { le::setErr<le::UttFamily>(where, reason); }

le_utt* build(le_ctx& ctx, le::utt::Settings settings) {
  le::rendererOf(ctx);
  auto utt = std::make_unique<le_utt>(ctx, std::move(settings));
  const std::string& note = ctx.renderer->directorNote();
  if (!note.empty()) utt->noteRenderFail("director load", note, false);
  return utt.release();
}

// The session is claimed before anything is built, so that two hosts creating at once cannot both
// win; a failed build gives it back.
le_utt* create(le_ctx& ctx, const le_utt_opts& opts) {
  le::utt::Settings settings = le::utt::resolveSettings(opts, ctx.threads);
  bool idle = false;
  if (!ctx.pipelineRunning.compare_exchange_strong(idle, true)) {
    throw std::runtime_error("the session already runs a pipeline; destroy it first");
  }
  try {
    return build(ctx, std::move(settings));
  } catch (...) {
    ctx.pipelineRunning = false;
    throw;
  }
}

}  // namespace

extern "C" {

LE_API le_utt* le_utt_create(le_ctx* ctx, const le_utt_opts* opts) {
  if (!ctx || !opts) {
    le::lastErrorText<le::UttFamily>().clear();
    failWith("le_utt_create", "NULL ctx/opts");
    return nullptr;
  }
  return le::guarded<le::UttFamily>("le_utt_create", static_cast<le_utt*>(nullptr),
                                    [&] { return create(*ctx, *opts); });
}

LE_API le_utt* le_utt_open(le_ctx* ctx, const char* motion_dir) {
  le_utt_opts opts;
  std::memset(&opts, 0, sizeof opts);
  opts.motion_dir = motion_dir;
  return le_utt_create(ctx, &opts);
}

LE_API void le_utt_destroy(le_utt* utt) { delete utt; }

LE_API const char* le_utt_last_error(void) { return le::lastErrorText<le::UttFamily>().c_str(); }

LE_API int le_utt_ready(le_utt* utt) {
  if (!utt) return -1;
  std::string error;
  const int ready = utt->ready(error);
  if (ready < 0) le::lastErrorText<le::UttFamily>() = error;
  return ready;
}

LE_API int le_utt_push_audio(le_utt* utt, const int16_t* samples, int count) {
  if (!utt || !samples || count < 0) {
    failWith("le_utt_push_audio", "bad args");
    return 0;
  }
  utt->pushAudio(samples, count);
  return 1;
}

LE_API void le_utt_end_utterance(le_utt* utt) {
  if (utt) utt->endUtterance();
}

LE_API void le_utt_interrupt(le_utt* utt) {
  if (utt) utt->interrupt();
}

LE_API int le_utt_frames_available(le_utt* utt) { return utt ? utt->framesAvailable() : 0; }

LE_API int le_utt_pull_frame(le_utt* utt, uint8_t* out, size_t outLen, le_utt_frame_info* info) {
  if (!utt || !out) {
    failWith("le_utt_pull_frame", "bad args");
    return 0;
  }
  const int got = utt->pullFrame(out, outLen, info);
  if (got < 0) failWith("le_utt_pull_frame", "buffer too small");
  return got > 0 ? 1 : 0;
}

LE_API void le_utt_get_stats(le_utt* utt, le_utt_stats* stats) {
  if (utt && stats) utt->stats(*stats);
}

LE_API int le_utt_render_status(le_utt* utt, char* buf, int bufLen, int64_t* failCount) {
  if (!utt) return 0;
  return utt->renderStatus(buf, bufLen, failCount);
}

}  // extern "C"
