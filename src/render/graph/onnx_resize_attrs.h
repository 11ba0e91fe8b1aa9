// The attributes of a Resize node, each with a flag saying whether the node carries it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render/graph/onnx_proto_reader.h"

namespace le {

template <class T>
struct GsAttr {
  T value{};
  bool present = false;
};

struct GsResizeAttrs {
  GsAttr<std::string> mode;
  GsAttr<std::string> coordinateTransformationMode;
  GsAttr<float> cubicCoeffA{-0.75f, false};
  GsAttr<int64_t> excludeOutside;
  GsAttr<int64_t> antialias;
  GsAttr<std::vector<int64_t>> axes;
  GsAttr<std::string> keepAspectRatioPolicy;
};

// Reads the attributes of a Resize node (the NodeProto bytes).
GsResizeAttrs hcReadAttrs(GsSlice node);

}  // namespace le
