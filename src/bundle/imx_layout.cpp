#include "bundle/imx_layout.h"

#include <algorithm>
#include <set>
#include <stdexcept>

namespace le::imx {
namespace {

[[noreturn]] void refuse(const std::string& container, const std::string& why) {
  throw std::runtime_error(container + ": " + why);
}

// A name is a relative path of non-empty components, none of them "." or "..".
bool isUnsafeName(const std::string& name) {
  if (name[0] == '/' || name[0] == '\\' || name.back() == '/') return true;
  if (name.find("..") != std::string::npos || name.find('\0') != std::string::npos) return true;
  for (size_t begin = 0; begin <= name.size();) {
    size_t end = name.find('/', begin);
    if (end == std::string::npos) end = name.size();
    const std::string component = name.substr(begin, end - begin);
    if (component.empty() || component == ".") return true;
    begin = end + 1;
  }
  return false;
}

std::string span(const Entry& e) {
  return "bytes " + std::to_string(e.offset) + " to " + std::to_string(e.offset + e.size);
}

void checkNames(const std::vector<const Entry*>& named, const std::string& container) {
  std::set<std::string> files, dirs;
  for (const Entry* e : named) {
    if (isUnsafeName(e->name)) refuse(container, "refusing unsafe member name '" + e->name + "'");
    if (!files.insert(e->name).second)
      refuse(container, "member '" + e->name + "' appears twice in the table of contents");
    for (size_t slash = e->name.find('/'); slash != std::string::npos; slash = e->name.find('/', slash + 1))
      dirs.insert(e->name.substr(0, slash));
  }
  for (const std::string& dir : dirs)
    if (files.count(dir))
      refuse(container, "member '" + dir + "' is a file, and another member needs '" + dir + "' as a directory");
}

void checkSpans(std::vector<const Entry*> named, uint64_t tocEnd, uint64_t fileBytes, const std::string& container) {
  for (const Entry* e : named) {
    uint64_t end = 0;
    if (__builtin_add_overflow(e->offset, e->size, &end) || end > fileBytes)
      refuse(container, "truncated payload for member " + e->name);
  }
  // Empty payloads hold no bytes: they can neither overlap nor sit inside the table.
  named.erase(std::remove_if(named.begin(), named.end(), [](const Entry* e) { return e->size == 0; }), named.end());
  // Stable: of two payloads at one offset, the message names them in table order.
  std::stable_sort(named.begin(), named.end(), [](const Entry* a, const Entry* b) { return a->offset < b->offset; });
  for (size_t i = 0; i < named.size(); ++i) {
    const Entry& e = *named[i];
    if (e.offset < tocEnd)
      refuse(container, "member '" + e.name + "' starts at byte " + std::to_string(e.offset) +
                            ", inside the table of contents, which ends at byte " + std::to_string(tocEnd));
    if (i > 0 && named[i - 1]->offset + named[i - 1]->size > e.offset)
      refuse(container, "members '" + named[i - 1]->name + "' and '" + e.name + "' overlap (" + span(*named[i - 1]) +
                            " and " + span(e) + "): a container stores each payload once");
  }
}

}  // namespace

void requireSoundLayout(const std::vector<Entry>& entries, uint64_t tocEnd, uint64_t fileBytes,
                        const std::string& container) {
  std::vector<const Entry*> named;
  for (const Entry& e : entries)
    if (!e.name.empty()) named.push_back(&e);
  checkNames(named, container);
  checkSpans(std::move(named), tocEnd, fileBytes, container);
}

}  // namespace le::imx
