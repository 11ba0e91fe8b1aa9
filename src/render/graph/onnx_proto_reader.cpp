#include "render/graph/onnx_proto_reader.h"

#include <cstring>
#include <stdexcept>

namespace le {

bool GsSlice::equals(const char* text) const {
  const size_t n = std::strlen(text);
  return n == size && (n == 0 || std::memcmp(data, text, n) == 0);
}

uint64_t gsDecodeVarint(const uint8_t*& cur, const uint8_t* end) {
  uint64_t value = 0;
  for (int i = 0; i < 10; ++i) {
    if (cur == end) throw std::runtime_error("onnx: bad varint");
    const uint8_t byte = *cur++;
    value |= static_cast<uint64_t>(byte & 0x7f) << (7 * i);
    if (!(byte & 0x80)) return value;
  }
  throw std::runtime_error("onnx: bad varint");
}

void gsDecodePackedVarints(GsSlice payload, std::vector<int64_t>& out) {
  const uint8_t* p = payload.data;
  const uint8_t* end = p + payload.size;
  while (p != end) out.push_back(static_cast<int64_t>(gsDecodeVarint(p, end)));
}

bool GsReader::next(GsField& field) {
  if (cur_ == end_) return false;
  const uint8_t* start = cur_;
  const uint64_t tag = gsDecodeVarint(cur_, end_);
  field.number = static_cast<uint32_t>(tag >> 3);
  field.wireType = static_cast<int32_t>(tag & 7);
  field.varint = 0;
  field.payload = {};
  const auto remaining = [this] { return static_cast<uint64_t>(end_ - cur_); };
  switch (field.wireType) {
    case 0:
      field.varint = gsDecodeVarint(cur_, end_);
      break;
    case 1:
    case 5: {
      const uint64_t width = field.wireType == 1 ? 8 : 4;
      if (width > remaining()) throw std::runtime_error("onnx: truncated");
      field.payload = {cur_, static_cast<size_t>(width)};
      cur_ += width;
      break;
    }
    case 2: {
      const uint64_t length = gsDecodeVarint(cur_, end_);
      if (length > remaining()) throw std::runtime_error("onnx: truncated");
      field.payload = {cur_, static_cast<size_t>(length)};
      cur_ += length;
      break;
    }
    default:
      throw std::runtime_error("onnx: bad wire type");
  }
  field.raw = {start, static_cast<size_t>(cur_ - start)};
  return true;
}

float gsFixed32Float(GsSlice payload) {
  float value = 0.f;
  if (payload.size == 4) std::memcpy(&value, payload.data, 4);
  return value;
}

}  // namespace le
