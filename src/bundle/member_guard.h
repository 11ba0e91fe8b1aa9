// Keeps every member a bundle names inside the bundle: a manifest or a host may hand us any
// string, and a member is only ever a relative path below the bundle root.
#pragma once

#include <string>

namespace le {

// Throws std::runtime_error "bundle: refusing member '<name>': <why>" for an empty name, an
// absolute one (leading "/" or "\"), one with a ".." component or one holding a NUL byte.
void requireSafeMemberName(const std::string& name);

// Throws the same kind of text when `path` exists and, with every symbolic link followed, lies
// outside `root` (itself followed). A path that does not exist passes: opening it fails anyway.
void requireInsideRoot(const std::string& root, const std::string& path, const std::string& name);

// Throws the same kind of text when `path` exists and, links followed, is neither a regular file
// nor a directory: opening a FIFO blocks until a writer comes, and a device such as /dev/zero never
// ends. A bundle holds files and directories only.
void requireFileOrDirectory(const std::string& path, const std::string& name);

}  // namespace le
