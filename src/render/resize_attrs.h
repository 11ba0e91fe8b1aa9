// The attributes of a Resize node, each with a flag saying whether the node carries it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render/gs_reader.h"

namespace le {

template <class T>
struct HcAttr {
  T value{};
  bool present = false;
};

struct HcResizeAttrs {
  HcAttr<std::string> mode;
  HcAttr<std::string> coordinateTransformationMode;
  HcAttr<float> cubicCoeffA{-0.75f, false};
  HcAttr<int64_t> excludeOutside;
  HcAttr<int64_t> antialias;
  HcAttr<std::vector<int64_t>> axes;
  HcAttr<std::string> keepAspectRatioPolicy;
};

// Reads the attributes of a Resize node (the NodeProto bytes).
HcResizeAttrs hcReadAttrs(GsSlice node);

}  // namespace le
