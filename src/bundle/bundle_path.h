// Turns a bundle handle into the bundle's root directory.
#pragma once

#include <string>

namespace le {

// A directory is its own root, unless a container unwrap marker stands beside it; a container (or a
// handle whose ".imx" sibling is one) is unwrapped once into "<name>.lebundle" and reused while the
// container is unchanged. Throws std::runtime_error when unwrapping fails.
std::string resolveBundlePath(const std::string& handle);

// The stamp that identifies one state of a container: base name, size, modification time in
// nanoseconds and inode. Throws when the container cannot be stat'ed.
std::string imxUnwrapStamp(const std::string& container);

}  // namespace le
