// le-serve's own lines on standard error: what a viewer did that the operator may want to know
// (connections, refusals, failed requests). Safe from any thread.
#pragma once

#include <string>

namespace le_serve {

void report(const std::string& line);

}  // namespace le_serve
