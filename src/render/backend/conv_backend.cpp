#include "render/backend/conv_backend.h"

#include <sys/stat.h>

#include <cctype>
#include <map>
#include <stdexcept>
#include <vector>

#include "bundle/member_file.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_tensor_reader.h"

namespace le {

namespace {

using Dims = std::vector<int64_t>;

// Every initializer's name and dimensions.
std::map<std::string, Dims> initializerShapes(GsSlice model) {
  std::map<std::string, Dims> shapes;
  GsReader reader(gsGraphOf(model));
  GsField f;
  while (reader.next(f)) {
    if (f.number != kGraphInitializer || f.wireType != 2) continue;
    Dims dims;
    gsTensorDims(f.payload, dims);
    shapes[gsFirstStr(f.payload, kTensorName)] = std::move(dims);
  }
  return shapes;
}

// The one initializer of the shape, or empty when there are none or several.
std::string uniqueOfShape(const std::map<std::string, Dims>& shapes, const Dims& shape) {
  std::string found;
  int count = 0;
  for (const auto& [name, dims] : shapes)
    if (dims == shape) found = name, ++count;
  return count == 1 ? found : std::string();
}

// The "pre" bias: the (96) initializer whose name carries the weight's counter plus or minus one.
bool findPreBias(const std::map<std::string, Dims>& shapes, const std::string& weight, std::string& reason) {
  size_t digits = weight.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(weight[digits - 1]))) --digits;
  if (digits == weight.size() || weight.size() - digits > 18) {
    reason = "pre weight name carries no SSA counter";
    return false;
  }
  const std::string stem = weight.substr(0, digits);
  const long long counter = std::stoll(weight.substr(digits));
  const std::string next = stem + std::to_string(counter + 1);
  for (const std::string& name : {next, stem + std::to_string(counter - 1)}) {
    const auto it = shapes.find(name);
    if (it != shapes.end() && it->second == Dims{96}) return true;
  }
  reason = "pre bias " + next + " absent or not (96)";
  return false;
}

bool recognise(const std::map<std::string, Dims>& shapes, std::string& reason) {
  const std::string pre = uniqueOfShape(shapes, {96, 85, 1, 1});
  if (pre.empty()) {
    reason = "pre weight (96,85,1,1) absent or ambiguous";
    return false;
  }
  if (!findPreBias(shapes, pre, reason)) return false;
  if (uniqueOfShape(shapes, {1, 1, 32, 32, 2}).empty()) {
    reason = "grid32 (1,1,32,32,2) absent or ambiguous";
    return false;
  }
  if (uniqueOfShape(shapes, {64, 196608}).empty()) {
    reason = "basis (64,196608) absent or ambiguous";
    return false;
  }
  return true;
}

}  // namespace

bool ConvBackend::available() { return false; }

std::unique_ptr<ConvBackend> ConvBackend::create(const std::string&, int) {
  throw std::runtime_error("le_conv: built without NEON fp16 support");
}

bool ConvBackend::graphSupported(const std::string& modelPath, std::string* reason) {
  std::string why;
  bool supported = false;
  try {
    struct stat st;
    if (::stat(modelPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)
      throw std::runtime_error("cannot read " + modelPath);
    const MappedFile model(modelPath, MemberSize{uint64_t(st.st_size), "its size"});
    supported = recognise(initializerShapes(GsSlice{model.data(), model.size()}), why);
  } catch (const std::exception& e) {
    why = e.what();
  }
  if (reason) *reason = why;
  return supported;
}

}  // namespace le
