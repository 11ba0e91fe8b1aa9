// The JSON reader every teeth document goes through. It is deliberately lenient in the ways the
// bundles written so far rely on, and its quirks are part of what those documents mean:
//  - leading space, tab, carriage return and line feed are skipped, and text after the value is
//    never examined;
//  - an object key's opening character is consumed without being checked, and the colon after a
//    key may be missing;
//  - strings need no closing quote; \b \f \n \r \t are control characters, \u and its four
//    characters become one '?', any other escaped character stands for itself;
//  - "true", "false" and "null" match as prefixes, and anything else is read by strtod, so signs,
//    exponents, inf, nan and hexadecimal forms pass.
// Nesting depth is bounded by memory only: the reader keeps its own stack.
#pragma once

#include <string>
#include <string_view>

#include "tessera/json_value.h"

namespace le::tessera::json {

// Reads one value. Throws std::runtime_error "teeth: malformed JSON object", "teeth: malformed JSON
// array", "teeth: bad JSON number" or "teeth: JSON truncated".
JVal parse(std::string_view text);

}  // namespace le::tessera::json
