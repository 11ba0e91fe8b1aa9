#include "render/graph/onnx_tensor_reader.h"

#include <cstring>

#include "render/graph/onnx_graph_reader.h"

namespace le {

namespace {

void appendFloats(GsSlice bytes, std::vector<float>& values) {
  const size_t count = bytes.size / 4;
  const size_t at = values.size();
  values.resize(at + count);
  if (count) std::memcpy(values.data() + at, bytes.data, count * 4);
}

}  // namespace

void gsTensorDims(GsSlice tensor, std::vector<int64_t>& dims) {
  GsReader reader(tensor);
  GsField f;
  while (reader.next(f)) {
    if (f.number != kTensorDims) continue;
    if (f.wireType == 0) {
      dims.push_back(static_cast<int64_t>(f.varint));
    } else if (f.wireType == 2) {
      gsDecodePackedVarints(f.payload, dims);
    }
  }
}

bool gsTensorFloats(GsSlice tensor, std::vector<float>& values) {
  int64_t dataType = 0;
  GsSlice raw;
  bool hasRaw = false;
  std::vector<float> listed;
  bool listedOk = true;
  GsReader reader(tensor);
  GsField f;
  while (reader.next(f)) {
    if (f.number == kTensorDataType && f.wireType == 0) {
      dataType = static_cast<int64_t>(f.varint);
    } else if (f.number == kTensorRawData && f.wireType == 2) {
      raw = f.payload;
      hasRaw = true;
    } else if (f.number == kTensorFloatData) {
      if (f.wireType == 5) appendFloats(f.payload, listed);
      else if (f.wireType == 2 && f.payload.size % 4 == 0) appendFloats(f.payload, listed);
      else listedOk = false;
    }
  }
  if (dataType != kTensorFloat) return false;
  values.clear();
  if (hasRaw) {
    if (raw.size % 4 != 0) return false;
    appendFloats(raw, values);
    return true;
  }
  if (!listedOk) return false;
  values = std::move(listed);
  return true;
}

GsSlice gsPayload(GsSlice tensor) {
  GsSlice out;
  GsReader reader(tensor);
  GsField f;
  while (reader.next(f))
    if (f.number == kTensorRawData && f.wireType == 2) out = f.payload;
  return out;
}

GsSlice gsConstValue(GsSlice node) {
  GsSlice out;
  GsReader reader(node);
  GsField f;
  while (reader.next(f)) {
    if (f.number != kNodeAttribute || f.wireType != 2) continue;
    GsReader attr(f.payload);
    GsField af;
    bool named = false;
    GsSlice tensor;
    bool hasTensor = false;
    while (attr.next(af)) {
      if (af.wireType != 2) continue;
      if (af.number == kAttrName) named = af.payload.equals("value");
      else if (af.number == kAttrTensor) tensor = af.payload, hasTensor = true;
    }
    if (named && hasTensor) out = tensor;
  }
  return out;
}

}  // namespace le
