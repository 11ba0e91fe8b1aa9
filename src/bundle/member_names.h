// Bundle members exist under short "welded" names and longer descriptive names; readers always ask
// for the welded name and find either.
#pragma once

#include <string>

namespace le {

// The descriptive form of a welded member name (the name itself when it has none).
std::string descriptiveMemberName(const std::string& name);

// Path of member `name` under `root`: the welded file when it opens, else the descriptive one when
// that opens, else the welded path (so a missing member is reported under its welded name).
// Never throws for a missing file; throws std::runtime_error naming the member when the name or
// the links under it would leave the root, or when the path is a FIFO, device or socket
// (bundle/member_guard.h).
std::string resolveMember(const std::string& root, const std::string& name);

}  // namespace le
