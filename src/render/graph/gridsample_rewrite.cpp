#include "render/graph/gridsample_rewrite.h"

#include <string>

#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_rebuild.h"

namespace le {

namespace {

// op_type and domain of a node; a repeated singular field takes its last value, as a
// protocol-buffer parser (and so ONNX Runtime) does.
struct NodeKind {
  GsSlice opType;
  GsSlice domain;
};

NodeKind kindOf(GsSlice node) {
  NodeKind kind;
  GsReader reader(node);
  GsField f;
  while (reader.next(f)) {
    if (f.wireType != 2) continue;
    if (f.number == kNodeOpType) kind.opType = f.payload;
    else if (f.number == kNodeDomain) kind.domain = f.payload;
  }
  return kind;
}

GsBytes fastNode(GsSlice node) {
  GsBytes out;
  out.reserve(node.size + 32);
  GsReader reader(node);
  GsField f;
  while (reader.next(f))
    if (f.number != kNodeOpType && f.number != kNodeAttribute && f.number != kNodeDomain) gsPutRaw(out, f.raw);
  gsPutBytes(out, kNodeOpType, std::string(kGridSampleFastOp));
  gsPutBytes(out, kNodeDomain, std::string(kZentrovaDomain));
  return out;
}

GsBytes rewriteGraph(GsSlice graph) {
  GsBytes out;
  out.reserve(graph.size + 1024);
  GsReader reader(graph);
  GsField f;
  while (reader.next(f)) {
    if (f.number == kGraphNode && f.wireType == 2 && gsIsRewritableGridSample(f.payload))
      gsPutBytes(out, kGraphNode, fastNode(f.payload));
    else
      gsPutRaw(out, f.raw);
  }
  return out;
}

}  // namespace

bool gsIsRewritableGridSample(GsSlice node) {
  const NodeKind kind = kindOf(node);
  if (!kind.opType.equals("GridSample")) return false;
  if (!kind.domain.empty() && !kind.domain.equals("ai.onnx")) return false;
  bool modeOk = false, paddingOk = false, alignOk = true;
  GsReader reader(node);
  GsField f;
  while (reader.next(f)) {
    if (f.number != kNodeAttribute || f.wireType != 2) continue;
    GsSlice name, s;
    bool hasS = false, hasI = false;
    uint64_t i = 0;
    GsReader attr(f.payload);
    GsField a;
    while (attr.next(a)) {
      if (a.number == kAttrName && a.wireType == 2) name = a.payload;
      else if (a.number == kAttrS && a.wireType == 2) s = a.payload, hasS = true;
      else if (a.number == kAttrI && a.wireType == 0) i = a.varint, hasI = true;
    }
    if (name.equals("mode")) modeOk = hasS && (s.equals("bilinear") || s.equals("linear"));
    else if (name.equals("padding_mode")) paddingOk = hasS && s.equals("border");
    else if (name.equals("align_corners")) alignOk = !hasI || i == 0;
  }
  return modeOk && paddingOk && alignOk;
}

bool graphHasBakedGridSampleFast(const GsBytes& modelBytes) {
  GsReader reader(gsGraphOf(gsSliceOf(modelBytes)));
  GsField f;
  while (reader.next(f)) {
    if (f.number != kGraphNode || f.wireType != 2) continue;
    const NodeKind kind = kindOf(f.payload);
    if (kind.opType.equals(kGridSampleFastOp) && kind.domain.equals(kZentrovaDomain)) return true;
  }
  return false;
}

size_t rewriteGridSampleToFast(GsBytes& modelBytes) {
  const GsSlice model = gsSliceOf(modelBytes);
  size_t count = 0;
  {
    GsReader reader(gsGraphOf(model));
    GsField f;
    while (reader.next(f))
      if (f.number == kGraphNode && f.wireType == 2 && gsIsRewritableGridSample(f.payload)) ++count;
  }
  if (count == 0) return 0;

  GsBytes out = gsWithGraph(modelBytes, rewriteGraph(gsGraphOf(model)));
  gsImportDomain(out, kZentrovaDomain, 1);
  modelBytes.swap(out);
  return count;
}

}  // namespace le
