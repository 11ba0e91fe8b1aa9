// le-render --wav: a recorded utterance rendered offline through the stream renderer (le_stream.h)
// into an MP4 with the utterance's audio muxed in step with the frames.
#pragma once

#include <string>

namespace le_render {

struct TalkOptions {
  std::string bundle, out, wav;
  std::string encoder;  // the 8 s speech encoder; empty: $W2V_ONNX, else BUNDLE/speech/w2v_8s.onnx
  int threads = 0;
  int skip = 0;
  float gain = 1.f;
};

// Renders and encodes the whole utterance and prints the summary. Throws std::runtime_error
// ("le-render: ...") on failure, after removing the unfinished file.
void renderTalk(const TalkOptions& options);

}  // namespace le_render
