// The calls and persistent ids of a torch state-dict pickle that the machine models.
#include <stdexcept>

#include "tessera/pickle_value.h"

namespace le::tessera {
namespace {

using Kind = PickleValue::Kind;

[[noreturn]] void malformedRebuild() { throw std::runtime_error("teeth: malformed _rebuild_tensor_v2"); }

std::vector<int64_t> integersOf(const PickleValue& tuple, bool nonNegative) {
  if (tuple.kind != Kind::Tuple) malformedRebuild();
  std::vector<int64_t> out;
  out.reserve(tuple.items->size());
  for (const PickleValue& item : *tuple.items) {
    if (item.kind != Kind::Int || (nonNegative && item.number < 0)) malformedRebuild();
    out.push_back(item.number);
  }
  return out;
}

// _rebuild_tensor_v2(storage, storage_offset, size, stride, requires_grad, backward_hooks): only
// the first four arguments say where the values are.
PickleValue rebuildTensor(const PickleValue& args) {
  if (args.kind != Kind::Tuple || args.items->size() < 4) malformedRebuild();
  const std::vector<PickleValue>& a = *args.items;
  if (a[0].kind != Kind::Storage || a[1].kind != Kind::Int || a[1].number < 0) malformedRebuild();
  auto tensor = std::make_shared<PickleTensor>();
  tensor->storageKey = *a[0].text;
  tensor->storageOffset = a[1].number;
  tensor->shape = integersOf(a[2], true);
  tensor->stride = integersOf(a[3], false);
  PickleValue result = PickleValue::of(Kind::Tensor);
  result.tensor = std::move(tensor);
  return result;
}

}  // namespace

std::string pickleValueText(const PickleValue& value) {
  switch (value.kind) {
    case Kind::None: return "None";
    case Kind::Bool: return value.number ? "True" : "False";
    case Kind::Int: return std::to_string(value.number);
    case Kind::String:
    case Kind::Global: return *value.text;
    case Kind::Tuple: return "a tuple";
    case Kind::Storage: return "storage " + *value.text;
    case Kind::Tensor: return "a tensor";
    case Kind::Dict: return "a dict";
  }
  return "?";
}

PickleValue pickleCall(const PickleValue& callable, const PickleValue& args) {
  if (callable.isGlobal("collections OrderedDict")) return PickleValue::of(Kind::Dict);
  if (callable.isGlobal("torch._utils _rebuild_tensor_v2")) return rebuildTensor(args);
  throw std::runtime_error("teeth: head .pt calls " + pickleValueText(callable) +
                           " — this reader refuses code it does not model");
}

// torch's persistent id of a storage: ('storage', storage type, key, location, element count).
PickleValue picklePersistentLoad(const PickleValue& id) {
  const bool storageId = id.kind == Kind::Tuple && id.items->size() >= 5 && (*id.items)[0].isString("storage");
  if (!storageId) throw std::runtime_error("teeth: unexpected persistent id in head .pt");
  const PickleValue& type = (*id.items)[1];
  if (!type.isGlobal("torch FloatStorage"))
    throw std::runtime_error("teeth: head .pt storage is " + pickleValueText(type) +
                             ", not torch FloatStorage — refusing to reinterpret it");
  const PickleValue& key = (*id.items)[2];
  if (key.kind != Kind::String) throw std::runtime_error("teeth: unexpected persistent id in head .pt");
  return PickleValue::ofText(Kind::Storage, *key.text);
}

}  // namespace le::tessera
