#include "bundle/drive.h"

#include <stdexcept>

#include "bundle/member_file.h"
#include "bundle/member_names.h"
#include "le/le.h"

namespace le {

Drive loadDrive(const Manifest& m) {
  if (m.frames < 0) throw std::runtime_error("drive: negative frames");
  Drive d;
  d.frames = m.frames;
  const uint64_t frames = uint64_t(m.frames);
  const std::string because = "frames " + std::to_string(m.frames);
  d.xs = readFloatMember(resolveMember(m.root, "drive/xs.f32"), frames * LE_HOST_KP_FLOATS, because + " (x 63 floats)");
  d.xd = readFloatMember(resolveMember(m.root, "drive/xd.f32"), frames * LE_HOST_KP_FLOATS, because + " (x 63 floats)");
  d.si = readInt32Member(resolveMember(m.root, "drive/si.i32"), frames, because + " (x 1 int32)");
  for (int32_t s : d.si)
    if (s < 0 || s >= m.NT) throw std::runtime_error("drive: si out of range");
  return d;
}

}  // namespace le
