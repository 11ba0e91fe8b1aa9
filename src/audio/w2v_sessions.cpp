// The process-wide speech-encoder sessions.
#include "audio/w2v_sessions.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "audio/w2v_features.h"
#include "audio/w2v_options.h"
#include "audio/w2v_run.h"
#include "bundle/path_util.h"
#include "core/log.h"
#include "core/ort_log.h"

namespace le::w2v {
namespace {

// Everything below is guarded by g_w2v_mtx. The sessions are created on first need and never
// released: they serve every object until the process ends, and releasing runtime objects during
// static destruction would race the runtime's own teardown.
std::mutex g_w2v_mtx;
Ort::Env* g_w2v_env = nullptr;            // guarded by g_w2v_mtx
Ort::Session* g_w2v_session = nullptr;    // guarded by g_w2v_mtx
std::string g_w2v_path;                   // guarded by g_w2v_mtx
ShortWindowPair* g_w2vwin_pair = nullptr;  // guarded by g_w2v_mtx
bool g_w2vwin_tried = false;              // guarded by g_w2v_mtx
// Written once under g_w2v_mtx or by the first trunk run; read by every run.
std::atomic<int64_t> g_w2vwin_LT{0};

std::mutex g_zeroemb_mtx;
std::vector<float>* g_zeroemb = nullptr;  // guarded by g_zeroemb_mtx

Ort::Env& envLocked() {
  if (!g_w2v_env) g_w2v_env = new Ort::Env(ORT_LOGGING_LEVEL_WARNING, "le_a2x_w2v", ortLog, nullptr);
  return *g_w2v_env;
}

Ort::Session* openLocked(const std::string& path, int threads) {
  Ort::SessionOptions options = encoderSessionOptions(threads, "w2v");
  return new Ort::Session(openEncoderSession(envLocked(), path, options));
}

long long fileBytes(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? (long long)st.st_size : -1;
}

bool envPair(std::string& trunk, std::string& head) {
  const char* t = std::getenv("LE_A2X_W2V_WIN_ONNX");
  const char* h = std::getenv("LE_A2X_W2V_HEAD_ONNX");
  if (!t || !*t || !h || !*h) return false;
  trunk = t;
  head = h;
  return true;
}

// The trunk's output 0 name and, when its shape says so, LT.
void readTrunkOutput(ShortWindowPair& pair) {
  Ort::AllocatorWithDefaultOptions allocator;
  pair.trunkOutput = pair.trunk->GetOutputNameAllocated(0, allocator).get();
  const std::vector<int64_t> shape =
      pair.trunk->GetOutputTypeInfo(0).GetTensorTypeAndShapeInfo().GetShape();
  if (shape.size() == 3 && shape[2] > 0) g_w2vwin_LT = shape[2];
}

ShortWindowPair* loadPairLocked(int threads, const std::string& trunk, const std::string& head) {
  auto pair = std::make_unique<ShortWindowPair>();
  std::unique_ptr<Ort::Session> trunkSession(openLocked(trunk, threads));
  std::unique_ptr<Ort::Session> headSession(openLocked(head, threads));
  pair->trunk = trunkSession.get();
  readTrunkOutput(*pair);
  const int64_t lt = g_w2vwin_LT;
  const std::string ltText = lt > 0 ? std::to_string(lt) : "from-first-run";
  le::logPrintf("[le_a2x] short-window w2v frontend loaded (LT=%s) trunk=%s (%lld B) head=%s (%lld B)\n",
                ltText.c_str(), trunk.c_str(), fileBytes(trunk), head.c_str(), fileBytes(head));
  pair->trunk = trunkSession.release();
  pair->head = headSession.release();
  return pair.release();
}

}  // namespace

int64_t ShortWindowPair::lengthSteps() const { return g_w2vwin_LT; }

void ShortWindowPair::learnLengthSteps(int64_t steps) const {
  int64_t unknown = 0;
  g_w2vwin_LT.compare_exchange_strong(unknown, steps);
}

bool findPairBeside(const std::string& encoderPath, std::string& trunk, std::string& head) {
  if (encoderPath.empty()) return false;
  const size_t slash = encoderPath.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : encoderPath.substr(0, slash);
  for (const PairNames& names : kPairs) {
    const std::string t = dir + "/" + names.trunk;
    const std::string h = dir + "/" + names.head;
    if (opensForReading(t) && opensForReading(h)) {
      trunk = t;
      head = h;
      return true;
    }
  }
  return false;
}

Ort::Session* sharedEncoder(const std::string& path, int threads) {
  std::lock_guard<std::mutex> lock(g_w2v_mtx);
  if (g_w2v_session) return g_w2v_session;
  try {
    g_w2v_session = openLocked(path, threads);
    g_w2v_path = path;
  } catch (const std::exception& e) {
    le::logPrintf("[le_a2x] shared 8s w2v load FAILED ($W2V_ONNX=%s): %s\n", path.c_str(), e.what());
  }
  return g_w2v_session;
}

const ShortWindowPair* shortWindowPair(int threads, const std::string& encoderPath) {
  std::lock_guard<std::mutex> lock(g_w2v_mtx);
  if (g_w2vwin_tried) return g_w2vwin_pair;
  g_w2vwin_tried = true;
  std::string trunk, head;
  if (!envPair(trunk, head) && !findPairBeside(encoderPath, trunk, head)) {
    le::logPrintf(
        "[le_a2x] short-window audio frontend NOT DEPLOYED on this plane: neither "
        "LE_A2X_W2V_WIN_ONNX/LE_A2X_W2V_HEAD_ONNX are set nor is the pair beside $W2V_ONNX (%s) as "
        "audio_encoder_fp16_window_{trunk,head}.onnx (legacy w2v_trunk32.onnx/w2v_head32.onnx). Serving the "
        "LEGACY 8s window \xe2\x80\x94 same reference quality, 2.8-3.9x the audio hop cost. Ship the pair beside "
        "the encoder (tools/export_w2v_window.py).\n",
        encoderPath.c_str());
    return nullptr;
  }
  try {
    g_w2vwin_pair = loadPairLocked(threads, trunk, head);
  } catch (const std::exception& e) {
    le::logPrintf("[le_a2x] short-window w2v load FAILED (%s) \xe2\x80\x94 legacy 8s path\n", e.what());
    g_w2vwin_LT = 0;
  }
  return g_w2vwin_pair;
}

const std::vector<float>& silenceEmbedding(Ort::Session& encoder) {
  std::lock_guard<std::mutex> lock(g_zeroemb_mtx);
  if (!g_zeroemb) {
    // Silence normalises to zeros, so the window is handed over as it is.
    std::vector<float> window(size_t(kLongSamples), 0.0f);
    auto emb = std::make_unique<std::vector<float>>();
    runLongEncoder(encoder, window.data(), *emb);
    g_zeroemb = emb.release();
  }
  return *g_zeroemb;
}

}  // namespace le::w2v
