#include "tessera/bank_memory_io.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

namespace le::tessera {

int memoryRead(void* opaque, uint8_t* buf, int want) {
  auto* r = static_cast<MemoryReader*>(opaque);
  if (r->pos >= r->size) return AVERROR_EOF;
  const int64_t count = std::min<int64_t>(std::max(want, 0), r->size - r->pos);
  std::memcpy(buf, r->data + r->pos, size_t(count));
  r->pos += count;
  return int(count);
}

int64_t memorySeek(void* opaque, int64_t offset, int whence) {
  auto* r = static_cast<MemoryReader*>(opaque);
  if (whence & AVSEEK_SIZE) return r->size;
  int64_t base = 0;
  if ((whence & ~AVSEEK_FORCE) == SEEK_CUR) base = r->pos;
  if ((whence & ~AVSEEK_FORCE) == SEEK_END) base = r->size;
  // Wrapping arithmetic would let a huge offset land inside the track; such a target is refused.
  if (offset > 0 && base > INT64_MAX - offset) return -1;
  const int64_t target = base + offset;
  if (target < 0 || target > r->size) return -1;
  r->pos = target;
  return target;
}

}  // namespace le::tessera
