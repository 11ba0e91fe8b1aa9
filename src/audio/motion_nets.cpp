#include "audio/motion_nets.h"

#include <onnxruntime_cxx_api.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "audio/motion_ep.h"
#include "audio/motion_layout.h"
#include "core/log.h"
#include "core/ort_log.h"
#include "render/graph/onnx_model_check.h"
#include "render/session/renderer_ep.h"

namespace le::audio {
namespace {

using namespace motion;

int64_t elementCount(const std::vector<int64_t>& shape, const std::string& what) {
  int64_t n = 1;
  for (int64_t d : shape) {
    if (d < 0) throw std::runtime_error("le_motion: " + what + " has a dynamic shape; the model must declare it");
    n *= d;
  }
  return n;
}

// The model is read and checked before the runtime sizes anything by what it declares; a FIFO or
// device in its place is refused instead of read.
Ort::Session openSession(Ort::Env& env, const std::string& path, const Ort::SessionOptions& options) {
  requirePlausibleModelFile(path);
  return Ort::Session(env, path.c_str(), options);
}

// One network: its session, its inputs in declared order with their shapes, and its first output.
struct Net {
  Ort::Session session{nullptr};
  std::vector<std::string> inputNames;
  std::vector<std::vector<int64_t>> inputShapes;
  std::string outputName;
  std::vector<int64_t> outputShape;

  Net(Ort::Env& env, const std::string& path, const Ort::SessionOptions& options,
      const std::vector<int64_t>& inputFloats, int64_t outputFloats)
      : session(openSession(env, path, options)) {
    Ort::AllocatorWithDefaultOptions allocator;
    const std::string file = path.substr(path.find_last_of('/') + 1);
    if (session.GetInputCount() != inputFloats.size() || session.GetOutputCount() < 1)
      throw std::runtime_error("le_motion: " + file + " declares " + std::to_string(session.GetInputCount()) +
                               " inputs, expected " + std::to_string(inputFloats.size()));
    for (size_t i = 0; i < inputFloats.size(); ++i) {
      inputNames.push_back(session.GetInputNameAllocated(i, allocator).get());
      inputShapes.push_back(session.GetInputTypeInfo(i).GetTensorTypeAndShapeInfo().GetShape());
      checkFloats(file + " input " + inputNames.back(), elementCount(inputShapes.back(), file), inputFloats[i]);
    }
    outputName = session.GetOutputNameAllocated(0, allocator).get();
    outputShape = session.GetOutputTypeInfo(0).GetTensorTypeAndShapeInfo().GetShape();
    checkFloats(file + " output " + outputName, elementCount(outputShape, file), outputFloats);
  }

  static void checkFloats(const std::string& what, int64_t declared, int64_t expected) {
    if (declared != expected)
      throw std::runtime_error("le_motion: " + what + " holds " + std::to_string(declared) + " floats, expected " +
                               std::to_string(expected));
  }

  void run(const std::vector<const float*>& inputs, float* out) {
    const Ort::MemoryInfo cpu = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
    std::vector<Ort::Value> values;
    std::vector<const char*> names;
    for (size_t i = 0; i < inputs.size(); ++i) {
      const std::vector<int64_t>& shape = inputShapes[i];
      values.push_back(Ort::Value::CreateTensor<float>(cpu, const_cast<float*>(inputs[i]),
                                                       size_t(elementCount(shape, "")), shape.data(), shape.size()));
      names.push_back(inputNames[i].c_str());
    }
    Ort::Value output = Ort::Value::CreateTensor<float>(cpu, out, size_t(elementCount(outputShape, "")),
                                                        outputShape.data(), outputShape.size());
    const char* outName = outputName.c_str();
    session.Run(Ort::RunOptions{nullptr}, names.data(), values.data(), values.size(), &outName, &output, 1);
  }
};

bool spinRequested() {
  const char* spin = std::getenv("LE_ORT_SPIN");
  return spin && spin[0] == '1';
}

}  // namespace

struct MotionNets::Impl {
  Ort::Env env{ORT_LOGGING_LEVEL_WARNING, "le_motion", ortLog, nullptr};
  Ort::SessionOptions options;
  std::string epName = "cpu";
  std::unique_ptr<Net> student, lmdm, stitch;

  Impl(const std::string& dir, int threads, const std::string& ep) {
    const MotionEp request = parseMotionEp(ep);
    options.SetIntraOpNumThreads(threads);
    options.SetInterOpNumThreads(1);
    options.SetGraphOptimizationLevel(GraphOptimizationLevel::ORT_ENABLE_ALL);
    // Spinning intra-op threads would hold the cores the renderer and the paste need between calls.
    if (!spinRequested()) options.AddConfigEntry("session.intra_op.allow_spinning", "0");
    if (request.coreml) appendCoreMl(dir, ep, request);
    const std::string root = dir + "/";
    student = std::make_unique<Net>(env, root + "hubert_student.onnx", options, std::vector<int64_t>{int64_t(kMelFloats)},
                                    int64_t(kFeatRows * kFeatDim));
    lmdm = std::make_unique<Net>(env, root + "lmdm.onnx", options,
                                 std::vector<int64_t>{int64_t(kMotionDim), kChunkFrames * int64_t(kCondDim)},
                                 kChunkFrames * int64_t(kMotionDim));
    stitch = std::make_unique<Net>(env, root + "stitch.onnx", options,
                                   std::vector<int64_t>{int64_t(kKpFloats), int64_t(kKpFloats)}, int64_t(kKpFloats));
  }

  // Builds without Apple's CoreML provider (every x86-64 Linux build of ONNX Runtime) refuse to
  // append it; the networks then run on the CPU provider, and the log says so.
  void appendCoreMl(const std::string& dir, const std::string& ep, const MotionEp& request) {
    try {
      options.AppendExecutionProvider("CoreML", {{"ModelFormat", "MLProgram"},
                                                 {"MLComputeUnits", request.units},
                                                 {"ModelCacheDirectory", coremlCacheDir(dir)}});
      epName = ep;
    } catch (const Ort::Exception& e) {
      le::logPrintf("[le_motion] CoreML EP unavailable (%s) — the motion networks run on the ORT CPU EP", e.what());
    }
  }
};

MotionNets::MotionNets(const std::string& dir, int threads, const std::string& ep)
    : impl_(std::make_unique<Impl>(dir, threads, ep)) {}

MotionNets::~MotionNets() = default;

void MotionNets::student(const float* mel, float* features) { impl_->student->run({mel}, features); }

void MotionNets::lmdm(const float* state, const float* cond, float* motion) {
  impl_->lmdm->run({state, cond}, motion);
}

void MotionNets::stitch(const float* xs, const float* xd, float* out) { impl_->stitch->run({xs, xd}, out); }

const std::string& MotionNets::epName() const { return impl_->epName; }

}  // namespace le::audio
