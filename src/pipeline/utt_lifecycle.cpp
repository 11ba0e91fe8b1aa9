// Building and tearing down a pipeline, and its warm-up thread.
#include <cstdlib>
#include <fstream>

#include "bundle/member_names.h"
#include "core/log.h"
#include "pipeline/utt.h"

namespace {

// The member "xs_target.bin" of the motion directory when it holds exactly NT x 63 floats; empty
// otherwise (missing, unreadable or of another size), which turns the ramps off.
std::vector<float> readXsTarget(const std::string& motionDir, int NT) {
  const size_t want = size_t(NT) * LE_HOST_KP_FLOATS;
  std::ifstream in(le::resolveMember(motionDir, "xs_target.bin"), std::ios::binary | std::ios::ate);
  if (!in || size_t(in.tellg()) != want * sizeof(float)) return {};
  std::vector<float> rows(want);
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(rows.data()), std::streamsize(want * sizeof(float)))) return {};
  return rows;
}

std::string describe(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& x) {
    return x.what();
  } catch (...) {
    return "";
  }
}

}  // namespace

le_utt::le_utt(le_ctx& ctx, le::utt::Settings settings)
    : ctx_(ctx),
      settings_(std::move(settings)),
      NT_(ctx.manifest.NT),
      xsTarget_(readXsTarget(settings_.motionDir, ctx.manifest.NT)) {
  for (int i = 0; i < le::utt::OutputRing::kSlots; ++i) {
    ring_.slot(size_t(i)).frame.resize(size_t(ctx.manifest.W) * size_t(ctx.manifest.H) * 3);
  }
  p_.eagerSent = settings_.hybrid ? 3 : settings_.eager;
  dispatcher_ = std::make_unique<le::utt::Dispatcher>([this] {
    std::lock_guard<std::mutex> lock(mu_);
    cv_.notify_all();
  });
  producer_ = std::thread([this] { produce(); });
  warmUp_ = std::thread([this] { warmUp(); });
  if (settings_.pipelinedPaste) paste_ = std::thread([this] { pasteLoop(); });
}

// The teeth, paste, producer and warm-up threads are joined before the dispatch thread, so that
// nothing is left waiting for an engine call; the engine goes last.
le_utt::~le_utt() {
  const int pipe = teethThread_.joinable() ? 1 : 0;  // the teeth stage ran on its own thread
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
    pasteQuit_ = true;
    teethQuit_ = true;
  }
  cv_.notify_all();
  pasteCv_.notify_all();
  teethCv_.notify_all();
  for (std::thread* t : {&teethThread_, &paste_, &producer_, &warmUp_}) {
    if (t->joinable()) t->join();
  }
  dispatcher_.reset();
  engine_.reset();
  ctx_.pipelineRunning = false;
  if (std::getenv("LE_UTT_STAGE_REPORT")) {
    std::string line = le::utt::stageReportLine(counters_, pipe);
    line.pop_back();
    le::logLine(line);
  }
}

double le_utt::nowMs() {
  return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}

void le_utt::noteRenderFail(const char* stage, const std::string& message, bool fatal) {
  const std::string ep = ctx_.renderer ? ctx_.renderer->ep() : "unknown";
  std::lock_guard<std::mutex> lock(mu_);
  ++failCount_;
  failText_ = "ep=" + ep + " " + stage + ": " + (message.empty() ? "unknown failure" : message);
  if (fatal) fatal_ = true;
}

std::unique_ptr<le::Renderer> le_utt::buildChunkRenderer() {
  if (settings_.steadyModel == "-") return nullptr;
  auto chunk = std::make_unique<le::Renderer>(ctx_.manifest, ctx_.identity, settings_.steadyModel, ctx_.threads,
                                              ctx_.ep);
  const std::string& frameEp = ctx_.renderer->ep();
  if (frameEp.rfind("coreml-native", 0) == 0 && chunk->ep().rfind("coreml-native", 0) != 0) {
    le::logPrintf(
        "[le_utt] steady chunk renderer '%s' DROPPED (rendering b1-only): this frame graph runs on ep=%s while the "
        "chunk graph fell back to ep=%s. A chunk that gives up the bundle's own CoreML director costs MORE per frame "
        "than the per-frame path it was meant to amortize, and letting timing choose between two runtimes makes the "
        "delivered pixels depend on scheduling.\n",
        settings_.steadyModel.c_str(), ctx_.ep.c_str(), chunk->ep().c_str());
    return nullptr;
  }
  return chunk;
}

// Step 0 of the idle loop, rendered once on each director so that the first speech frame does not
// pay for the runtime's first-run allocations.
void le_utt::warmUpRenders(le::Renderer* chunk) {
  if (ctx_.drive.frames < 1) return;
  const int si = ctx_.drive.si[0];
  const float* xs = ctx_.drive.xs.data();
  ctx_.renderer->render(&si, xs, xs, 1);
  if (chunk) chunk->render(&si, xs, xs, 1);
}

void le_utt::warmUp() {
  std::string error;
  auto engine = le::utt::Engine::create(settings_.engine, settings_.motionDir, settings_.threads, settings_.motionEp,
                                        error);
  if (!engine) {
    std::lock_guard<std::mutex> lock(mu_);
    engineFailed_ = true;
    engineError_ = error;
    return;
  }
  engine->setEager(settings_.hybrid ? 3 : settings_.eager);
  std::unique_ptr<le::Renderer> chunk;
  try {
    chunk = buildChunkRenderer();
    warmUpRenders(chunk.get());
  } catch (...) {
    noteRenderFail("warm-up", describe(std::current_exception()), false);
  }
  dispatcher_->setEngine(engine.get());
  {
    std::lock_guard<std::mutex> lock(mu_);
    engine_ = std::move(engine);
    chunk_ = std::move(chunk);
  }
  cv_.notify_all();
}
