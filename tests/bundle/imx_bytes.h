// Builds IMX v2 container bytes by hand, so that tests can also make broken ones.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace le::test {

struct ImxMember {
  std::string name;
  std::string payload;
};

inline void putU16(std::string& s, uint16_t v) {
  s.push_back(char(v & 0xff));
  s.push_back(char(v >> 8));
}

inline void putU64(std::string& s, uint64_t v) {
  for (int i = 0; i < 8; ++i) s.push_back(char((v >> (8 * i)) & 0xff));
}

// Header, table of contents, then the payloads in reverse order (readers must seek, not stream).
inline std::string imxBytes(const std::vector<ImxMember>& members, uint16_t version = 2) {
  std::string head("IMX\0", 4);
  putU16(head, version);
  putU16(head, uint16_t(members.size()));
  size_t toc = 8;
  for (const ImxMember& m : members) toc += 2 + m.name.size() + 16;
  std::vector<uint64_t> offsets(members.size());
  uint64_t at = toc;
  for (size_t i = members.size(); i-- > 0;) {
    offsets[i] = at;
    at += members[i].payload.size();
  }
  for (size_t i = 0; i < members.size(); ++i) {
    putU16(head, uint16_t(members[i].name.size()));
    head += members[i].name;
    putU64(head, offsets[i]);
    putU64(head, members[i].payload.size());
  }
  for (size_t i = members.size(); i-- > 0;) head += members[i].payload;
  return head;
}

}  // namespace le::test
