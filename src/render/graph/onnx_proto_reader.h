// Minimal protocol-buffer field reader over an in-memory byte range. It visits the fields of one
// message in place, without building an object model, and never reads outside its range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace le {

// A read-only byte range inside a buffer the caller keeps alive.
struct GsSlice {
  const uint8_t* data = nullptr;
  size_t size = 0;

  bool empty() const { return size == 0; }
  std::string str() const { return size ? std::string(reinterpret_cast<const char*>(data), size) : std::string(); }
  bool equals(const char* text) const;
};

inline GsSlice gsSliceOf(const std::vector<uint8_t>& bytes) { return {bytes.data(), bytes.size()}; }

// One decoded field. `payload` holds the bytes of a length-delimited field (wire type 2) and the
// 4 or 8 little-endian bytes of a fixed-width one (wire types 5 and 1); `raw` spans the whole field
// from its tag, so that an untouched field can be copied unchanged.
struct GsField {
  uint32_t number = 0;
  int32_t wireType = 0;
  uint64_t varint = 0;
  GsSlice payload;
  GsSlice raw;
};

class GsReader {
 public:
  explicit GsReader(GsSlice slice) : cur_(slice.data), end_(slice.data + slice.size) {}

  // Decodes the next field; false at the end of the range. Throws std::runtime_error with
  // "onnx: bad varint", "onnx: truncated" or "onnx: bad wire type" on malformed input.
  bool next(GsField& field);

 private:
  const uint8_t* cur_;
  const uint8_t* end_;
};

// Decodes one varint at cur (at most 10 bytes) and advances cur; throws "onnx: bad varint" when
// the input ends inside it or a tenth byte still has bit 7 set.
uint64_t gsDecodeVarint(const uint8_t*& cur, const uint8_t* end);

// Decodes a packed run of varints (the payload of a packed repeated field), appending each value.
void gsDecodePackedVarints(GsSlice payload, std::vector<int64_t>& out);

// Reads a little-endian 32-bit float from a 4-byte payload (wire type 5).
float gsFixed32Float(GsSlice payload);

}  // namespace le
