// The model directory of the motion generator: meta.json and the raw f32 tables, each read whole
// and required to hold exactly its stated number of floats.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace le::audio {

struct MotionMeta {
  int nt = 0;              // rows of the target table
  int nSrc = 0;            // source info records (must equal nt)
  int nEmo = 0;            // emotion rows
  float sBridge = 0.0f;    // gain of the stitching correction
  float deltaPitch = 0.0f; // degrees added to the pitch of the driving pose
};

// Parses meta.json text: each value is found after the quoted key and the next colon and parsed
// with strtod. Throws "meta.json: missing <key>" for an absent required key, "meta.json: bad <key>"
// for a key without a colon, a count that is not a whole number of at least 1 or a gain
// (s_bridge, delta_pitch) that is not a finite float, and "le_motion: n_src != nt unsupported".
MotionMeta parseMotionMeta(const std::string& text);

// Reads the whole file at path, a regular file that must hold exactly `expected` little-endian
// floats; its size is compared before anything is allocated. Throws "cannot open <path>",
// "<path> is a directory|special file, not a regular file" (a FIFO is refused, never waited on),
// "short read <path>" or "<path>: <count> floats, expected <expected>".
std::vector<float> readExactFloats(const std::string& path, size_t expected);

// Every table of a motion directory, sized as the meta says.
struct MotionTables {
  MotionMeta meta;
  std::vector<float> stftWindow;  // 512
  std::vector<float> melMatrix;   // 257 x 80, bin-major
  std::vector<float> featMean;    // 1024
  std::vector<float> featStd;     // 1024
  std::vector<float> emotion;     // n_emo x 8
  std::vector<float> templateInfo;  // 328
  std::vector<float> templateRow;   // 63
  std::vector<float> eyeOpen;       // 2
  std::vector<float> eyeBall;       // 6
  std::vector<float> motionMin;     // 265
  std::vector<float> motionMax;     // 265
  std::vector<float> sourceInfo;    // n_src x 328
  std::vector<float> targetKp;      // nt x 63, the member xs_target.bin
};

// Reads meta.json (a regular file of at most kMaxManifestBytes) and every table of the directory
// `dir` (a bundle directory: xs_target.bin is resolved as a member).
MotionTables loadMotionTables(const std::string& dir);

}  // namespace le::audio
