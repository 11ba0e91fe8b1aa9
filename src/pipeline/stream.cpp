#include "pipeline/stream.h"

#include <fstream>
#include <stdexcept>
#include <thread>

#include "bundle/bundle_path.h"
#include "bundle/member_names.h"
#include "core/log.h"

namespace le {

namespace {

constexpr int64_t kKeypointFloats = 63;
constexpr int64_t kFrameSamples = 640;

// The director model the stream renders with: a bundle's own "render" model when it carries one,
// else its batch-1 director, which every baked bundle has.
std::string streamModelKey(const std::string& root) {
  return std::ifstream(resolveMember(root, "model_render.onnx")).good() ? "render" : "b1";
}

// The bundle's root, resolved as the session resolves it (and with the session's error text).
std::string rootOf(const std::string& bundle) {
  try {
    return resolveBundlePath(bundle);
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string("le_create: ") + e.what());
  }
}

// stage + ": " + text, unless the text already names that stage.
std::string stageText(const std::string& stage, const char* text) {
  const std::string prefix = stage + ": ";
  return std::string(text).rfind(prefix, 0) == 0 ? text : prefix + text;
}

std::vector<float> readXsTarget(const std::string& root, int32_t nt) {
  std::vector<float> xs(size_t(nt) * kKeypointFloats);
  std::ifstream in(resolveMember(root, "xs_target.bin"), std::ios::binary);
  if (!in || !in.read(reinterpret_cast<char*>(xs.data()), std::streamsize(xs.size() * sizeof(float))))
    throw std::runtime_error("le_stream_create: cannot read xs_target.bin (NT*63 f32)");
  return xs;
}

}  // namespace

Stream::Stream(const std::string& bundle, const std::string& encoderPath, int threads, int skip, float gain)
    : skip_(skip), gain_(gain) {
  if (skip < 0) throw std::runtime_error("le_stream_create: skip " + std::to_string(skip) + " is negative");
  const std::string root = rootOf(bundle);
  session_ = le_create(bundle.c_str(), streamModelKey(root).c_str(), threads, "");
  if (!session_) throw std::runtime_error(stageText("le_create", le_last_error()));
  nt_ = le_nt(session_);
  width_ = le_width(session_);
  height_ = le_height(session_);
  crop_ = le_crop(session_);
  animator_ = le_fca_create(encoderPath.c_str(), resolveMember(root, "fca_stream.onnx").c_str(), threads);
  try {
    if (!animator_) throw std::runtime_error(stageText("le_fca_create", le_fca_last_error()));
    xsTarget_ = readXsTarget(root, nt_);
  } catch (...) {
    le_fca_destroy(animator_);
    le_destroy(session_);
    throw;
  }
}

Stream::~Stream() {
  le_fca_destroy(animator_);
  le_destroy(session_);
}

void Stream::renderAll(const StreamPlan& plan, CropRing& ring) {
  for (int64_t k = 0; k < plan.frames(); ++k) {
    const float* crop = le_render_kp_crop(session_, plan.rows[size_t(k)], &plan.target[size_t(k * kKeypointFloats)],
                                          &plan.driving[size_t(k * kKeypointFloats)]);
    if (!crop) {
      le::logPrintf("[le_stream] frame %lld: %s\n", static_cast<long long>(k), le_last_error());
      ring.finish(true);
      return;
    }
    if (!ring.put(k, crop)) break;
  }
  ring.finish(false);
}

int64_t Stream::pasteAll(const StreamPlan& plan, CropRing& ring, std::vector<uint8_t>& frame, StreamFrameFn callback,
                         void* user) {
  for (int64_t k = 0; k < plan.frames(); ++k) {
    const float* crop = ring.take(k);
    if (!crop) return k;
    if (!le_paste_crop(session_, plan.rows[size_t(k)], crop, frame.data(), frame.size())) {
      le::logPrintf("[le_stream] frame %lld: %s\n", static_cast<long long>(k), le_last_error());
      return k;
    }
    ring.release(k);
    if (callback) callback(user, int(k), frame.data(), width_, height_);
  }
  return plan.frames();
}

int Stream::run(const float* samples, int count, StreamFrameFn callback, void* user) {
  const int64_t frames = count <= 0 ? 0 : (int64_t(count) + kFrameSamples - 1) / kFrameSamples;
  std::vector<float> deltas(size_t(frames) * kKeypointFloats);
  if (frames > 0 && le_fca_deltas(animator_, samples, count, deltas.data(), int(frames)) != frames)
    throw std::runtime_error(std::string("le_stream_run: ") + le_fca_last_error());
  const StreamPlan plan = planStream(deltas.data(), frames, skip_, gain_, xsTarget_.data(), nt_);
  if (plan.frames() == 0) return 0;
  CropRing ring(size_t(crop_) * size_t(crop_) * 3);
  std::vector<uint8_t> frame(size_t(width_) * size_t(height_) * 3);
  std::thread renderer([&] { renderAll(plan, ring); });
  const int64_t delivered = pasteAll(plan, ring, frame, callback, user);
  ring.stop();
  renderer.join();
  if (delivered != plan.frames()) throw std::runtime_error("le_stream_run: render/paste failed");
  return int(delivered);
}

}  // namespace le
