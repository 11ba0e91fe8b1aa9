#include "bundle/prior_rows.h"

#include <cstring>
#include <stdexcept>

#include "bundle/identity.h"
#include "bundle/member_names.h"
#include "driver/driver_cursor.h"

namespace le {

PriorRows::PriorRows(const Manifest& m, int lookAhead, int history) : NT_(m.NT) {
  const std::string rawPath = resolveMember(m.root, "P.f16");
  if (memberExists(rawPath)) {
    raw_ = MappedFile(rawPath, rawPriorSize(m.NT, m.crop));
    rowBytes_ = raw_.size() / size_t(m.NT);
    backend_ = "mmap P.f16";
    return;
  }
  cursor_ = DriverCursor::openPrior(m, lookAhead, history);
  rowBytes_ = size_t(cursor_->frameBytes());
  backend_ = cursor_->name();
}

PriorRows::~PriorRows() = default;

void PriorRows::row(int t, uint8_t* out) {
  if (cursor_) {
    cursor_->pullAt(t, out);
    return;
  }
  if (t < 0 || t >= NT_)
    throw std::runtime_error("prior: frame " + std::to_string(t) + " outside [0," + std::to_string(NT_) + ")");
  std::memcpy(out, raw_.data() + size_t(t) * rowBytes_, rowBytes_);
}

}  // namespace le
