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
  const size_t rows = size_t(m.frames) * LE_HOST_KP_FLOATS;
  d.xs = readFloatMember(resolveMember(m.root, "drive/xs.f32"), rows);
  d.xd = readFloatMember(resolveMember(m.root, "drive/xd.f32"), rows);
  d.si = readInt32Member(resolveMember(m.root, "drive/si.i32"), size_t(m.frames));
  for (int32_t s : d.si)
    if (s < 0 || s >= m.NT) throw std::runtime_error("drive: si out of range");
  return d;
}

}  // namespace le
