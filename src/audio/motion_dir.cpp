#include "audio/motion_dir.h"

#include <sys/types.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "audio/motion_layout.h"
#include "bundle/manifest.h"
#include "bundle/member_file.h"
#include "bundle/member_names.h"

namespace le::audio {
namespace {

using namespace motion;

// The value after `"key"` and the next colon; nullptr when the key is absent.
const char* findValue(const std::string& text, const char* key, bool required) {
  const std::string quoted = std::string("\"") + key + "\"";
  const size_t at = text.find(quoted);
  if (at == std::string::npos) {
    if (required) throw std::runtime_error(std::string("meta.json: missing ") + key);
    return nullptr;
  }
  const size_t colon = text.find(':', at + quoted.size());
  if (colon == std::string::npos) throw std::runtime_error(std::string("meta.json: bad ") + key);
  return text.c_str() + colon + 1;
}

double number(const std::string& text, const char* key, bool required, double fallback) {
  const char* value = findValue(text, key, required);
  return value ? std::strtod(value, nullptr) : fallback;
}

// A row count: a whole number of at least 1, since tables are indexed modulo it.
int count(const std::string& text, const char* key) {
  const double v = number(text, key, true, 0);
  if (!(v >= 1 && v <= 1e9) || v != std::floor(v)) throw std::runtime_error(std::string("meta.json: bad ") + key);
  return int(v);
}

std::string floatCount(off_t bytes) {
  char text[64];
  if (bytes % 4 == 0)
    std::snprintf(text, sizeof text, "%lld", (long long)(bytes / 4));
  else
    std::snprintf(text, sizeof text, "%.2f", double(bytes) / 4.0);
  return text;
}

// A gain: strtod reads "inf", "nan" and numbers past the float range, none of which a gain may be.
float gain(const std::string& text, const char* key, bool required) {
  const double v = number(text, key, required, 0);
  if (!(std::fabs(v) <= double(FLT_MAX))) throw std::runtime_error(std::string("meta.json: bad ") + key);
  return float(v);
}

}  // namespace

MotionMeta parseMotionMeta(const std::string& text) {
  MotionMeta meta;
  meta.nt = count(text, "nt");
  meta.nSrc = count(text, "n_src");
  meta.nEmo = count(text, "n_emo");
  meta.sBridge = gain(text, "s_bridge", true);
  meta.deltaPitch = gain(text, "delta_pitch", false);
  if (meta.nSrc != meta.nt) throw std::runtime_error("le_motion: n_src != nt unsupported");
  return meta;
}

std::vector<float> readExactFloats(const std::string& path, size_t expected) {
  const RegularFile file(path);
  // Compared before the vector exists: the count comes from meta.json, the size from the file.
  if (file.size() != uint64_t(expected) * sizeof(float))
    throw std::runtime_error(path + ": " + floatCount(off_t(file.size())) + " floats, expected " +
                             std::to_string(expected));
  std::vector<float> values(expected);
  if (!file.readFully(values.data(), expected * sizeof(float))) throw std::runtime_error("short read " + path);
  return values;
}

MotionTables loadMotionTables(const std::string& dir) {
  MotionTables t;
  const std::string root = dir + "/";
  t.meta = parseMotionMeta(readWholeMember(root + "meta.json", kMaxManifestBytes, "a motion meta.json"));
  t.stftWindow = readExactFloats(root + "hubert_stft_window.bin", kFftSize);
  t.melMatrix = readExactFloats(root + "hubert_stft_binmat.bin", kFftBins * kMelBands);
  t.featMean = readExactFloats(root + "hubert_fmean.bin", kFeatDim);
  t.featStd = readExactFloats(root + "hubert_fstd.bin", kFeatDim);
  t.emotion = readExactFloats(root + "emo.bin", size_t(t.meta.nEmo) * kEmoDim);
  t.templateInfo = readExactFloats(root + "ch_xs_info.bin", kInfoFloats);
  t.templateRow = readExactFloats(root + "ch_sc.bin", kKpFloats);
  t.eyeOpen = readExactFloats(root + "ch_eye_open.bin", kEyeOpenDim);
  t.eyeBall = readExactFloats(root + "ch_eye_ball.bin", kEyeBallDim);
  const std::vector<float> minMax = readExactFloats(root + "v_min_max.bin", 2 * kMotionDim);
  t.motionMin.assign(minMax.begin(), minMax.begin() + kMotionDim);
  t.motionMax.assign(minMax.begin() + kMotionDim, minMax.end());
  for (size_t d = 0; d < kMotionDim; ++d)
    if (!(t.motionMin[d] <= t.motionMax[d]))
      throw std::runtime_error("le_motion: " + root + "v_min_max.bin: minimum above maximum in dimension " +
                               std::to_string(d));
  t.sourceInfo = readExactFloats(root + "src_xs_info.bin", size_t(t.meta.nSrc) * kInfoFloats);
  t.targetKp = readExactFloats(resolveMember(dir, "xs_target.bin"), size_t(t.meta.nt) * kKpFloats);
  return t;
}

}  // namespace le::audio
