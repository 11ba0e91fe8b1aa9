// Reading teeth documents: a parse that names the document in its error, and the two kinds of
// member lookup their formats use.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tessera/json_value.h"

namespace le::tessera::json {

// parse(), with any reader error rethrown as "teeth: " + name + " is not readable JSON: " + reason.
JVal parseNamed(std::string_view text, const std::string& name);

// The number under `key`; throws "teeth: " + context + " lacks numeric '" + key + "'" when the member
// is absent, is not a number, or `object` is not an object.
double requiredNumber(const JVal& object, const std::string& key, const std::string& context);

// The string under `key`, or `fallback` when it is absent or of another kind.
std::string optionalString(const JVal& object, const std::string& key, const std::string& fallback);

// A JSON number as an integer field: truncated toward zero. Documents are untrusted, so values past
// the int32 range saturate and NaN reads as 0 instead of being undefined behaviour.
int32_t truncatedInt32(double value);

}  // namespace le::tessera::json
