// Creation of the a2x object: options, meta, tables, the speech frontend, the networks, silence
// priming.
#include "audio/a2x.h"

#include <cstdlib>
#include <mutex>
#include <stdexcept>

#include "audio/a2x_meta.h"
#include "audio/a2x_nets.h"
#include "audio/w2v_sessions.h"
#include "bundle/bundle_path.h"
#include "bundle/member_file.h"
#include "bundle/member_names.h"
#include "core/log.h"
#include "pool/pool.h"

namespace le {
namespace {

// The live path computes one block of 8 frames (320 ms of audio) per frontend step.
constexpr int kCadenceMs = 320;
constexpr int kDefaultRight = 12;
constexpr int kMaxSilencePrime = 200;

// The a2x tables and meta are a few kilobytes; no real one comes near this.
constexpr uint64_t kMaxTableBytes = uint64_t(64) << 20;

// The bytes of a member, empty when it does not exist. Read through member resolution, so a FIFO,
// a device or a link out of the bundle is refused instead of blocking or reading without end.
std::string readMemberText(const std::string& root, const std::string& name) {
  const std::string path = resolveMember(root, name);
  if (!memberExists(path)) return "";
  return readWholeMember(path, kMaxTableBytes, "an a2x table");
}

std::vector<float> readFloats(const std::string& root, const std::string& name) {
  const std::string bytes = readMemberText(root, name);
  std::vector<float> values(bytes.size() / sizeof(float));
  std::copy(bytes.data(), bytes.data() + values.size() * sizeof(float), reinterpret_cast<char*>(values.data()));
  return values;
}

int envInt(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text ? int(std::strtol(text, nullptr, 10)) : fallback;
}

int threadCount(int requested) {
  const int budget = le::pool::threads();
  return requested < 1 || requested >= budget ? budget : requested;
}

void logCadenceOnce(int threads) {
  static std::once_flag once;
  std::call_once(once, [threads] {
    le::logPrintf("[le_a2x] live cadence: block-%d (one trunk window per %d frames), push-size invariant, threads=%d\n",
                  kCadenceMs, int(w2v::kBlockFrames), threads);
  });
}

}  // namespace

A2x::A2x(const std::string& bundle, int threads) : threads_(threadCount(threads)) {
  nets_ = std::make_unique<A2xNets>(threads_);
  logCadenceOnce(threads_);
  const std::string root = resolveBundlePath(bundle);
  const std::string metaText = readMemberText(root, "a2x_meta.json");
  if (metaText.empty()) throw std::runtime_error("a2x_meta.json missing in " + root);
  const A2xMeta meta = parseA2xMeta(metaText);
  if (meta.window < 0 || meta.left < 0)
    throw std::runtime_error("meta lacks causal window/left (not a streaming a2x)");
  h_ = meta.h;
  window_ = meta.window;
  left_ = meta.left;
  layers_ = meta.layers;
  history_ = layers_ * left_;
  lookahead_ = layers_ * window_;
  right_ = std::max(0, envInt("LE_A2X_W2V_RIGHT", kDefaultRight));
  readTables(root);
  openFrontend();
  openNets(root, meta.width);
  const int prime = std::min(envInt("LE_A2X_SILENCE_PRIME", meta.silencePrime), kMaxSilencePrime);
  if (prime > 0) {
    longEncoder_ = w2v::sharedEncoder(w2vPath_, threads_);
    if (!longEncoder_) throw std::runtime_error("shared w2v load failed (silence_prime)");
    primeWithSilence(prime);
  }
  reset(0, 1, 1);
}

A2x::~A2x() = default;

void A2x::readTables(const std::string& root) {
  pos_ = readFloats(root, "a2x_pos.f32");
  const std::vector<float> norm = readFloats(root, "a2x_norm.f32");
  target_ = readFloats(root, "xs_target.bin");
  nt_ = int(target_.size() / kA2xKpFloats);
  if (h_ < 1 || pos_.size() < size_t(2 * h_) || norm.size() < size_t(2 * kA2xKpFloats) || nt_ < 1)
    throw std::runtime_error("pos/norm/xs_target read failed");
  posRows_ = int64_t(pos_.size()) / h_;
  mean_.assign(norm.begin(), norm.begin() + kA2xKpFloats);
  std_.assign(norm.begin() + kA2xKpFloats, norm.begin() + 2 * kA2xKpFloats);
}

void A2x::openFrontend() {
  const char* path = std::getenv("W2V_ONNX");
  if (!path) throw std::runtime_error("$W2V_ONNX not set");
  w2vPath_ = path;
  pair_ = w2v::shortWindowPair(threads_, w2vPath_);
  if (pair_) {
    lag_ = right_ + w2v::kBlockFrames;
    return;
  }
  longEncoder_ = w2v::sharedEncoder(w2vPath_, threads_);
  if (!longEncoder_) throw std::runtime_error("shared w2v load failed");
  lag_ = right_;
}

void A2x::openNets(const std::string& root, bool metaWidth) {
  nets_->openEncoder(resolveMember(root, "a2x_enc_stream.onnx"));
  const size_t outputs = nets_->encoderOutputCount();
  hasWn_ = outputs > 1;
  if (hasWn_ != metaWidth)
    le::logPrintf("[le_a2x] WARNING: a2x_meta width=%d but the encoder declares %zu output(s) \xe2\x80\x94 serving "
                  "the GRAPH (width=%d). Repackage this bundle.\n",
                  metaWidth ? 1 : 0, outputs, hasWn_ ? 1 : 0);
  nets_->openDecoder(resolveMember(root, "a2x_dec.onnx"));
}

Ort::Session& A2x::longEncoder() {
  if (!longEncoder_) longEncoder_ = w2v::sharedEncoder(w2vPath_, threads_);
  if (!longEncoder_)
    throw std::runtime_error("the shared 8 s w2v encoder did not load ($W2V_ONNX=" + w2vPath_ + ")");
  return *longEncoder_;
}

}  // namespace le
