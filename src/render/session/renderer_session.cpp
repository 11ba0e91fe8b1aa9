// Opening the director's ONNX Runtime session: session options, custom-op domains, the load-time
// graph rewrites and the environment variables that gate them.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "core/log.h"
#include "render/graph/gridsample_rewrite.h"
#include "render/graph/onnx_model_check.h"
#include "render/ops/int8_conv_domain.h"
#include "render/ops/zentrova_domain.h"
#include "render/session/renderer_ep.h"
#include "render/session/renderer_impl.h"
#include "render/session/renderer_rewrites.h"

namespace le {
namespace {

bool envBeginsWith(const char* name, char first) {
  const char* value = std::getenv(name);
  return value && value[0] == first;
}

// A directory (or device) of the model's name opens as a stream whose size is nonsense; only a
// regular file is a model.
void requireRegularFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return;
  if (!S_ISREG(st.st_mode))
    throw std::runtime_error("Renderer: " + path + " is not a regular file" +
                             (S_ISDIR(st.st_mode) ? " (a directory)" : "") + ", so it holds no model");
  if (uint64_t(st.st_size) > kMaxModelFileBytes)
    throw std::runtime_error("Renderer: " + path + " holds " + std::to_string(st.st_size) +
                             " bytes, which exceeds the limit of " + std::to_string(kMaxModelFileBytes) +
                             " for a model (the largest protocol-buffer message)");
}

// The whole model file, or false when it cannot be opened or read.
bool tryReadModel(const std::string& path, GsBytes& bytes, bool& opened) {
  requireRegularFile(path);
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  opened = bool(in);
  if (!in) return false;
  const std::streamoff size = in.tellg();
  bytes.resize(size > 0 ? size_t(size) : 0);
  in.seekg(0);
  return in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size())) &&
         in.gcount() == std::streamsize(bytes.size());
}

GsBytes readModel(const std::string& path) {
  GsBytes bytes;
  bool opened = false;
  if (!tryReadModel(path, bytes, opened))
    throw std::runtime_error(opened ? "Renderer: short read on " + path : "Renderer: cannot open " + path);
  // Before any rewrite or the runtime sizes anything by what the model declares.
  try {
    requirePlausibleModel(gsSliceOf(bytes));
  } catch (const std::exception& e) {
    throw std::runtime_error("Renderer: refusing " + path + ": " + e.what());
  }
  return bytes;
}

struct DomainChoice {
  bool registered = false;  // the com.zentrova operators are on the session options
  bool gsRewrite = false;   // and the load-time GridSample rewrite to them is wanted
};

// Registers the com.zentrova domain unless LE_GS_FAST=0 (which refuses a graph that has the
// operator baked in) and the int8 convolution domain in either case, and says whether the load-time
// GridSample rewrite is wanted.
DomainChoice prepareGridSample(Ort::SessionOptions& options, const std::string& modelPath,
                               const std::string& modelKey, bool cpu) {
  DomainChoice choice;
  if (envBeginsWith("LE_GS_FAST", '0')) {
    GsBytes bytes;
    bool opened = false;
    if (tryReadModel(modelPath, bytes, opened) && !bytes.empty() && graphHasBakedGridSampleFast(bytes))
      throw std::runtime_error(
          "Renderer: LE_GS_FAST=0 (or ZENTROVA_OMBRINE2_GRIDSAMPLE_FAST=0, which sets it) was asked for, but " +
          modelPath +
          " has com.zentrova::GridSampleFast BAKED INTO THE GRAPH. That flag disables the custom-op registration, "
          "so there would be no kernel to bind and this session would die inside ORT with 'GridSampleFast(-1) is "
          "not a registered function/op'. There is no standard-GridSample arm on this bundle to measure: the "
          "artifact itself is non-standard. Run the A/B on a STANDARD-ONNX bundle (the shipping format since "
          "INFERENCE_STANDARDIZATION.md #1), or unset the flag to load this one.");
  } else {
    choice.gsRewrite = !envBeginsWith("LE_GS_REWRITE", '0');
    if (!choice.gsRewrite && cpu)
      le::logPrintf("[le] LE_GS_REWRITE=0: load-time std GridSample -> com.zentrova::GridSampleFast rewrite DISABLED "
                    "(%s); the custom op is still registered, so a baked bundle loads and runs its baked kernel. A "
                    "standard bundle now runs ORT's own GridSample.\n",
                    modelKey.c_str());
    registerGridSampleFast(options);
    choice.registered = true;
  }
  registerInt8ConvVNNI(options);
  return choice;
}

}  // namespace

void Renderer::Impl::openSession(const std::string& ep) {
  prepSession = Ort::Session(nullptr);
  boundaryName.clear();
  boundaryShape.clear();
  options = Ort::SessionOptions();
  options.SetIntraOpNumThreads(threads);
  options.SetInterOpNumThreads(1);
  options.SetGraphOptimizationLevel(GraphOptimizationLevel::ORT_ENABLE_ALL);
  // Spinning intra-op threads burn the cores the paste and the decoder need between frames.
  if (!envBeginsWith("LE_ORT_SPIN", '1')) options.AddConfigEntry("session.intra_op.allow_spinning", "0");
  options.AddConfigEntry("mlas.disable_kleidiai", "1");
  const char* profile = std::getenv("LE_ORT_PROFILE");
  profiling = profile && *profile;
  if (profiling) options.EnableProfiling(profile);

  const EpRequest request = parseEp(ep);
  if (request.coreml)
    options.AppendExecutionProvider("CoreML", {{"ModelFormat", "MLProgram"},
                                               {"MLComputeUnits", request.units},
                                               {"ModelCacheDirectory", coremlCacheDir(bundleDir)}});
  const bool cpu = !request.coreml;

  const DomainChoice domain = prepareGridSample(options, modelPath, modelKey, cpu);
  GsBytes bytes = readModel(modelPath);
  const size_t warpNodes = cpu ? applyWarpNode(bytes, domain.registered) : 0;
  RewriteCounts rewrites = applyRewrites(bytes, domain.gsRewrite && cpu);
  rewrites.warpNodes = warpNodes;

  lipBound = bindLipContour(bytes);
  const bool hoisted = hoistSourceCone(bytes, warpNodes > 0);
  logRewrites(rewrites, modelKey);
  logLipBound();

  // A graph no rewrite touched opens from its file, exactly as the bundle stores it.
  if (!hoisted)
    session = rewrites.any() || lipBound ? Ort::Session(env, bytes.data(), bytes.size(), options)
                                         : Ort::Session(env, modelPath.c_str(), options);
  epName = ep.empty() ? "cpu" : ep;
  le::logPrintf("[le] director ep=%s (%s)\n", epName.c_str(),
               cpu ? "ORT CPU EP" : "ORT CoreML EP; unclaimed nodes on the CPU EP; std GridSample kept in the graph");
}

}  // namespace le
