#include "bundle/manifest_key.h"

#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace le::manifest_key {
namespace {

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

[[noreturn]] void throwAmbiguous(const std::string& key, const std::vector<KeyHit>& hits) {
  std::string where;
  for (const KeyHit& h : hits) {
    if (!where.empty()) where += ", ";
    where += "byte " + std::to_string(h.pos);
  }
  throw std::runtime_error(
      "manifest: key \"" + key + "\" is AMBIGUOUS \xe2\x80\x94 " + std::to_string(hits.size()) +
      " scalar occurrences (" + where +
      "). A loader that picks one silently installs a number nobody checks. Rename the colliding "
      "key (a nested block must not reuse a name the bundle loader reads: NT/frame_count, H, W, "
      "crop/crop_size, amount, sigma, ksize, frames, M_src_w/paste_source_width, "
      "M_src_h/paste_source_height), or produce the bundle with the legacy manifest layout.");
}

}  // namespace

std::vector<KeyHit> keyHits(const std::string& text, const std::string& key) {
  std::vector<KeyHit> hits;
  int depth = 0;
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    char c = text[i];
    if (c == '[' || c == '{') { ++depth; continue; }
    if (c == ']' || c == '}') { --depth; continue; }
    if (c != '"') continue;
    size_t start = i + 1, j = start;
    while (j < n && text[j] != '"') j += text[j] == '\\' ? 2 : 1;
    if (j >= n) break;  // unterminated string ends the scan
    size_t k = j + 1;
    while (k < n && isBlank(text[k])) ++k;
    if (k < n && text[k] == ':' && j - start == key.size() && text.compare(start, key.size(), key) == 0) {
      size_t v = k + 1;
      while (v < n && isBlank(text[v])) ++v;
      bool scalar = v < n && text[v] != '[' && text[v] != '{';
      hits.push_back(KeyHit{v, depth, scalar});
    }
    i = j;  // resume right after the closing quote
  }
  return hits;
}

size_t scalarValuePos(const std::string& text, const std::string& key) {
  std::vector<KeyHit> scalars, top;
  for (const KeyHit& h : keyHits(text, key)) {
    if (!h.scalar) continue;
    scalars.push_back(h);
    if (h.depth == 1) top.push_back(h);
  }
  if (top.size() == 1) return top[0].pos;
  if (top.size() > 1) throwAmbiguous(key, top);
  if (scalars.size() == 1) return scalars[0].pos;
  if (scalars.size() > 1) throwAmbiguous(key, scalars);
  return kNotFound;
}

size_t findKey(const std::string& text, const std::string& key) {
  size_t pos = scalarValuePos(text, key);
  if (pos == kNotFound) throw std::runtime_error("manifest: missing key " + key);
  return pos;
}

double number(const std::string& text, const std::string& key) {
  // strtod skips leading blanks and gives 0 for text that is not a number.
  return std::strtod(text.c_str() + findKey(text, key), nullptr);
}

double numFieldEither(const std::string& text, const std::string& a, const std::string& b) {
  for (const std::string* key : {&a, &b}) {
    if (scalarValuePos(text, *key) == kNotFound) continue;
    double v = number(text, *key);
    if (v != kAbsent) return v;
  }
  throw std::runtime_error("manifest: missing key " + a + "/" + b);
}

std::string strField(const std::string& text, const std::string& key) {
  size_t pos = findKey(text, key);
  // The value must itself be a string: skipping forward to any later quote would read the next
  // key's name as this value.
  if (pos >= text.size() || text[pos] != '"') throw std::runtime_error("manifest: bad string " + key);
  size_t close = text.find('"', pos + 1);
  if (close == std::string::npos) throw std::runtime_error("manifest: bad string " + key);
  return text.substr(pos + 1, close - pos - 1);
}

bool optStr(const std::string& text, const std::string& key, std::string& out) {
  size_t pos = scalarValuePos(text, key);
  if (pos == kNotFound || text[pos] != '"') return false;
  size_t close = text.find('"', pos + 1);
  if (close == std::string::npos) return false;
  out = text.substr(pos + 1, close - pos - 1);
  return !out.empty();
}

}  // namespace le::manifest_key
