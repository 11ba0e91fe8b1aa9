// le-info BUNDLE: resolves a bundle handle (directory, IMX container or extension-less name), loads
// its manifest and prints it with every known member, the name it was found under and its size.
// le-info --check [--model KEY] BUNDLE: opens a session and its director and renders the first step
// of the idle loop, so that a bundle the session accepts but the director refuses is caught.
// A refusal prints the library's message on standard error and exits 1; a usage error exits 2.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bundle/manifest.h"
#include "bundle/member_names.h"
#include "bundle/path_util.h"
#include "common/tool_cli.h"
#include "le/le.h"

namespace {

const char* const kKnownMembers[] = {
    "manifest.json", "P.f16",        "P_hevc.mov",   "pooled64.f16",  "fs_red.f16",
    "M.f32",         "mask_512.u8",  "drive/xs.f32", "drive/xd.f32",  "drive/si.i32",
    "xs_target.bin", "lip_template.v1.json", "a2x_enc_stream.onnx", "a2x_dec.onnx",
    "fca_stream.onnx", "target_frames.mp4",
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

const char kUsage[] =
    "usage: le-info BUNDLE                        print the manifest and the members found\n"
    "       le-info --check [--model KEY] BUNDLE  open a session and its director (model_KEY.onnx,\n"
    "                                             default b1) and render one frame\n"
    "       le-info --help | --version\n";

struct Options {
  std::string bundle, model = "b1";
  bool check = false;
};

// Reads the arguments; false on a usage error.
bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--check") o.check = true;
    else if (a == "--model" && i + 1 < argc) o.model = argv[++i];
    else if (!a.empty() && a[0] == '-') return false;
    else if (o.bundle.empty()) o.bundle = a;
    else return false;
  }
  return !o.bundle.empty();
}

// Opens a session, then its director through the first render of the idle loop. Prints what was
// checked on standard output and returns 0, or the refusal on standard error and returns 1.
int check(const Options& o) {
  std::unique_ptr<le_ctx, void (*)(le_ctx*)> ctx(le_create(o.bundle.c_str(), o.model.c_str(), 0, nullptr),
                                                 &le_destroy);
  if (!ctx) {
    std::fprintf(stderr, "%s\n", le_last_error());
    return 1;
  }
  std::printf("session     %d frames of %d x %d, crop %d, %d idle-loop steps\n", le_nt(ctx.get()),
              le_width(ctx.get()), le_height(ctx.get()), le_crop(ctx.get()), le_drive_frames(ctx.get()));
  if (le_drive_frames(ctx.get()) < 1) {
    std::fprintf(stderr, "le-info: the bundle has no idle-loop step to render a frame from\n");
    return 1;
  }
  std::vector<uint8_t> rgba(size_t(le_width(ctx.get())) * size_t(le_height(ctx.get())) * 4);
  if (le_render_drive_rgba(ctx.get(), 0, rgba.data(), rgba.size()) != 1) {
    std::fprintf(stderr, "%s\n", le_last_error());
    return 1;
  }
  std::printf("director    model_%s.onnx rendered idle-loop step 0\n", o.model.c_str());
  return 0;
}

int describe(const std::string& bundle) {
  char root[4096];
  if (le_bundle_resolve_handle(bundle.c_str(), root, sizeof root) != 1) {
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

}  // namespace

int main(int argc, char** argv) {
  if (le::tool::answeredHelpOrVersion(argc, argv, "le-info", kUsage)) return 0;
  Options o;
  if (!parse(argc, argv, o)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  return o.check ? check(o) : describe(o.bundle);
}
