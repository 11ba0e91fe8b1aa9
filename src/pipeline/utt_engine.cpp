#include "pipeline/utt_engine.h"

#include "bundle/member_file.h"
#include "bundle/member_names.h"
#include "le/le_a2x.h"
#include "le/le_motion.h"

namespace le::utt {

EngineKind engineKindOf(const std::string& motionDir) {
  return memberExists(resolveMember(motionDir, "a2x_enc_stream.onnx")) ? EngineKind::kA2x : EngineKind::kMotion;
}

std::unique_ptr<Engine> Engine::create(EngineKind kind, const std::string& motionDir, int threads,
                                       const std::string& ep, std::string& error) {
  if (kind == EngineKind::kA2x) {
    le_a2x* a = le_a2x_create(motionDir.c_str(), threads);
    if (!a) error = le_a2x_last_error();
    return a ? std::unique_ptr<Engine>(new Engine(a, nullptr)) : nullptr;
  }
  le_motion* m = le_motion_create(motionDir.c_str(), threads, ep.c_str());
  if (!m) error = le_motion_last_error();
  return m ? std::unique_ptr<Engine>(new Engine(nullptr, m)) : nullptr;
}

Engine::~Engine() {
  le_a2x_destroy(a2x_);
  le_motion_destroy(motion_);
}

void Engine::reset(int start, int direction, int loop) {
  if (a2x_) {
    le_a2x_reset(a2x_, start, direction, loop);
  } else {
    le_motion_reset(motion_, start, direction, loop);
  }
}

void Engine::setEager(int eager) {
  if (a2x_) {
    le_a2x_set_eager(a2x_, eager);
  } else {
    le_motion_set_eager(motion_, eager);
  }
}

void Engine::push(const float* samples, int count) {
  if (a2x_) {
    le_a2x_push(a2x_, samples, count);
  } else {
    le_motion_push(motion_, samples, count);
  }
}

void Engine::finish() {
  if (a2x_) {
    le_a2x_finish(a2x_);
  } else {
    le_motion_finish(motion_);
  }
}

int Engine::avail() { return a2x_ ? le_a2x_avail(a2x_) : le_motion_avail(motion_); }

int Engine::pull(int32_t* rows, float* source, float* driving, int max) {
  return a2x_ ? le_a2x_pull(a2x_, rows, source, driving, max) : le_motion_pull(motion_, rows, source, driving, max);
}

int Engine::total() { return a2x_ ? le_a2x_total(a2x_) : le_motion_total(motion_); }

}  // namespace le::utt
