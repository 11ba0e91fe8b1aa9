#include "tessera/manifest_tessera.h"

namespace le::tessera {

namespace {

using json::JVal;

std::optional<std::string> stringMember(const JVal& object, const char* key) {
  const JVal* v = object.find(key);
  if (!v || v->kind != JVal::kString) return std::nullopt;
  return v->string;
}

}  // namespace

std::string ManifestTessera::memberName(const std::string& slotKey, const std::string& fallback) const {
  for (const auto& [key, name] : members)
    if (key == slotKey) return name && !name->empty() ? *name : fallback;
  return fallback;
}

ManifestTessera readManifestTessera(const JVal& manifest) {
  ManifestTessera out;
  const JVal* block = manifest.find("tessera");
  if (!block || !block->isObject()) return out;
  out.declared = true;
  if (const JVal* members = block->find("members"); members && members->isObject())
    for (const auto& [key, value] : members->object)
      out.members.emplace_back(key, value.kind == JVal::kString ? std::optional(value.string) : std::nullopt);
  if (const JVal* planes = block->find("planes"); planes && planes->isArray())
    for (const JVal& plane : planes->array)
      if (plane.kind == JVal::kString) out.planes.push_back(plane.string);
  out.bank_container = stringMember(*block, "bank_container");
  out.bank_packing = stringMember(*block, "bank_packing");
  out.bank_codec = stringMember(*block, "bank_codec");
  out.bank_pix_fmt = stringMember(*block, "bank_pix_fmt");
  return out;
}

}  // namespace le::tessera
