// Edits of ONNX model bytes for tests that need a damaged or hostile model: the graph is rebuilt
// field by field, every other byte kept.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_proto_writer.h"
#include "render/graph/onnx_tensor_reader.h"

namespace le::test {

// Calls edit(field, out) for each field of the model's graph; out receives what stands in the
// field's place (gsPutRaw(out, field.raw) keeps it).
inline GsBytes editGraph(const GsBytes& model, const std::function<void(const GsField&, GsBytes&)>& edit) {
  GsBytes out;
  GsReader reader(gsSliceOf(model));
  GsField f;
  while (reader.next(f)) {
    if (f.number != kModelGraph || f.wireType != 2) {
      gsPutRaw(out, f.raw);
      continue;
    }
    GsBytes graph;
    GsReader fields(f.payload);
    GsField g;
    while (fields.next(g)) edit(g, graph);
    gsPutBytes(out, kModelGraph, graph);
  }
  return out;
}

// A copy of a TensorProto with its dims replaced and `extra` appended (e.g. a data_location).
inline GsBytes tensorWithDims(GsSlice tensor, const std::vector<int64_t>& dims, const GsBytes& extra = {}) {
  GsBytes out;
  for (int64_t d : dims) gsPutVarintField(out, kTensorDims, uint64_t(d));
  GsReader reader(tensor);
  GsField f;
  while (reader.next(f))
    if (f.number != kTensorDims) gsPutRaw(out, f.raw);
  out.insert(out.end(), extra.begin(), extra.end());
  return out;
}

// The name of the initializer with the most raw_data bytes in the model's graph.
inline std::string largestInitializer(const GsBytes& model) {
  std::string name;
  size_t most = 0;
  GsReader reader(gsGraphOf(gsSliceOf(model)));
  GsField f;
  while (reader.next(f))
    if (f.number == kGraphInitializer && f.wireType == 2 && gsPayload(f.payload).size >= most) {
      most = gsPayload(f.payload).size;
      name = gsFirstStr(f.payload, kTensorName);
    }
  return name;
}

// Replaces the initializer `name` with edit(its bytes), wrapped back as an initializer field.
inline GsBytes editInitializer(const GsBytes& model, const std::string& name,
                               const std::function<GsBytes(GsSlice)>& edit) {
  return editGraph(model, [&](const GsField& f, GsBytes& out) {
    if (f.number == kGraphInitializer && gsFirstStr(f.payload, kTensorName) == name)
      gsPutBytes(out, kGraphInitializer, edit(f.payload));
    else
      gsPutRaw(out, f.raw);
  });
}

}  // namespace le::test
