// What a container's table of contents must describe before anything of it is written: each
// member once, inside the file, under a plain relative path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bundle/imx_container.h"

namespace le::imx {

// Refuses a table of contents (ending at byte tocEnd of a file of fileBytes bytes) whose entries
// cannot be unwrapped safely. Every text starts with "<container>: ":
//   "refusing unsafe member name '<name>'": a name that is absolute (leading "/" or "\"), holds
//     "..", a NUL byte, an empty or "." component, or ends in "/";
//   "truncated payload for member <name>": a payload that ends past the end of the file (also when
//     offset + size does not fit 64 bits);
//   "member '<name>' starts at byte <o>, inside the table of contents ...": a payload over the TOC;
//   "members '<a>' and '<b>' overlap ...": two payloads sharing bytes, which would let a small file
//     unwrap into any number of copies of itself;
//   "member '<name>' appears twice ..." / "member '<name>' needs '<dir>' as a directory ...": two
//     entries that would write one path, or a file where another entry needs a directory.
// Entries with an empty name are skipped, as the unwrap skips them.
void requireSoundLayout(const std::vector<Entry>& entries, uint64_t tocEnd, uint64_t fileBytes,
                        const std::string& container);

}  // namespace le::imx
