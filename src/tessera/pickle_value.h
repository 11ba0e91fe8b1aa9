// The values the state-dict pickle machine keeps on its stack and in its memo. Values are
// immutable and share their contents, so that a pickle that fetches one large value from the memo
// again and again costs a pointer per fetch, not a copy.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tessera/pickle_machine.h"

namespace le::tessera {

struct PickleValue {
  enum class Kind { None, Bool, Int, String, Tuple, Global, Storage, Tensor, Dict };

  Kind kind = Kind::None;
  int64_t number = 0;                                     // Bool, Int
  std::shared_ptr<const std::string> text;                // String; Global as "module name"; Storage key
  std::shared_ptr<const std::vector<PickleValue>> items;  // Tuple
  int depth = 0;                                          // Tuple: 1 + the deepest item's depth
  std::shared_ptr<const PickleTensor> tensor;             // Tensor

  static PickleValue of(Kind kind, int64_t number = 0) {
    PickleValue v;
    v.kind = kind;
    v.number = number;
    return v;
  }
  static PickleValue ofText(Kind kind, std::string text) {
    PickleValue v = of(kind);
    v.text = std::make_shared<const std::string>(std::move(text));
    return v;
  }

  bool isString(const char* s) const { return kind == Kind::String && *text == s; }
  bool isGlobal(const char* s) const { return kind == Kind::Global && *text == s; }
};

// How a value is named in a refusal: a global by "module name", a string by itself.
std::string pickleValueText(const PickleValue& value);

// The result of REDUCE: an empty dictionary for collections.OrderedDict, a tensor for
// torch._utils._rebuild_tensor_v2; any other callable is refused.
PickleValue pickleCall(const PickleValue& callable, const PickleValue& args);

// The result of BINPERSID: a reference to the float storage the id names.
PickleValue picklePersistentLoad(const PickleValue& id);

}  // namespace le::tessera
