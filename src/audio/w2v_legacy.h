// Feature frames from 8 s encoder windows.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstdint>

#include "audio/w2v_features.h"

namespace le::w2v {

// Extends the store while fewer than `wanted` frames are done. A window starts at frame
// store.cursor and holds the 128000 samples from cursor * 640 on, of which only the first `seen`
// of the utterance are audio (zeros elsewhere). The first window gives frames from its position 0,
// later ones from position 50, each frame from the first window that offers it. Before finish a
// window gives frames below `limit` only, and stays the cursor's window until it has given all it
// can; after finish every window gives its 200 positions.
void fillLongWindows(FeatureStore& store, Ort::Session& encoder, const float* audio, int64_t seen,
                     int64_t wanted, int64_t limit, bool finished);

}  // namespace le::w2v
