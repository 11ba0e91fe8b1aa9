#include "render/support/test_models.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

namespace le::test {

namespace {

class ModelDir {
 public:
  ModelDir() {
    char pattern[] = "/tmp/le_render_models_XXXXXX";
    if (!mkdtemp(pattern)) return;
    dir_ = pattern;
    const std::string command = "/usr/bin/python3 " LE_SOURCE_DIR "/tests/render/support/make_test_models.py " + dir_.string();
    if (std::system(command.c_str()) != 0) return;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      std::ifstream in(entry.path(), std::ios::binary);
      models_[entry.path().stem().string()] = GsBytes(std::istreambuf_iterator<char>(in), {});
    }
  }
  ~ModelDir() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  const std::map<std::string, GsBytes>& models() const { return models_; }

 private:
  std::filesystem::path dir_;
  std::map<std::string, GsBytes> models_;
};

const ModelDir& modelDir() {
  static const ModelDir dir;
  return dir;
}

}  // namespace

const GsBytes& testModel(const std::string& name) {
  static const GsBytes none;
  const auto& models = modelDir().models();
  const auto it = models.find(name);
  if (it == models.end()) {
    ADD_FAILURE() << "test model " << name << " was not generated (is /usr/bin/python3 with onnx present?)";
    return none;
  }
  return it->second;
}

std::vector<std::string> gridSampleModelNames() {
  return {"gs_w13", "gs_w8", "gs_w64", "gs_w67", "gs_w3", "gs_linear20", "gs_resample"};
}

}  // namespace le::test
