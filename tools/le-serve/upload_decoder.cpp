#include "upload_decoder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "common/audio_file.h"

namespace le_serve {
namespace {

// A folder of its own under the system's temporary directory, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "le-serve-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("le-serve: cannot make a temporary folder for the upload");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string withoutFolder(std::string text, const std::string& folder) {
  for (size_t at; (at = text.find(folder)) != std::string::npos;) text.erase(at, folder.size());
  return text;
}

}  // namespace

std::vector<int16_t> decodeUpload(const Upload& upload) {
  TempFolder folder;
  const std::filesystem::path file = folder.path() / upload.name;
  {
    std::ofstream out(file, std::ios::binary);
    out.write(upload.bytes.data(), std::streamsize(upload.bytes.size()));
    if (!out.flush()) throw std::runtime_error("le-serve: cannot store the upload in " + folder.path().string());
  }
  try {
    return le::tool::readAudioFile(file.string(), "le-serve");
  } catch (const std::exception& e) {
    throw std::runtime_error(withoutFolder(e.what(), folder.path().string() + "/"));
  }
}

}  // namespace le_serve
