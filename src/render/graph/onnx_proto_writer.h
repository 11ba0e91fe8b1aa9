// Protocol-buffer writer: appends varints and fields to a byte vector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "render/graph/onnx_proto_reader.h"

namespace le {

using GsBytes = std::vector<uint8_t>;

// Base-128 varint, low 7 bits first, bit 7 set on every byte but the last.
void gsPutVarint(GsBytes& out, uint64_t v);
// Length-delimited field n: tag (n x 8 + 2), varint length, bytes.
void gsPutBytes(GsBytes& out, uint32_t n, const void* bytes, size_t len);
inline void gsPutBytes(GsBytes& out, uint32_t n, const std::string& s) { gsPutBytes(out, n, s.data(), s.size()); }
inline void gsPutBytes(GsBytes& out, uint32_t n, const GsBytes& b) { gsPutBytes(out, n, b.data(), b.size()); }
// Varint field n: tag (n x 8), value.
void gsPutVarintField(GsBytes& out, uint32_t n, uint64_t v);
// 32-bit float field n: tag (n x 8 + 5), four little-endian bytes.
void gsPutFloatField(GsBytes& out, uint32_t n, float v);
// The bytes of a slice, unchanged.
void gsPutRaw(GsBytes& out, GsSlice slice);

}  // namespace le
