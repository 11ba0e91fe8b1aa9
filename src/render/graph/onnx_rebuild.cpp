#include "render/graph/onnx_rebuild.h"

#include "render/graph/onnx_emitter.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_tensor_reader.h"

namespace le {

namespace {

GsBytes rebuildGraph(GsSlice graph, const GsGraphEdit& edit) {
  GsBytes out;
  out.reserve(graph.size + 256);
  size_t nodeIndex = 0;
  GsReader reader(graph);
  GsField f;
  while (reader.next(f)) {
    bool keep = true;
    if (f.number == kGraphNode && f.wireType == 2) {
      keep = !(nodeIndex < edit.dropNode.size() && edit.dropNode[nodeIndex]);
      ++nodeIndex;
    } else if (f.number == kGraphInput && f.wireType == 2 && (edit.keepOnlyPrgbInput || edit.dropPrgbInput)) {
      const bool isPrior = gsFirstStr(f.payload, 1) == kPriorInput;
      keep = edit.keepOnlyPrgbInput ? isPrior && !edit.dropPrgbInput : !isPrior;
    } else if (f.number == kGraphInitializer && f.wireType == 2 && edit.keepInitializers) {
      keep = edit.keepInitializers->count(gsFirstStr(f.payload, kTensorName)) > 0;
    } else if (f.number == kGraphOutput && f.wireType == 2) {
      keep = !edit.dropAllOutputs;
    } else if (f.number == kGraphValueInfo && f.wireType == 2 && !edit.valueInfoName.empty()) {
      keep = gsFirstStr(f.payload, 1) != edit.valueInfoName;
    }
    if (keep) gsPutRaw(out, f.raw);
  }
  if (!edit.valueInfoName.empty() && edit.valueInfoField != 0)
    gsPutTensorValueInfo(out, edit.valueInfoField, edit.valueInfoName, edit.valueInfoDims.data(),
                         edit.valueInfoDims.size());
  return out;
}

}  // namespace

void gsRebuild(const GsBytes& model, const GsGraphEdit& edit, GsBytes& out) {
  GsBytes result;
  result.reserve(model.size() + 256);
  bool graphDone = false;
  GsReader reader(gsSliceOf(model));
  GsField f;
  while (reader.next(f)) {
    if (f.number == kModelGraph && f.wireType == 2 && !graphDone) {
      gsPutBytes(result, kModelGraph, rebuildGraph(f.payload, edit));
      graphDone = true;
    } else {
      gsPutRaw(result, f.raw);
    }
  }
  out.swap(result);
}

GsBytes gsReplaceNodes(GsSlice graph, const GsNodeReplacer& replace) {
  GsBytes out;
  out.reserve(graph.size + 1024);
  size_t nodeIndex = 0;
  GsReader reader(graph);
  GsField f;
  while (reader.next(f)) {
    const bool node = f.number == kGraphNode && f.wireType == 2;
    if (!(node && replace(nodeIndex, f.payload, out))) gsPutRaw(out, f.raw);
    if (node) ++nodeIndex;
  }
  return out;
}

GsBytes gsWithGraph(const GsBytes& model, const GsBytes& graph) {
  GsBytes out;
  out.reserve(model.size() + graph.size());
  bool graphDone = false;
  GsReader reader(gsSliceOf(model));
  GsField f;
  while (reader.next(f)) {
    if (f.number == kModelGraph && f.wireType == 2 && !graphDone) {
      gsPutBytes(out, kModelGraph, graph);
      graphDone = true;
    } else {
      gsPutRaw(out, f.raw);
    }
  }
  return out;
}

void gsImportDomain(GsBytes& model, const std::string& domain, int64_t version) {
  GsReader reader(gsSliceOf(model));
  GsField f;
  while (reader.next(f))
    if (f.number == kModelOpsetImport && f.wireType == 2 && gsFirstStr(f.payload, kOpsetDomain) == domain) return;
  GsBytes opset;
  gsPutBytes(opset, kOpsetDomain, domain);
  gsPutVarintField(opset, kOpsetVersion, uint64_t(version));
  gsPutBytes(model, kModelOpsetImport, opset);
}

}  // namespace le
