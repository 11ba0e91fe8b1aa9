// Session options of the speech-encoder sessions: thread counts, the optional CUDA provider and
// the reopen at the basic optimisation level for runtimes without a half-precision Gelu kernel.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstdint>
#include <string>

namespace le::w2v {

// Intra-op threads (the pool budget when below 1), one inter-op thread, no spinning, every graph
// optimisation, then appendCudaIfAsked(options, tag).
Ort::SessionOptions encoderSessionOptions(int threads, const char* tag);

// The CUDA provider's memory limit in MiB: LE_A2X_CUDA_MEM_MIB when it parses to 1 or more,
// else 3072.
uint64_t cudaMemLimitMib();

// True when the CUDA provider applies to sessions of this tag: LE_A2X_CUDA is exactly "1" and the
// tag is "w2v" (the a2x encoder and decoder, tag "enc/dec", always run on the CPU).
bool cudaApplies(const char* tag);

// Appends the CUDA provider when cudaApplies(tag). Throws when the runtime refuses any step (a
// build without CUDA refuses the first).
void appendCudaIfAsked(Ort::SessionOptions& options, const char* tag);

// Opens a speech-encoder session. A runtime whose fusion turns Gelu into a float16 operator it
// has no CPU kernel for fails the first attempt; the session is then opened again at the basic
// level. Any other failure propagates.
Ort::Session openEncoderSession(Ort::Env& env, const std::string& path, Ort::SessionOptions& options);

}  // namespace le::w2v
