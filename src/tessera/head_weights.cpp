#include "tessera/head_weights.h"

#include <bit>
#include <stdexcept>
#include <string>

#include "tessera/pickle_machine.h"
#include "tessera/zip_directory.h"

namespace le::tessera {
namespace {

constexpr size_t kFullHeadParams = 4082;
constexpr size_t kCandidateHeadParams = 3489;
// The synthesis output passes through an envelope of 12 levels of 8-bit colour.
constexpr float kEnvelope = 12.f / 255.f;

struct Parameter {
  const char* name;
  std::vector<float> HeadWeights::*field;
  std::vector<int64_t> shape;
};

const std::vector<Parameter>& candidateParameters() {
  static const std::vector<Parameter> table = {
      {"cand.0.weight", &HeadWeights::cand0Weight, {16, 7, 3, 3}},
      {"cand.0.bias", &HeadWeights::cand0Bias, {16}},
      {"cand.2.weight", &HeadWeights::cand2Weight, {16, 16, 3, 3}},
      {"cand.2.bias", &HeadWeights::cand2Bias, {16}},
      {"cand.4.weight", &HeadWeights::cand4Weight, {1, 16, 3, 3}},
      {"cand.4.bias", &HeadWeights::cand4Bias, {1}},
  };
  return table;
}

const std::vector<Parameter>& synthesisParameters() {
  static const std::vector<Parameter> table = {
      {"syn.0.weight", &HeadWeights::syn0Weight, {16, 3, 3, 3}},
      {"syn.0.bias", &HeadWeights::syn0Bias, {16}},
      {"syn.2.weight", &HeadWeights::syn2Weight, {1, 16, 3, 3}},
      {"syn.2.bias", &HeadWeights::syn2Bias, {1}},
  };
  return table;
}

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string joined(const std::vector<int64_t>& values) {
  std::string out;
  for (size_t i = 0; i < values.size(); ++i) out += (i ? "," : "") + std::to_string(values[i]);
  return out;
}

std::vector<int64_t> contiguousStrides(const std::vector<int64_t>& shape) {
  std::vector<int64_t> strides(shape.size());
  int64_t step = 1;
  for (size_t d = shape.size(); d-- > 0;) {
    strides[d] = step;
    step *= shape[d];
  }
  return strides;
}

// Values are read in storage order, so the strides must be the contiguous ones; a dimension of
// size 1 is never stepped along, so its stride does not matter.
void requireContiguous(const std::string& name, const PickleTensor& tensor) {
  const std::vector<int64_t> contiguous = contiguousStrides(tensor.shape);
  bool ordered = tensor.stride.size() == contiguous.size();
  for (size_t d = 0; ordered && d < contiguous.size(); ++d)
    ordered = tensor.shape[d] == 1 || tensor.stride[d] == contiguous[d];
  if (!ordered)
    throw std::runtime_error("teeth: head '" + name + "' has strides [" + joined(tensor.stride) +
                             "], not the contiguous [" + joined(contiguous) +
                             "] of its shape — refusing to load it out of order");
}

const PickleTensor& findTensor(const std::vector<StateDictPair>& stateDict, const std::string& name) {
  const PickleTensor* found = nullptr;
  size_t count = 0;
  for (const StateDictPair& pair : stateDict)
    if (pair.name == name && count++ == 0) found = pair.tensor.get();
  if (count > 1)
    throw std::runtime_error("teeth: head .pt names '" + name + "' " + std::to_string(count) + " times — ambiguous");
  if (!found) throw std::runtime_error("teeth: head .pt lacks '" + name + "'");
  return *found;
}

std::span<const uint8_t> storageBytes(std::span<const uint8_t> archive, const std::vector<ZipEntry>& entries,
                                      const std::string& key) {
  for (const ZipEntry& entry : entries)
    if (endsWith(entry.name, "/data/" + key)) return zipEntryData(archive, entry);
  throw std::runtime_error("teeth: head storage " + key + " missing");
}

struct Archive {
  std::span<const uint8_t> bytes;
  std::vector<ZipEntry> entries;
  std::vector<StateDictPair> stateDict;
};

void takeParameter(const Archive& archive, const Parameter& parameter, HeadWeights& head) {
  const PickleTensor& tensor = findTensor(archive.stateDict, parameter.name);
  if (tensor.shape != parameter.shape)
    throw std::runtime_error("teeth: head '" + std::string(parameter.name) + "' has shape [" + joined(tensor.shape) +
                             "] — not the BlendHead(16) arch");
  requireContiguous(parameter.name, tensor);
  const std::span<const uint8_t> storage = storageBytes(archive.bytes, archive.entries, tensor.storageKey);
  uint64_t count = 1;
  for (int64_t size : parameter.shape) count *= uint64_t(size);
  const uint64_t offset = uint64_t(tensor.storageOffset);
  if ((count + offset) * 4 > storage.size())
    throw std::runtime_error("teeth: head storage " + tensor.storageKey + " too small");
  std::vector<float>& out = head.*parameter.field;
  out.resize(count);
  const uint8_t* p = storage.data() + offset * 4;
  for (float& value : out) {
    const uint32_t bits = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    value = std::bit_cast<float>(bits);
    p += 4;
  }
}

Archive openArchive(std::span<const uint8_t> bytes) {
  Archive archive{bytes, readZipDirectory(bytes), {}};
  const ZipEntry* pickle = nullptr;
  for (const ZipEntry& entry : archive.entries)
    if (endsWith(entry.name, "/data.pkl")) pickle = &entry;
  if (!pickle) throw std::runtime_error("teeth: head .pt has no data.pkl");
  archive.stateDict = runStateDictPickle(zipEntryData(bytes, *pickle));
  return archive;
}

bool hasSynthesis(const std::vector<StateDictPair>& stateDict) {
  for (const StateDictPair& pair : stateDict)
    if (pair.name == "syn.0.weight") return true;
  return false;
}

}  // namespace

size_t HeadWeights::params() const {
  size_t total = 0;
  for (const auto* table : {&candidateParameters(), &synthesisParameters()})
    for (const Parameter& parameter : *table) total += (this->*parameter.field).size();
  return total;
}

HeadWeights loadHeadPt(std::span<const uint8_t> bytes) {
  const Archive archive = openArchive(bytes);
  HeadWeights head;
  for (const Parameter& parameter : candidateParameters()) takeParameter(archive, parameter, head);
  if (hasSynthesis(archive.stateDict))
    for (const Parameter& parameter : synthesisParameters()) takeParameter(archive, parameter, head);
  head.envelope = kEnvelope;
  const size_t params = head.params();
  if (params != kFullHeadParams && params != kCandidateHeadParams)
    throw std::runtime_error("teeth: head has " + std::to_string(params) +
                             " params, not the 4,082 of BlendHead(16) nor the 3,489 of BlendHead8(16)");
  return head;
}

}  // namespace le::tessera
