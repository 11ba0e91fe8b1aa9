// A first look at a model's bytes before ONNX Runtime gets them: a model whose tensors declare sizes
// no network has, or claim data the file does not carry, is refused with a reason instead of being
// handed to a runtime that sizes its allocations by those declarations.
#pragma once

#include <cstdint>
#include <string>

#include "render/graph/onnx_proto_reader.h"

namespace le {

// The most elements any one tensor of a model may declare: 2^28 (1 GiB of float), far past the
// largest tensor of any network this library runs.
inline constexpr int64_t kMaxModelTensorElements = int64_t(1) << 28;

// How deeply subgraphs (the bodies of If, Loop and Scan nodes) may nest; each level is read
// recursively.
inline constexpr int kMaxModelGraphDepth = 16;

// The largest model file read: 2 GiB, the size limit of one protocol-buffer message.
inline constexpr uint64_t kMaxModelFileBytes = uint64_t(2) << 30;

// Throws std::runtime_error "onnx: ..." naming the tensor or value and the reason when the model:
// - declares a dimension below 0, or a shape of more than kMaxModelTensorElements elements (graph
//   inputs, outputs and value infos; initializers, sparse initializers and tensor attributes);
// - keeps an initializer's data in an external file (a bundle's model carries its own weights);
// - stores an initializer whose data holds another number of bytes or values than its shape
//   claims (a truncated or padded weight);
// - nests subgraphs deeper than kMaxModelGraphDepth;
// - is not a readable protocol buffer ("onnx: truncated", "onnx: bad varint", "onnx: bad wire type").
void requirePlausibleModel(GsSlice model);

// Reads the model file at path (a regular file of at most kMaxModelFileBytes) and checks it as
// above; throws "refusing model <path>: <reason>" for a model that fails the check, and the file
// reader's refusals (bundle/member_file.h) for a file that cannot be read.
void requirePlausibleModelFile(const std::string& path);

}  // namespace le
