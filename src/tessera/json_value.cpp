#include "tessera/json_value.h"

namespace le::tessera::json {

namespace {

// Moves the children of `v` onto `pending`, leaving `v` without any.
void detachChildren(JVal& v, std::vector<JVal>& pending) {
  for (JVal& child : v.array) pending.push_back(std::move(child));
  for (auto& member : v.object) pending.push_back(std::move(member.second));
  v.array.clear();
  v.object.clear();
}

}  // namespace

JVal::~JVal() {
  if (array.empty() && object.empty()) return;
  std::vector<JVal> pending;
  detachChildren(*this, pending);
  while (!pending.empty()) {
    JVal last = std::move(pending.back());
    pending.pop_back();
    detachChildren(last, pending);
  }
}

const JVal* JVal::find(const std::string& key) const {
  for (const auto& member : object)
    if (member.first == key) return &member.second;
  return nullptr;
}

}  // namespace le::tessera::json
