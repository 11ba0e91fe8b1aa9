#include "bundle/member_names.h"

#include <array>
#include <string_view>
#include <utility>

#include "bundle/member_guard.h"
#include "bundle/path_util.h"

namespace le {
namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 9> kNamePairs{{
    {"P.f16", "source_frames.f16"},
    {"P_hevc.mov", "source_frames.hevc"},
    {"a2x_enc_stream.onnx", "audio_motion_encoder.onnx"},
    {"a2x_dec.onnx", "audio_motion_decoder.onnx"},
    {"M.f32", "paste_transform.f32"},
    {"mask_512.u8", "paste_mask.u8"},
    {"pooled64.f16", "pooled_features.f16"},
    {"fs_red.f16", "feature_synth.f16"},
    {"xs_target.bin", "target_keypoints.bin"},
}};

// "model_b" + batch [+ "_" + suffix] + ".onnx" -> "render_model.batch" + batch [+ "." + suffix] + ".onnx"
bool directorModelName(const std::string& name, std::string& out) {
  const std::string prefix = "model_b", ext = ".onnx";
  if (name.size() <= prefix.size() + ext.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      !endsWith(name, ext))
    return false;
  std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - ext.size());
  size_t us = middle.find('_');
  out = "render_model.batch" + middle.substr(0, us);
  if (us != std::string::npos) out += "." + middle.substr(us + 1);
  out += ext;
  return true;
}

// "drive/" + stem + extension -> "idle_loop/" + stem' + extension
bool driveTableName(const std::string& name, std::string& out) {
  const std::string prefix = "drive/";
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  std::string rest = name.substr(prefix.size());
  size_t dot = rest.find('.');
  std::string stem = rest.substr(0, dot);
  std::string ext = dot == std::string::npos ? "" : rest.substr(dot);
  if (stem == "xs") stem = "source_keypoints";
  else if (stem == "xd") stem = "driven_keypoints";
  else if (stem == "si") stem = "source_index";
  out = "idle_loop/" + stem + ext;
  return true;
}

std::string chooseMemberPath(const std::string& root, const std::string& name) {
  std::string canonical = descriptiveMemberName(name);
  std::string welded = root + "/" + name;
  if (canonical == name) return welded;
  if (opensForReading(welded)) return welded;
  std::string descriptive = root + "/" + canonical;
  if (opensForReading(descriptive)) return descriptive;
  return welded;
}

}  // namespace

std::string descriptiveMemberName(const std::string& name) {
  for (const auto& [welded, descriptive] : kNamePairs)
    if (name == welded) return std::string(descriptive);
  std::string out;
  if (directorModelName(name, out) || driveTableName(name, out)) return out;
  return name;
}

std::string resolveMember(const std::string& root, const std::string& name) {
  requireSafeMemberName(name);
  std::string path = chooseMemberPath(root, name);
  requireInsideRoot(root, path, name);
  requireFileOrDirectory(path, name);
  return path;
}

}  // namespace le
