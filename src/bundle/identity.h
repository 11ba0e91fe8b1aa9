// Per-frame access to the baked source material of the person: the source-crop prior P, pooled
// and synthesis features, and the paste transforms M rescaled to the canvas. Large arrays are
// mapped read-only, never copied; a prior carried only as a movie is played through a second
// driver cursor opened on first use.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bundle/manifest.h"
#include "bundle/member_file.h"

namespace le {

class DriverCursor;

// Refuses a bundle whose members do not make a renderable identity, naming the missing piece.
void ensureIdentityMembers(const Manifest& manifest);

// The size of the raw prior "P.f16": NT blocks of crop x crop x 3 half-precision values.
MemberSize rawPriorSize(int NT, int crop);

// Scales the paste transforms (NT x 6 floats) from the paste-space stamp to the canvas.
void rescaleM(std::vector<float>& M, const Manifest& manifest);

class Identity {
 public:
  static constexpr size_t kPooledHalves = 65536;
  static constexpr size_t kFsRedHalves = 262144;

  // Throws std::runtime_error on any refusal or file error.
  explicit Identity(const Manifest& manifest);
  ~Identity();
  Identity(const Identity&) = delete;
  Identity& operator=(const Identity&) = delete;

  int NT() const { return NT_; }
  int crop() const { return crop_; }

  // Frame si's blocks; si must lie in [0, NT).
  const uint16_t* pooled64(int si) const;
  const uint16_t* fsRed(int si) const;  // null when the bundle has no fs_red.f16
  const float* M(int si) const { return M_.data() + size_t(si) * 6; }
  // Frame si's crop x crop x 3 halves: inside the mapping, or taken from the played prior (valid
  // for at least 12 further takes of that cursor); null when the bundle has neither.
  const uint16_t* P(int si);
  // Keeps a played prior in step with the frames in flight; nothing for a mapped or absent prior.
  void walkP(int si);

  // The prior cursor, opened exactly once on first call from any thread.
  DriverCursor& prior();
  std::string priorBackend();
  int64_t priorResidentBytes();
  int64_t priorSeeks();

  bool hasFsRed() const { return !fsRed_.empty(); }
  // A warp prior to render from: the mapped P.f16 or a prior movie to play.
  bool hasPrior() const { return !P_.empty() || !priorPath_.empty(); }
  bool playsPrior() const { return P_.empty() && !priorPath_.empty(); }

 private:
  int NT_;
  int crop_;
  MappedFile pooled64_;
  MappedFile P_;
  MappedFile fsRed_;
  std::vector<float> M_;
  std::string priorPath_;
  Manifest manifest_;
  std::once_flag priorOnce_;
  std::unique_ptr<DriverCursor> priorCursor_;
};

}  // namespace le
