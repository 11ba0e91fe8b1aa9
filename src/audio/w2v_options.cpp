// Session options of the speech-encoder sessions.
#include "audio/w2v_options.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/log.h"
#include "pool/pool.h"

namespace le::w2v {

namespace {
constexpr uint64_t kDefaultCudaMemMib = 3072;
}  // namespace

Ort::SessionOptions encoderSessionOptions(int threads, const char* tag) {
  Ort::SessionOptions options;
  options.SetIntraOpNumThreads(threads < 1 ? le::pool::threads() : threads);
  options.SetInterOpNumThreads(1);
  options.AddConfigEntry("session.intra_op.allow_spinning", "0");
  options.SetGraphOptimizationLevel(GraphOptimizationLevel::ORT_ENABLE_ALL);
  appendCudaIfAsked(options, tag);
  return options;
}

uint64_t cudaMemLimitMib() {
  const char* text = std::getenv("LE_A2X_CUDA_MEM_MIB");
  const long long mib = text ? std::strtoll(text, nullptr, 10) : 0;
  return mib >= 1 ? uint64_t(mib) : kDefaultCudaMemMib;
}

bool cudaApplies(const char* tag) {
  const char* cuda = std::getenv("LE_A2X_CUDA");
  return cuda && std::strcmp(cuda, "1") == 0 && std::strcmp(tag, "w2v") == 0;
}

void appendCudaIfAsked(Ort::SessionOptions& options, const char* tag) {
  if (!cudaApplies(tag)) return;
  const OrtApi& api = Ort::GetApi();
  OrtCUDAProviderOptionsV2* raw = nullptr;
  Ort::ThrowOnError(api.CreateCUDAProviderOptions(&raw));
  const std::unique_ptr<OrtCUDAProviderOptionsV2, void (*)(OrtCUDAProviderOptionsV2*)> cuda(
      raw, api.ReleaseCUDAProviderOptions);
  const uint64_t mib = cudaMemLimitMib();
  const std::string bytes = std::to_string(mib << 20);
  const char* keys[] = {"device_id", "arena_extend_strategy", "gpu_mem_limit", "cudnn_conv_use_max_workspace",
                        "use_tf32"};
  const char* values[] = {"0", "kSameAsRequested", bytes.c_str(), "0", "0"};
  Ort::ThrowOnError(api.UpdateCUDAProviderOptions(cuda.get(), keys, values, 5));
  options.AppendExecutionProvider_CUDA_V2(*cuda);
  le::logPrintf("[le_a2x] CUDA EP appended (%s, V2: no-max-workspace, mem<=%zuMiB)\n", tag, size_t(mib));
}

Ort::Session openEncoderSession(Ort::Env& env, const std::string& path, Ort::SessionOptions& options) {
  try {
    return Ort::Session(env, path.c_str(), options);
  } catch (const std::exception& e) {
    const std::string what = e.what();
    if (what.find("Gelu") == std::string::npos || what.find("float16") == std::string::npos) throw;
  }
  le::logPrintf("[le_a2x] %s: ORT's level-2 Gelu fusion produced a float16 com.microsoft.Gelu this runtime has "
                "no CPU kernel for; reopening at ORT_ENABLE_BASIC\n",
                path.c_str());
  options.SetGraphOptimizationLevel(GraphOptimizationLevel::ORT_ENABLE_BASIC);
  return Ort::Session(env, path.c_str(), options);
}

}  // namespace le::w2v
