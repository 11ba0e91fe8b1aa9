#include "render/graph/student_blend_rewrite.h"

#include <string>

#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_node_view.h"
#include "render/graph/onnx_rebuild.h"

namespace le {

namespace {

bool isStudentBlend(GsSlice node) {
  const GsNodeView v = gsViewNode(node);
  return v.opType == "MatMul" && v.name == kStudentBlendNode && v.defaultDomain() && v.inputs.size() == 2;
}

GsBytes asGemm(GsSlice node) {
  GsBytes out;
  out.reserve(node.size + 8);
  GsReader reader(node);
  GsField f;
  while (reader.next(f))
    if (f.number != kNodeOpType && f.number != kNodeDomain) gsPutRaw(out, f.raw);
  gsPutBytes(out, kNodeOpType, std::string("Gemm"));
  return out;
}

}  // namespace

size_t normaliseStudentBlend(GsBytes& modelBytes) {
  size_t count = 0;
  const GsBytes graph = gsReplaceNodes(gsGraphOf(gsSliceOf(modelBytes)), [&](size_t, GsSlice node, GsBytes& out) {
    if (!isStudentBlend(node)) return false;
    gsPutBytes(out, kGraphNode, asGemm(node));
    ++count;
    return true;
  });
  if (count) modelBytes = gsWithGraph(modelBytes, graph);
  return count;
}

}  // namespace le
