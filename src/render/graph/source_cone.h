// The director's source cone: the sub-graph that derives the sampled planes from the source face
// P_rgb alone. It depends on nothing that changes per frame, so it can be cut out into a prep graph
// run once per source frame, with the per-frame graph taking its output (the boundary) as an input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "render/graph/onnx_graph_index.h"
#include "render/graph/onnx_proto_writer.h"

namespace le {

struct GsSourceCone {
  // One flag per graph node: the node belongs to the cone.
  std::vector<bool> member;
  // Every tensor the cone's nodes produce.
  std::set<std::string> produced;
  size_t size = 0;
};

// Who else may read what the cone reads: a hoist needs P_rgb to stay inside the cone, a warp node
// keeps P_rgb as its own input, and its sampler is the one reader of the boundary.
enum class GsConeUse { Hoist, WarpNode };

// The cone below `boundary`: producers walked back to P_rgb, initializers and Constant nodes (which
// stay out of the cone). False with a reason when a leaf is another graph input or has no producer,
// or when a node outside the cone reads P_rgb (hoist only) or a cone value other than the boundary.
bool gsSourceCone(const GsGraphIndex& graph, const std::string& boundary, GsConeUse use, GsSourceCone& cone,
                  std::string& reason);

// The initializers the nodes left standing still read.
std::set<std::string> gsInitializersReadBy(const GsGraphIndex& graph, const std::vector<bool>& dropped);

// The number of Concat nodes that read P_rgb; boundaryName is set to the output of the one when
// there is exactly one.
size_t findSourceConeBoundary(const GsBytes& model, std::string& boundaryName);

// The prep graph: the cone and every Constant node, P_rgb as the only input and the boundary as
// the only output, its four dimensions symbolic. False with a reason when there is no such cone.
bool buildSourceConePrep(const GsBytes& model, const std::string& boundary, GsBytes& prepBytes,
                         std::string& reason);

// The per-frame graph: the cone and P_rgb gone, the boundary a graph input of the given static
// dimensions (dimCount must be 4). False with a reason when there is no such cone.
bool buildSourceConePerFrame(const GsBytes& model, const std::string& boundary, const int64_t* dims, size_t dimCount,
                             GsBytes& perFrameBytes, std::string& reason);

}  // namespace le
