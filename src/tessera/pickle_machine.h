// The subset of the pickle virtual machine that a PyTorch state dict of float tensors needs
// (protocol 2, as torch.save writes it): enough to rebuild the (name, tensor) pairs without
// running any Python, and a refusal for every opcode and call outside that subset.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace le::tessera {

// A tensor as _rebuild_tensor_v2 describes it: a view of `shape` into the float storage named
// `storageKey`, starting `storageOffset` elements in, element i of dimension d `stride[d]` apart.
struct PickleTensor {
  std::string storageKey;
  int64_t storageOffset = 0;
  std::vector<int64_t> shape;
  std::vector<int64_t> stride;
};

struct StateDictPair {
  std::string name;
  std::shared_ptr<const PickleTensor> tensor;
};

// Runs the pickle program `program` (the bytes of data.pkl) and returns, in the order they were
// set, every dictionary item whose key is a string and whose value is a tensor. Throws
// std::runtime_error ("teeth: ...") on an opcode, call or persistent id outside the subset, on a
// truncated program and when no such item was set.
std::vector<StateDictPair> runStateDictPickle(std::span<const uint8_t> program);

}  // namespace le::tessera
