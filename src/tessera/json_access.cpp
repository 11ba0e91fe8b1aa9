#include "tessera/json_access.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "tessera/json_reader.h"

namespace le::tessera::json {

JVal parseNamed(std::string_view text, const std::string& name) {
  try {
    return parse(text);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error("teeth: " + name + " is not readable JSON: " + e.what());
  }
}

double requiredNumber(const JVal& object, const std::string& key, const std::string& context) {
  const JVal* member = object.find(key);
  if (!member || member->kind != JVal::kNumber)
    throw std::runtime_error("teeth: " + context + " lacks numeric '" + key + "'");
  return member->number;
}

std::string optionalString(const JVal& object, const std::string& key, const std::string& fallback) {
  const JVal* member = object.find(key);
  return member && member->kind == JVal::kString ? member->string : fallback;
}

int32_t truncatedInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  if (value <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

}  // namespace le::tessera::json
