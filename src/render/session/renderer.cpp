#include "render/session/renderer.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "bundle/manifest.h"
#include "core/log.h"
#include "le/le.h"
#include "pool/pool.h"
#include "render/backend/conv_backend.h"
#include "render/session/renderer_impl.h"
#include "simd/simd.h"

namespace le {
namespace {

constexpr int64_t kKpFloats = LE_HOST_KP_FLOATS;

}  // namespace

Renderer::Impl::Impl(Identity& id, int cropSide)
    : runOptions(), identity(&id), crop(cropSide), priorCount(int64_t(cropSide) * cropSide * 3) {}

void Renderer::Impl::discoverInputs() {
  Ort::AllocatorWithDefaultOptions allocator;
  for (size_t i = 0; i < session.GetInputCount(); ++i) {
    const std::string name = session.GetInputNameAllocated(i, allocator).get();
    const Ort::TypeInfo type = session.GetInputTypeInfo(i);
    inputShapes[name] = type.GetONNXType() == ONNX_TYPE_TENSOR ? type.GetTensorTypeAndShapeInfo().GetShape()
                                                                : std::vector<int64_t>{};
  }
  featSynth = inputShapes.count("fs_red") > 0;
  const char* pooledName = featSynth ? "pooled" : "pooled64";
  const auto it = inputShapes.find(pooledName);
  // A dynamic (negative) batch is refused too: the buffers are sized for one batch at load.
  if (it == inputShapes.end() || it->second.size() != 4 || it->second[0] < 1)
    throw std::runtime_error(std::string(pooledName) + " input not found / bad shape");
  if (it->second[0] > kMaxRenderBatch)
    throw std::runtime_error("Renderer: " + std::string(pooledName) + " declares batch " + std::to_string(it->second[0]) +
                             ", which exceeds the limit of " + std::to_string(kMaxRenderBatch));
  batch = int32_t(it->second[0]);
}

void Renderer::Impl::checkKeypointContract() const {
  const std::array<const char*, 2> names = featSynth ? std::array<const char*, 2>{"kd", "ks"}
                                                      : std::array<const char*, 2>{"kp_driving", "kp_source"};
  for (const char* name : names) {
    const auto it = inputShapes.find(name);
    if (it == inputShapes.end() || it->second.size() != 3) continue;
    const int64_t rows = it->second[1];
    if (rows <= 0 || rows == kHostKpRows) continue;
    const std::string host = std::to_string(kHostKpRows);
    std::string message = "Renderer: HOST KEYPOINT CONTRACT MISMATCH on " + modelPath + " \xe2\x80\x94 the graph declares " +
                          name + " with " + std::to_string(rows) + " keypoint rows, and this renderer feeds " + host +
                          " (le::kHostKpRows, le/le.h). ";
    if (rows == 22)
      message += "That is the recipe_v4 / kd_v4 shape: row " + host +
                 " is the WIDTH ROW (wn, seal, 0), fed from the a2x encoder's second output. This engine has no "
                 "width feed (see le_a2x_width / le_a2x_pull_wn in le/le_a2x.h, which nothing on this path calls "
                 "yet), so it cannot drive this director. ";
    message +=
        "REFUSING AT LOAD rather than dying inside ORT at the first Run. This build must not have been published to "
        "a host that links this renderer: training/recipe/host_kp_contract.py is the publish gate that exists to "
        "prevent it.";
    throw std::runtime_error(message);
  }
}

void Renderer::Impl::checkWarpPrior() const {
  if (featSynth) {
    if (!identity->hasFsRed()) throw std::runtime_error("FeatSynth graph but bundle lacks fs_red.f16");
    return;
  }
  if (!identity->hasPrior())
    throw std::runtime_error(
        "m4b graph (P_rgb input) but this bundle carries no warp prior: neither P.f16, nor fs_red.f16, nor a "
        "P_hevc.mov to play in place is present, so le::Identity mapped NOTHING and Identity::P(si) would be an "
        "offset from a null pointer \xe2\x80\x94 a SEGFAULT on the first frame, not a refusal. REFUSING to create a "
        "session.");
}

void Renderer::Impl::bindTensors() {
  const int64_t g = batch, c = crop;
  pooled.assign(size_t(g * kPooledCount), 0.0f);
  if (featSynth)
    fsRed.assign(size_t(g * kFsRedCount), 0.0f);
  else
    prior.assign(size_t(g * priorCount), 0.0f);
  kpDriving.assign(size_t(g * kKpFloats), 0.0f);
  kpSource.assign(size_t(g * kKpFloats), 0.0f);
  rgb.assign(size_t(g * priorCount), 0.0f);

  const Ort::MemoryInfo memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  binding = Ort::IoBinding(session);
  auto bind = [&](const char* name, std::vector<float>& buffer, std::vector<int64_t> shape, bool input) {
    bound.push_back(Ort::Value::CreateTensor<float>(memory, buffer.data(), buffer.size(), shape.data(), shape.size()));
    if (input)
      binding.BindInput(name, bound.back());
    else
      binding.BindOutput(name, bound.back());
  };
  const std::vector<int64_t> kpShape{g, kHostKpRows, 3};
  if (featSynth) {
    bind("fs_red", fsRed, {g, 64, 64, 64}, true);
    bind("pooled", pooled, {g, 64, 32, 32}, true);
    bind("kd", kpDriving, kpShape, true);
    bind("ks", kpSource, kpShape, true);
  } else {
    bind("pooled64", pooled, {g, 64, 32, 32}, true);
    // A hoisted graph reads the prior through the prep session; the ring binds its boundary per frame.
    if (prepSession)
      ring = std::make_unique<SourceConeRing>(std::move(prepSession), boundaryName, boundaryShape, *identity, prior, crop);
    else
      bind("P_rgb", prior, {g, 3, c, c}, true);
    bind("kp_driving", kpDriving, kpShape, true);
    bind("kp_source", kpSource, kpShape, true);
  }
  bind("rgb", rgb, {g, 3, c, c}, false);
  if (lipBound && !featSynth) {
    lipDelivery.assign(size_t(g * c * c), 1.0f);
    bind("lip_delivery", lipDelivery, {g, 1, c, c}, true);
  }
}

void Renderer::Impl::fillSlot(int j, int si) {
  simd::f16ToF32(identity->pooled64(si), pooled.data() + j * kPooledCount, size_t(kPooledCount));
  if (featSynth)
    simd::f16ToF32(identity->fsRed(si), fsRed.data() + j * kFsRedCount, size_t(kFsRedCount));
  else
    simd::f16ToF32(identity->P(si), prior.data() + j * priorCount, size_t(priorCount));
}

void Renderer::Impl::copySlot(int from, int to) {
  auto copy = [&](std::vector<float>& buffer, int64_t count) {
    if (!buffer.empty()) std::copy_n(buffer.data() + from * count, count, buffer.data() + to * count);
  };
  copy(pooled, kPooledCount);
  copy(featSynth ? fsRed : prior, featSynth ? kFsRedCount : priorCount);
  copy(lipDelivery, int64_t(crop) * crop);
}

void Renderer::Impl::run() {
  const auto start = std::chrono::steady_clock::now();
  session.Run(runOptions, binding);
  runMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  ++framesRun;
}

Renderer::Renderer(const Manifest& manifest, Identity& identity, const std::string& modelKey, int threads,
                   const std::string& ep)
    : impl_(std::make_unique<Impl>(identity, manifest.crop)) {
  Impl& m = *impl_;
  m.threads = threads < 1 ? pool::threads() : threads;
  m.modelKey = modelKey;
  m.modelPath = manifest.modelPath(modelKey);
  m.bundleDir = manifest.root;
  if (!manifest.lipTemplateJson.empty())
    m.lipContour = std::make_unique<tessera::LipContour>(tessera::LipContour::fromTemplateJson(manifest.lipTemplateJson, manifest.crop));

  // The native fp16 backend needs NEON fp16 arithmetic, which this platform does not have: the
  // session serves a request for it.
  std::string request = ep;
  const char* conv = std::getenv("LE_CONV_BACKEND");
  if ((ep == "neon" || (ep.empty() && conv && std::strcmp(conv, "neon") == 0)) && !ConvBackend::available()) {
    le::logPrintf("[le] fp16 NEON backend requested but unavailable on this build/CPU; using ORT\n");
    request.clear();
  }

  try {
    m.openSession(request);
  } catch (const std::exception& e) {
    if (request.rfind("coreml", 0) != 0) throw;
    le::logPrintf("[le] CoreML EP session refused: %s \xe2\x80\x94 falling back to the ORT CPU EP\n", e.what());
    m.session = Ort::Session(nullptr);
    m.openSession("");
  }
  m.discoverInputs();
  m.checkKeypointContract();
  m.checkWarpPrior();
  m.bindTensors();
}

Renderer::~Renderer() {
  Impl& m = *impl_;
  if (m.profiling) {
    if (m.framesRun > 0)
      le::logPrintf("[le_ort_profile] %ld frames: %.2f ms/frame in Session::Run\n", long(m.framesRun),
                   m.runMs / double(m.framesRun));
    try {
      Ort::AllocatorWithDefaultOptions allocator;
      le::logPrintf("[le_ort_profile] %s\n", m.session.EndProfilingAllocated(allocator).get());
    } catch (const std::exception& e) {
      le::logPrintf("[le_ort_profile] FAILED: %s\n", e.what());
    }
  }
  // The prep thread stops first; the binding and the session go before the tensors they reference
  // and the buffers under them.
  m.ring.reset();
  m.binding = Ort::IoBinding(nullptr);
  m.session = Ort::Session(nullptr);
  m.bound.clear();
}

const float* Renderer::render(const int* si, const float* kpSource, const float* kpDriving, int n) {
  Impl& m = *impl_;
  if (n < 1 || n > m.batch) throw std::runtime_error("render: bad n");
  const int NT = m.identity->NT();
  for (int j = 0; j < n; ++j)
    if (si[j] < 0 || si[j] >= NT)
      throw std::runtime_error("render: source index " + std::to_string(si[j]) + " outside [0," +
                               std::to_string(NT) + ")");
  if (m.ring) {
    m.renderHoisted(si[0], kpSource, kpDriving);
    return m.rgb.data();
  }
  for (int j = 0; j < m.batch; ++j) {
    const int c = std::min(j, n - 1);
    if (j < n)
      m.fillSlot(j, si[j]);
    else
      m.copySlot(n - 1, j);
    std::copy_n(kpSource + c * kKpFloats, kKpFloats, m.kpSource.data() + j * kKpFloats);
    std::copy_n(kpDriving + c * kKpFloats, kKpFloats, m.kpDriving.data() + j * kKpFloats);
    if (j < n) m.fillLipDelivery(j, kpDriving + c * kKpFloats);
  }
  m.run();
  return m.rgb.data();
}

const std::string& Renderer::ep() const { return impl_->epName; }
const char* Renderer::backend() const { return "ort"; }
int Renderer::batch() const { return impl_->batch; }
const std::string& Renderer::directorNote() const { return impl_->directorNote; }

Renderer::HoistStats Renderer::hoistStats() const {
  const Impl& m = *impl_;
  if (!m.ring) return {};
  return {true, m.ring->boundary(), m.ring->hits(), m.ring->misses()};
}

}  // namespace le
