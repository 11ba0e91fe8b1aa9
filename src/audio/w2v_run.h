// One run of each speech-encoder network over caller buffers.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstdint>
#include <vector>

#include "audio/w2v_sessions.h"

namespace le::w2v {

// 8 s encoder: "input_values" [1, 128000] (normalised) -> "audio_emb" [12, 200, 768] into emb.
void runLongEncoder(Ort::Session& encoder, const float* window, std::vector<float>& emb);

// Trunk: "input_values" [1, 32000] (normalised) -> output 0, f16 [1, 640, LT], widened into x
// ([640][LT]). Returns LT, learning it on the first run when the model does not declare it.
int64_t runTrunk(const ShortWindowPair& pair, const float* window, std::vector<float>& x);

// Head: "x" [8, 640] -> "emb" [8, 12, 768] into emb.
void runHead(const ShortWindowPair& pair, const float* x, std::vector<float>& emb);

}  // namespace le::w2v
