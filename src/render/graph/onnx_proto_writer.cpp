#include "render/graph/onnx_proto_writer.h"

#include <cstring>

namespace le {

void gsPutVarint(GsBytes& out, uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<uint8_t>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<uint8_t>(v));
}

void gsPutBytes(GsBytes& out, uint32_t n, const void* bytes, size_t len) {
  gsPutVarint(out, static_cast<uint64_t>(n) << 3 | 2);
  gsPutVarint(out, len);
  const auto* p = static_cast<const uint8_t*>(bytes);
  if (len) out.insert(out.end(), p, p + len);
}

void gsPutVarintField(GsBytes& out, uint32_t n, uint64_t v) {
  gsPutVarint(out, static_cast<uint64_t>(n) << 3);
  gsPutVarint(out, v);
}

void gsPutFloatField(GsBytes& out, uint32_t n, float v) {
  gsPutVarint(out, static_cast<uint64_t>(n) << 3 | 5);
  uint8_t b[4];
  std::memcpy(b, &v, 4);
  out.insert(out.end(), b, b + 4);
}

void gsPutRaw(GsBytes& out, GsSlice slice) {
  if (slice.size) out.insert(out.end(), slice.data, slice.data + slice.size);
}

}  // namespace le
