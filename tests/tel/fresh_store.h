// Cases that need an empty telemetry store, in a process whose store is shared by all of them.
#pragma once

#include <functional>
#include <string>

namespace le::test {

// Runs `body` in a forked child and returns the text it produced. The child starts with a copy of
// this process's store, so as long as the calling process never records a value or flushes, every
// body starts from an empty store, whatever ran before and in whatever order. A child that does
// not exit normally fails the calling test.
std::string inFreshStore(const std::function<std::string()>& body);

}  // namespace le::test
