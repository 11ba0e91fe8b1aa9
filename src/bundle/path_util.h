// Small path and directory helpers shared by bundle resolution and container unwrapping.
#pragma once

#include <string>

namespace le {

// Removes trailing "/" while the path is longer than one byte.
std::string rstripSlash(std::string p);
// The text after the last "/" of rstripSlash(p), or all of it.
std::string baseName(const std::string& p);
// The text before the last "/" of rstripSlash(p); "." without a "/", "/" when the only one leads.
std::string dirName(const std::string& p);
// Creates p and its missing parents (mode 0755); true when p is a directory afterwards.
bool mkdirs(const std::string& p);
// Removes p recursively without following symbolic links; nothing happens when p does not exist.
void rmTree(const std::string& p);

bool isDirectory(const std::string& p);
bool isRegularFile(const std::string& p);
bool pathExists(const std::string& p);
bool opensForReading(const std::string& p);
bool endsWith(const std::string& s, const std::string& suffix);

}  // namespace le
