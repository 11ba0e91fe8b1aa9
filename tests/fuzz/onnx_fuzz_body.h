// One fuzz input through every reader of the ONNX toolkit and the rewrites built on it. Shared by
// the libFuzzer target, its replay driver and the in-suite mutation loop.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "render/graph/gridsample_rewrite.h"
#include "render/graph/head_resize_rewrite.h"
#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_rebuild.h"
#include "render/graph/onnx_resize_attrs.h"
#include "render/graph/onnx_tensor_reader.h"
#include "render/graph/onnx_topo_check.h"
#include "render/graph/source_cone.h"
#include "render/graph/student_blend_rewrite.h"
#include "render/graph/warp_block.h"

namespace le::fuzz {

inline bool isReaderRefusal(const std::string& text) {
  return text == "onnx: bad varint" || text == "onnx: truncated" || text == "onnx: bad wire type";
}

// The rewrites that move whole sub-graphs: what they produce reads back, and a warp block once
// replaced is not found again.
inline void fuzzStructuralRewrites(const GsBytes& model) {
  GsBytes rewritten = model;
  normaliseStudentBlend(rewritten);
  rewriteHeadCubicResize(rewritten);
  std::string reason;
  WarpBlock block;
  if (rewriteWarpBlockToCustomOp(rewritten, reason) > 0 && findWarpBlock(rewritten, &block, reason) != 0) std::abort();
  gsTopoSelfCheck(rewritten);
  std::string boundary;
  if (findSourceConeBoundary(model, boundary) != 1) return;
  GsBytes prep, perFrame;
  const int64_t dims[4] = {1, 12, 8, 8};
  if (buildSourceConePrep(model, boundary, prep, reason)) gsTopoSelfCheck(prep);
  if (buildSourceConePerFrame(model, boundary, dims, 4, perFrame, reason)) gsTopoSelfCheck(perFrame);
}

// Returns "" when the bytes were read, else the refusal text. Aborts on a broken invariant:
// rebuilding is idempotent, and what a rewrite produces reads back.
inline std::string onnxFuzzOne(const uint8_t* data, size_t size) {
  const GsBytes model(data, data + size);
  try {
    std::vector<GsNodeInfo> nodes;
    std::set<std::string> initializers, inputs;
    gsReadGraph(gsGraphOf(gsSliceOf(model)), nodes, initializers, inputs);
    for (const GsNodeInfo& node : nodes) {
      GsReader reader(node.raw);
      GsField f;
      reader.next(f);
      hcReadAttrs(f.payload);
      gsIsRewritableGridSample(f.payload);
      const GsSlice tensor = gsConstValue(f.payload);
      std::vector<int64_t> dims;
      std::vector<float> values;
      gsTensorDims(tensor, dims);
      gsTensorFloats(tensor, values);
      gsPayload(tensor);
    }
    graphHasBakedGridSampleFast(model);
    gsTopoSelfCheck(model);

    GsBytes once, twice;
    gsRebuild(model, GsGraphEdit{}, once);
    gsRebuild(once, GsGraphEdit{}, twice);
    if (once != twice) std::abort();

    GsGraphEdit edit;
    edit.dropNode.assign(nodes.size(), false);
    for (size_t i = 0; i < nodes.size(); i += 2) edit.dropNode[i] = true;
    edit.dropPrgbInput = true;
    edit.dropAllOutputs = true;
    edit.valueInfoName = nodes.empty() || nodes[0].outputs.empty() ? "y" : nodes[0].outputs[0];
    edit.valueInfoDims = {1, -1, 4};
    edit.valueInfoField = kGraphOutput;
    gsRebuild(model, edit, once);
    nodes.clear();
    gsReadGraph(gsGraphOf(gsSliceOf(once)), nodes, initializers, inputs);

    GsBytes rewritten = model;
    if (rewriteGridSampleToFast(rewritten) > 0) {
      if (!graphHasBakedGridSampleFast(rewritten)) std::abort();
      if (rewriteGridSampleToFast(rewritten) != 0) std::abort();
    }
    fuzzStructuralRewrites(model);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

}  // namespace le::fuzz
