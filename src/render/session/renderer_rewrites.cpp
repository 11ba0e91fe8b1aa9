#include "render/session/renderer_rewrites.h"

#include <cstdlib>

#include "core/log.h"
#include "render/graph/gridsample_rewrite.h"
#include "render/graph/head_resize_rewrite.h"
#include "render/graph/student_blend_rewrite.h"
#include "render/graph/warp_block.h"

namespace le {

size_t applyWarpNode(GsBytes& bytes, bool domainRegistered) {
  const char* wanted = std::getenv("LE_WARP_NODE");
  if (!wanted || wanted[0] == '\0' || wanted[0] == '0') return 0;
  std::string reason;
  size_t removed = 0;
  if (!domainRegistered)
    reason = "LE_GS_FAST=0 leaves the com.zentrova domain unregistered, so no kernel would serve the node";
  else
    removed = rewriteWarpBlockToCustomOp(bytes, reason);
  if (removed > 0)
    le::logPrintf("[le] director warp -> com.zentrova::WarpDirector (%zu nodes removed, the source cone with them)\n",
                  removed);
  else
    le::logPrintf("[le] director warp NOT moved to one node (%s) \xe2\x80\x94 the graph loads exactly as it did before\n",
                  reason.empty() ? "no reason given" : reason.c_str());
  return removed;
}

RewriteCounts applyRewrites(GsBytes& bytes, bool gridSample) {
  RewriteCounts counts;
  if (gridSample) counts.gridSample = rewriteGridSampleToFast(bytes);
  counts.studentBlend = normaliseStudentBlend(bytes);
  counts.headResize = rewriteHeadCubicResize(bytes);
  return counts;
}

void logRewrites(const RewriteCounts& counts, const std::string& modelKey) {
  const char* key = modelKey.c_str();
  if (counts.gridSample)
    le::logPrintf("[le] std GridSample -> com.zentrova::GridSampleFast load-time rewrite: %zu node(s) (%s)\n",
                  counts.gridSample, key);
  if (counts.studentBlend)
    le::logPrintf("[le] L3 student blend MatMul -> Gemm load-time normalisation: %zu node(s) (%s) \xe2\x80\x94 a "
                  "pre-2026-09-11 student; as MatMul this graph aborts Apple's MPSGraph compiler on every CoreML "
                  "unit that includes the GPU\n",
                  counts.studentBlend, key);
  if (counts.headResize)
    le::logPrintf("[le] head cubic x2 -> Pad(edge,2)+Conv5x5(dw)+DepthToSpace(2,CRD) load-time rewrite: %zu node(s) "
                  "(%s) \xe2\x80\x94 the same filter to fp32 round-off; ORT's cubic Resize kernel is the pole on every "
                  "CPU-class EP and no CoreML/NNAPI EP can claim it\n",
                  counts.headResize, key);
}

}  // namespace le
