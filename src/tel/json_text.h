// The two pieces of JSON text a telemetry snapshot is made of: strings and numbers. Both always
// produce valid JSON, whatever bytes or values they are given.
#pragma once

#include <string>
#include <string_view>

namespace le::tel {

// Appends `text` as a quoted JSON string. '"' and '\' take a backslash; line feed and tab become
// \n and \t; other bytes below 0x20 become \u00XX (lowercase hex). Well-formed UTF-8 sequences
// pass unchanged; every byte that does not belong to one (a stray continuation byte, a lead byte
// whose sequence is cut short, an overlong form, a surrogate, a code point past U+10FFFF, 0xF8 to
// 0xFF) becomes \ufffd on its own, and reading resumes at the next byte.
void appendJsonString(std::string& out, std::string_view text);

// Appends `value` as a JSON number: a value equal to its truncation within the 64-bit signed range
// as that integer in decimal; any other finite value in the shortest of fixed or exponent notation
// with six significant digits (24.5, 1e-07, 1e+19), independent of the C locale; NaN and the
// infinities, which JSON cannot express, as null.
void appendJsonNumber(std::string& out, double value);

}  // namespace le::tel
