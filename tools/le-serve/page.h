// The page le-serve serves, embedded in the binary at build time from tools/le-serve/page/.
#pragma once

#include <string_view>

namespace le_serve {

struct PageFile {
  std::string_view path, contentType, body;
};

// The file the page asks for at path ("/" is the page itself), or nullptr when there is none.
const PageFile* findPageFile(std::string_view path);

}  // namespace le_serve
