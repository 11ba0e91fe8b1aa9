// le-info BUNDLE: resolves a bundle handle (directory, IMX container or extension-less name), loads
// its manifest and prints it with every known member, the name it was found under and its size.
// A refusal prints the library's message on standard error and exits 1.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bundle/manifest.h"
#include "bundle/member_names.h"
#include "bundle/path_util.h"
#include "le/le.h"

namespace {

const char* const kKnownMembers[] = {
    "manifest.json", "P.f16",        "P_hevc.mov",   "pooled64.f16",  "fs_red.f16",
    "M.f32",         "mask_512.u8",  "drive/xs.f32", "drive/xd.f32",  "drive/si.i32",
    "xs_target.bin", "lip_template.v1.json", "a2x_enc_stream.onnx", "a2x_dec.onnx",
    "target_frames.mp4",
};

// Director models present under either naming scheme, by their welded name.
std::vector<std::string> directorModels(const std::string& root) {
  std::vector<std::string> names;
  DIR* d = ::opendir(root.c_str());
  if (!d) return names;
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (!le::endsWith(n, ".onnx")) continue;
    if (n.rfind("model_b", 0) == 0) {
      names.push_back(n);
    } else if (n.rfind("render_model.batch", 0) == 0) {
      std::string mid = n.substr(18, n.size() - 18 - 5);
      size_t dot = mid.find('.');
      if (dot != std::string::npos) mid[dot] = '_';
      names.push_back("model_b" + mid + ".onnx");
    }
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

size_t countFiles(const std::string& dir) {
  size_t n = 0;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
    ::closedir(d);
  }
  return n;
}

void printMember(const std::string& root, const std::string& name) {
  std::string path = le::resolveMember(root, name);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    std::printf("  %-24s missing\n", name.c_str());
    return;
  }
  std::string found = path.substr(root.size() + 1);
  std::printf("  %-24s %12lld bytes%s%s\n", name.c_str(), (long long)st.st_size,
              found == name ? "" : "  as ", found == name ? "" : found.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: le-info BUNDLE\n");
    return 2;
  }
  char root[4096];
  if (le_bundle_resolve_handle(argv[1], root, sizeof root) != 1) {
    std::fprintf(stderr, "%s\n", le_last_error());
    return 1;
  }
  le::Manifest m;
  try {
    m = le::loadManifest(root);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::printf("bundle      %s\n", m.root.c_str());
  std::printf("agent       %s\n", m.agent.c_str());
  std::printf("NT          %d\n", m.NT);
  std::printf("canvas      %d x %d (W x H)\n", m.W, m.H);
  std::printf("paste space %d x %d (M_src_w x M_src_h)\n", m.msrcW, m.msrcH);
  std::printf("crop        %d\n", m.crop);
  std::printf("unsharp     amount %g sigma %g ksize %d\n", m.amount, m.sigma, m.ksize);
  std::printf("frames      %d\n", m.frames);
  std::printf("lip tmpl    %s\n", m.lipTemplateJson.empty() ? "none" : "present");
  std::printf("members:\n");
  for (const char* name : kKnownMembers) printMember(m.root, name);
  for (const std::string& model : directorModels(m.root)) printMember(m.root, model);
  std::string frames = m.root + "/target_frames";
  if (le::isDirectory(frames)) std::printf("  %-24s %12zu files\n", "target_frames/", countFiles(frames));
  return 0;
}
