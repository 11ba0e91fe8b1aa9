// The trained weights of the teeth blend head and the reader of the PyTorch state-dict file
// (the head_weights member, "tessera_head.v1.pt" by default) that carries them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace le::tessera {

// Each list holds a layer's floats in row-major order, output channel outermost. The synthesis
// layers are either all present (BlendHead(16)) or all empty (the candidate-only BlendHead8(16)).
struct HeadWeights {
  std::vector<float> cand0Weight;  // "cand.0.weight" 16 x 7 x 3 x 3
  std::vector<float> cand0Bias;    // "cand.0.bias" 16
  std::vector<float> cand2Weight;  // "cand.2.weight" 16 x 16 x 3 x 3
  std::vector<float> cand2Bias;    // "cand.2.bias" 16
  std::vector<float> cand4Weight;  // "cand.4.weight" 1 x 16 x 3 x 3
  std::vector<float> cand4Bias;    // "cand.4.bias" 1
  std::vector<float> syn0Weight;   // "syn.0.weight" 16 x 3 x 3 x 3
  std::vector<float> syn0Bias;     // "syn.0.bias" 16
  std::vector<float> syn2Weight;   // "syn.2.weight" 1 x 16 x 3 x 3
  std::vector<float> syn2Bias;     // "syn.2.bias" 1
  float envelope = 0.f;

  // The number of floats in the ten lists: 4,082 for the full head, 3,489 for the candidate-only one.
  size_t params() const;
};

// Reads the whole head_weights member from memory without a PyTorch runtime. Throws
// std::runtime_error ("teeth: ...") for anything but a state dict of the head's float tensors,
// stored uncompressed, laid out contiguously, in a pickle of the subset torch.save writes.
HeadWeights loadHeadPt(std::span<const uint8_t> bytes);

}  // namespace le::tessera
