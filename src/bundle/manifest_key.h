// Direct key lookup in raw manifest JSON text. The manifest is never parsed into a tree: a scanner
// that knows nesting depth finds every occurrence of a key and refuses to choose between repeated
// scalar occurrences of it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace le::manifest_key {

struct KeyHit {
  size_t pos = 0;      // first non-blank byte after the colon
  int depth = 0;       // nesting at the key; the top-level object's keys are at depth 1
  bool scalar = false; // the value starts with neither '[' nor '{'
};

inline constexpr size_t kNotFound = size_t(-1);

std::vector<KeyHit> keyHits(const std::string& text, const std::string& key);

// The value position of the one scalar occurrence that counts: the only one at depth 1, else the
// only one anywhere. kNotFound when there is none; throws the ambiguity error when it cannot choose.
size_t scalarValuePos(const std::string& text, const std::string& key);

// Lookup helpers shared by every reader of manifest keys.
size_t findKey(const std::string& text, const std::string& key);  // throws "manifest: missing key"
double number(const std::string& text, const std::string& key);
double numFieldEither(const std::string& text, const std::string& a, const std::string& b);
std::string strField(const std::string& text, const std::string& key);
bool optStr(const std::string& text, const std::string& key, std::string& out);

// A number that parses to exactly this counts as absent in numFieldEither and the paste-space stamp.
inline constexpr double kAbsent = -1e300;

}  // namespace le::manifest_key
