#include "bundle/manifest.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>

#include "bundle/bundle_path.h"
#include "bundle/manifest_key.h"
#include "bundle/member_file.h"
#include "bundle/member_names.h"
#include "bundle/path_util.h"
#include "core/log.h"

namespace le {
namespace {

using namespace manifest_key;

// JSON has no infinities or NaNs, but the scanner's strtod reads "inf" and "nan"; a non-finite
// number would flow into sizes and blend weights unseen.
double finite(double v, const std::string& key) {
  if (!std::isfinite(v)) throw std::runtime_error("manifest: " + key + " is not a finite number");
  return v;
}

// Integer fields take the value truncated toward zero; a value no int32 can hold is refused
// instead of being converted into an arbitrary number.
int32_t toInt(double v, const std::string& key) {
  if (!(finite(v, key) > -2147483649.0 && v < 2147483648.0)) throw std::runtime_error("manifest: " + key + " out of range");
  return int32_t(v);
}

float toFloat(double v, const std::string& key) {
  const float f = float(finite(v, key));
  if (!std::isfinite(f)) throw std::runtime_error("manifest: " + key + " out of range");
  return f;
}

void requireSide(int32_t side, const char* key) {
  if (side > kMaxImageSide)
    throw std::runtime_error("manifest: " + std::string(key) + " " + std::to_string(side) + " is larger than " +
                             std::to_string(kMaxImageSide) + ", the largest image side a bundle may declare");
}

void requireCanvas(int32_t W, int32_t H) {
  const int64_t pixels = int64_t(W) * H;
  if (pixels > kMaxCanvasPixels)
    throw std::runtime_error("manifest: canvas " + std::to_string(W) + "x" + std::to_string(H) + " is " +
                             std::to_string(pixels) + " pixels, which exceeds the limit of " +
                             std::to_string(kMaxCanvasPixels) + " (an 8K UHD frame)");
}

void requireFrameCount(int32_t count, const char* key) {
  if (count > kMaxFrameCount)
    throw std::runtime_error("manifest: " + std::string(key) + " " + std::to_string(count) +
                             " exceeds the limit of " + std::to_string(kMaxFrameCount) +
                             " frames (a day of video at 25 fps)");
}

// The stamp dimension from the first of two keys that is present and not the absent marker.
bool stampDim(const std::string& text, const char* a, const char* b, double& out) {
  for (const char* key : {a, b}) {
    if (scalarValuePos(text, key) == kNotFound) continue;
    double v = number(text, key);
    if (v == kAbsent) continue;
    out = v;
    return true;
  }
  return false;
}

}  // namespace

std::string readTextFile(const std::string& path) {
  return readWholeMember(path, kMaxManifestBytes, "a manifest or template");
}

std::string readManifestText(const std::string& root) { return readTextFile(resolveMember(root, "manifest.json")); }

std::string Manifest::modelPath(const std::string& key) const {
  return resolveMember(root, "model_" + key + ".onnx");
}

Manifest parseManifest(const std::string& text, const std::string& root) {
  if (strField(text, "format") != "le-bundle-v0") throw std::runtime_error("not an le-bundle-v0: " + root);

  Manifest m;
  m.root = root;
  m.agent = strField(text, "agent");
  m.NT = toInt(numFieldEither(text, "NT", "frame_count"), "NT");
  m.H = toInt(number(text, "H"), "H");
  m.W = toInt(number(text, "W"), "W");
  m.crop = toInt(numFieldEither(text, "crop", "crop_size"), "crop");
  m.amount = toFloat(number(text, "amount"), "amount");
  m.sigma = toFloat(number(text, "sigma"), "sigma");
  m.ksize = toInt(number(text, "ksize"), "ksize");
  m.frames = toInt(number(text, "frames"), "frames");
  if (m.NT < 1 || m.H < 1 || m.W < 1 || m.crop < 1) throw std::runtime_error("manifest: bad dims");
  requireSide(m.W, "W");
  requireSide(m.H, "H");
  requireSide(m.crop, "crop");
  requireCanvas(m.W, m.H);
  requireFrameCount(m.NT, "NT");
  requireFrameCount(m.frames, "frames");

  double w = 0, h = 0;
  if (stampDim(text, "M_src_w", "paste_source_width", w) && stampDim(text, "M_src_h", "paste_source_height", h)) {
    m.msrcW = toInt(w, "M_src_w");
    m.msrcH = toInt(h, "M_src_h");
  } else {
    const char* ok = std::getenv("OMBRINE2_MSRC_MISSING_OK");
    if (!ok || std::string(ok) != "1")
      throw std::runtime_error(
          root + "/manifest.json declares no paste-space stamp (M_src_w/M_src_h, aka "
                 "paste_source_width/height) \xe2\x80\x94 the canvas is " +
          std::to_string(m.W) + "x" + std::to_string(m.H) +
          ", so M cannot be placed: absence is not evidence that M was authored at that size. "
          "Re-stamp the bundle (models/ombrine-2/inference/backfill_msrc.py), or set "
          "OMBRINE2_MSRC_MISSING_OK=1 to restore the legacy assumption.");
    le::logPrintf("[le] WARNING OMBRINE2_MSRC_MISSING_OK=1: %s/manifest.json carries no paste-space stamp; "
                  "ASSUMING M was authored on this %dx%d canvas. If it was not, the face pastes off-target "
                  "(see the bundle re-stamping notes in the README) and nothing will say so.\n",
                  root.c_str(), m.W, m.H);
    m.msrcW = m.W;
    m.msrcH = m.H;
  }
  if (m.msrcW < 1 || m.msrcH < 1)
    throw std::runtime_error("manifest: bad paste-space stamp (M_src_w/M_src_h must be > 0)");
  return m;
}

Manifest loadManifest(const std::string& bundle) {
  const std::string root = resolveBundlePath(bundle);
  Manifest m = parseManifest(readManifestText(root), root);
  std::string lipPath = resolveMember(root, "lip_template.v1.json");
  if (opensForReading(lipPath)) m.lipTemplateJson = readTextFile(lipPath);
  return m;
}

}  // namespace le
