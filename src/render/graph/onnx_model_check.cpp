#include "render/graph/onnx_model_check.h"

#include <stdexcept>
#include <string>
#include <vector>

#include "bundle/member_file.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_tensor_reader.h"

namespace le {
namespace {

// TensorProto, SparseTensorProto, ValueInfoProto, TypeProto and AttributeProto fields read here
// beyond those the rewrites share.
constexpr uint32_t kTensorInt32Data = 5;
constexpr uint32_t kTensorStringData = 6;
constexpr uint32_t kTensorInt64Data = 7;
constexpr uint32_t kTensorDoubleData = 10;
constexpr uint32_t kTensorUint64Data = 11;
constexpr uint32_t kTensorExternalData = 13;
constexpr uint32_t kTensorDataLocation = 14;
constexpr int64_t kLocationExternal = 1;
constexpr uint32_t kGraphSparseInitializer = 15;
constexpr uint32_t kSparseValues = 1;
constexpr uint32_t kSparseIndices = 2;
constexpr uint32_t kSparseDims = 3;
constexpr uint32_t kValueInfoType = 2;
constexpr uint32_t kTypeTensor = 1;
constexpr uint32_t kTypeSparseTensor = 8;
constexpr uint32_t kTensorTypeShape = 2;
constexpr uint32_t kShapeDim = 1;
constexpr uint32_t kDimValue = 1;
constexpr uint32_t kAttrGraph = 6;
constexpr uint32_t kAttrTensors = 10;
constexpr uint32_t kAttrGraphs = 11;
constexpr uint32_t kAttrSparseTensor = 22;
constexpr uint32_t kAttrSparseTensors = 23;

[[noreturn]] void refuse(const std::string& why) { throw std::runtime_error("onnx: " + why); }

std::string dimsText(const std::vector<int64_t>& dims) {
  std::string text = "[";
  for (size_t i = 0; i < dims.size(); ++i) text += (i ? "," : "") + std::to_string(dims[i]);
  return text + "]";
}

// The element count of a shape; dimensions that are not known (-1 from an unset value) are not
// passed in. Refuses a negative dimension and a count past the limit, before any product overflows.
int64_t elementCount(const std::vector<int64_t>& dims, const std::string& what) {
  int64_t count = 1;
  for (int64_t d : dims)
    if (d < 0) refuse(what + " declares the negative dimension " + std::to_string(d) + " in " + dimsText(dims));
  for (int64_t d : dims) {
    if (d != 0 && count > kMaxModelTensorElements / d)
      refuse(what + " declares the shape " + dimsText(dims) + ", more than the limit of " +
             std::to_string(kMaxModelTensorElements) + " elements");
    count *= d;
  }
  return count;
}

// Bytes per element in raw_data: 0 for a type without a fixed width (strings, unknown types), -1
// for the 4-bit types that pack two elements per byte.
int rawWidth(int64_t dataType) {
  switch (dataType) {
    case 2: case 3: case 9: case 17: case 18: case 19: case 20: return 1;  // u8 i8 bool f8
    case 4: case 5: case 10: case 16: return 2;                          // u16 i16 f16 bf16
    case 1: case 6: case 12: return 4;                                   // f32 i32 u32
    case 7: case 11: case 13: case 14: return 8;                         // i64 f64 u64 c64
    case 15: return 16;                                                  // c128
    case 21: case 22: case 23: return -1;                                // u4 i4 f4
    default: return 0;
  }
}

uint64_t countVarints(GsSlice packed) {
  uint64_t n = 0;
  for (size_t i = 0; i < packed.size; ++i) n += (packed.data[i] & 0x80) == 0;
  return n;
}

struct TensorFacts {
  std::string name;
  int64_t dataType = 0;
  std::vector<int64_t> dims;
  bool external = false;
  bool hasRaw = false;
  uint64_t rawBytes = 0;
  uint64_t typedValues = 0;  // values in the typed fields (float_data, int32_data, ...)
};

// Values one typed-data field holds: one when unpacked, the packed run's count otherwise.
uint64_t typedValuesOf(const GsField& f) {
  if (f.wireType != 2) return 1;
  if (f.number == kTensorFloatData) return f.payload.size / 4;
  if (f.number == kTensorDoubleData) return f.payload.size / 8;
  if (f.number == kTensorStringData) return 1;
  return countVarints(f.payload);
}

TensorFacts readTensor(GsSlice tensor) {
  TensorFacts t;
  GsReader reader(tensor);
  GsField f;
  while (reader.next(f)) {
    switch (f.number) {
      case kTensorDims:
        if (f.wireType == 0) t.dims.push_back(int64_t(f.varint));
        else if (f.wireType == 2) gsDecodePackedVarints(f.payload, t.dims);
        break;
      case kTensorDataType: t.dataType = int64_t(f.varint); break;
      case kTensorName: t.name = f.payload.str(); break;
      case kTensorRawData: t.hasRaw = true; t.rawBytes = f.payload.size; break;
      case kTensorExternalData: t.external = true; break;
      case kTensorDataLocation: t.external = t.external || int64_t(f.varint) == kLocationExternal; break;
      case kTensorFloatData: case kTensorInt32Data: case kTensorStringData: case kTensorInt64Data:
      case kTensorDoubleData: case kTensorUint64Data:
        t.typedValues += typedValuesOf(f);
        break;
      default: break;
    }
  }
  return t;
}

void checkTensor(GsSlice tensor, const char* kind) {
  const TensorFacts t = readTensor(tensor);
  const std::string what = std::string(kind) + " '" + t.name + "'";
  const int64_t count = elementCount(t.dims, what);
  if (t.external)
    refuse(what + " keeps its data in an external file; a bundle's model carries its weights inside itself");
  const int width = rawWidth(t.dataType);
  if (t.hasRaw && width != 0) {
    const uint64_t need = width > 0 ? uint64_t(count) * uint64_t(width) : (uint64_t(count) + 1) / 2;
    if (t.rawBytes != need)
      refuse(what + " declares " + dimsText(t.dims) + " (" + std::to_string(need) + " bytes) but its data holds " +
             std::to_string(t.rawBytes) + " bytes");
    return;
  }
  // Complex values are stored as their two parts; 4-bit types pack pairs in ways this count does
  // not follow, and strings and unknown types have no width to check.
  if (t.hasRaw || width <= 0) return;
  const uint64_t perElement = t.dataType == 14 || t.dataType == 15 ? 2 : 1;
  if (t.typedValues != uint64_t(count) * perElement)
    refuse(what + " declares " + dimsText(t.dims) + " (" + std::to_string(uint64_t(count) * perElement) +
           " values) but stores " + std::to_string(t.typedValues));
}

void checkSparse(GsSlice sparse, const char* kind) {
  std::vector<int64_t> dims;
  std::string name;
  GsReader reader(sparse);
  GsField f;
  while (reader.next(f)) {
    if (f.number == kSparseDims && f.wireType == 0) dims.push_back(int64_t(f.varint));
    else if (f.number == kSparseDims && f.wireType == 2) gsDecodePackedVarints(f.payload, dims);
    else if ((f.number == kSparseValues || f.number == kSparseIndices) && f.wireType == 2) {
      checkTensor(f.payload, kind);
      if (f.number == kSparseValues) name = gsFirstStr(f.payload, kTensorName);
    }
  }
  // The runtime turns a sparse tensor into a dense one of its declared shape.
  elementCount(dims, std::string(kind) + " '" + name + "'");
}

// The shape of a tensor type: each known dimension (unset and symbolic ones are skipped).
void checkShape(GsSlice shape, const std::string& what) {
  std::vector<int64_t> dims;
  GsReader reader(shape);
  GsField f;
  while (reader.next(f)) {
    if (f.number != kShapeDim || f.wireType != 2) continue;
    GsReader dim(f.payload);
    GsField d;
    while (dim.next(d))
      if (d.number == kDimValue && d.wireType == 0) dims.push_back(int64_t(d.varint));
  }
  elementCount(dims, what);
}

void checkValueInfo(GsSlice info, const char* kind) {
  const std::string what = std::string(kind) + " '" + gsFirstStr(info, kValueInfoName) + "'";
  GsReader reader(info);
  GsField f;
  while (reader.next(f)) {
    if (f.number != kValueInfoType || f.wireType != 2) continue;
    GsReader type(f.payload);
    GsField t;
    while (type.next(t)) {
      if ((t.number != kTypeTensor && t.number != kTypeSparseTensor) || t.wireType != 2) continue;
      GsReader tensorType(t.payload);
      GsField s;
      while (tensorType.next(s))
        if (s.number == kTensorTypeShape && s.wireType == 2) checkShape(s.payload, what);
    }
  }
}

void checkGraph(GsSlice graph, int depth);

void checkAttribute(GsSlice attribute, int depth) {
  GsReader reader(attribute);
  GsField f;
  while (reader.next(f)) {
    if (f.wireType != 2) continue;
    if (f.number == kAttrTensor || f.number == kAttrTensors) checkTensor(f.payload, "tensor attribute");
    else if (f.number == kAttrSparseTensor || f.number == kAttrSparseTensors) checkSparse(f.payload, "sparse attribute");
    else if (f.number == kAttrGraph || f.number == kAttrGraphs) checkGraph(f.payload, depth + 1);
  }
}

void checkGraph(GsSlice graph, int depth) {
  if (depth > kMaxModelGraphDepth)
    refuse("subgraphs nest deeper than the limit of " + std::to_string(kMaxModelGraphDepth) + " levels");
  GsReader reader(graph);
  GsField f;
  while (reader.next(f)) {
    if (f.wireType != 2) continue;
    switch (f.number) {
      case kGraphInitializer: checkTensor(f.payload, "initializer"); break;
      case kGraphSparseInitializer: checkSparse(f.payload, "sparse initializer"); break;
      case kGraphInput: checkValueInfo(f.payload, "input"); break;
      case kGraphOutput: checkValueInfo(f.payload, "output"); break;
      case kGraphValueInfo: checkValueInfo(f.payload, "value"); break;
      case kGraphNode: {
        GsReader node(f.payload);
        GsField n;
        while (node.next(n))
          if (n.number == kNodeAttribute && n.wireType == 2) checkAttribute(n.payload, depth);
        break;
      }
      default: break;
    }
  }
}

}  // namespace

void requirePlausibleModel(GsSlice model) {
  GsReader reader(model);
  GsField f;
  bool hasGraph = false;
  while (reader.next(f)) {
    if (f.number != kModelGraph || f.wireType != 2) continue;
    hasGraph = true;
    checkGraph(f.payload, 0);
  }
  if (!hasGraph) refuse("the model holds no graph");
}

void requirePlausibleModelFile(const std::string& path) {
  const std::string bytes = readWholeMember(path, kMaxModelFileBytes, "a model");
  try {
    requirePlausibleModel({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
  } catch (const std::exception& e) {
    throw std::runtime_error("refusing model " + path + ": " + e.what());
  }
}

}  // namespace le
