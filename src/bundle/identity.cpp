#include "bundle/identity.h"

#include <stdexcept>

#include "bundle/manifest_key.h"
#include "bundle/member_names.h"
#include "driver/driver_cursor.h"

namespace le {
namespace {

constexpr int kPriorLookAhead = 2;
constexpr int kPriorHistory = 11;

}  // namespace

void ensureIdentityMembers(const Manifest& manifest) {
  const std::string text = readManifestText(manifest.root);
  const std::string& root = manifest.root;
  std::string raw = "P.f16";
  manifest_key::optStr(text, "P_rgb", raw);
  const bool hasP = memberExists(resolveMember(root, "P.f16"));
  const bool hasFsRed = memberExists(resolveMember(root, "fs_red.f16"));
  if (raw != "P.f16" && memberExists(resolveMember(root, raw)) && !hasP && !hasFsRed)
    throw std::runtime_error(
        "this bundle's manifest names its raw warp prior '" + raw +
        "' (P_rgb) but le::Identity maps the welded name P.f16 and would find nothing \xe2\x80\x94 it maps "
        "NOTHING silently and Identity::P(si) is then an offset from a null pointer. REFUSING rather than "
        "rendering off a prior nothing will read.");
  if (hasP || hasFsRed) return;
  std::string hevc;
  if (!manifest_key::optStr(text, "P_hevc", hevc))
    throw std::runtime_error("this bundle carries neither " + raw +
                             " nor fs_red.f16, and its manifest names no P_hevc member to play one from "
                             "\xe2\x80\x94 the renderer has no warp prior and le::Identity would hand it a "
                             "null pointer. REFUSING to create a session.");
  std::string path = resolveMember(root, hevc);
  if (!memberExists(path))
    throw std::runtime_error("this bundle's manifest names P_hevc '" + hevc + "' and the file is not there (" +
                             path + ") \xe2\x80\x94 the renderer has no warp prior. REFUSING to create a session.");
}

MemberSize rawPriorSize(int NT, int crop) {
  const std::string because = "NT " + std::to_string(NT) + " x crop " + std::to_string(crop) + " (x crop x 3 halves)";
  return {checkedBytes({uint64_t(NT), uint64_t(crop), uint64_t(crop), 6}, because), because};
}

void rescaleM(std::vector<float>& M, const Manifest& m) {
  if (m.msrcW < 1 || m.msrcH < 1)
    throw std::runtime_error(
        "le::Identity: manifest carries no paste-space stamp (M_src_w/M_src_h) \xe2\x80\x94 refusing to paste M "
        "without knowing the space it was authored in");
  if (m.msrcW == m.W && m.msrcH == m.H) return;
  const double sx = double(m.W) / m.msrcW, sy = double(m.H) / m.msrcH;
  for (size_t f = 0; f + 6 <= M.size(); f += 6) {
    for (int j = 0; j < 3; ++j) M[f + j] = float(M[f + j] * sx);
    for (int j = 3; j < 6; ++j) M[f + j] = float(M[f + j] * sy);
  }
}

Identity::Identity(const Manifest& manifest) : NT_(manifest.NT), crop_(manifest.crop), manifest_(manifest) {
  ensureIdentityMembers(manifest);
  const std::string& root = manifest.root;
  const uint64_t nt = uint64_t(NT_);
  const std::string perNT = "NT " + std::to_string(NT_);
  pooled64_ = MappedFile(resolveMember(root, "pooled64.f16"), {nt * kPooledHalves * 2, perNT + " (x 131072 bytes)"});
  const std::string pPath = resolveMember(root, "P.f16");
  const std::string fsPath = resolveMember(root, "fs_red.f16");
  const bool hasFsRed = memberExists(fsPath);
  if (memberExists(pPath)) {
    P_ = MappedFile(pPath, rawPriorSize(NT_, crop_));
  } else if (!hasFsRed) {
    std::string member = "P_hevc.mov";
    manifest_key::optStr(readManifestText(root), "P_hevc", member);
    std::string path = resolveMember(root, member);
    if (memberExists(path)) priorPath_ = path;
  }
  if (hasFsRed) fsRed_ = MappedFile(fsPath, {nt * kFsRedHalves * 2, perNT + " (x 524288 bytes)"});
  M_ = readFloatMember(resolveMember(root, "M.f32"), nt * 6, perNT + " (x 6 floats)");
  rescaleM(M_, manifest);
}

Identity::~Identity() = default;

const uint16_t* Identity::pooled64(int si) const {
  return reinterpret_cast<const uint16_t*>(pooled64_.data()) + size_t(si) * kPooledHalves;
}

const uint16_t* Identity::fsRed(int si) const {
  if (fsRed_.empty()) return nullptr;
  return reinterpret_cast<const uint16_t*>(fsRed_.data()) + size_t(si) * kFsRedHalves;
}

const uint16_t* Identity::P(int si) {
  if (!P_.empty())
    return reinterpret_cast<const uint16_t*>(P_.data()) + size_t(si) * size_t(crop_) * size_t(crop_) * 3;
  if (priorPath_.empty()) return nullptr;
  int got = -1;
  return reinterpret_cast<const uint16_t*>(prior().pullAt(si, &got));
}

void Identity::walkP(int si) {
  if (!playsPrior()) return;
  int got = -1;
  prior().pullAt(si, &got);
}

DriverCursor& Identity::prior() {
  std::call_once(priorOnce_, [this] { priorCursor_ = DriverCursor::openPrior(manifest_, kPriorLookAhead, kPriorHistory); });
  return *priorCursor_;
}

std::string Identity::priorBackend() {
  if (!P_.empty()) return "mmap P.f16";
  if (!priorPath_.empty()) return prior().name();
  return "none";
}

int64_t Identity::priorResidentBytes() { return playsPrior() ? prior().residentBytes() : 0; }

int64_t Identity::priorSeeks() { return playsPrior() ? prior().seeks() : 0; }

}  // namespace le
