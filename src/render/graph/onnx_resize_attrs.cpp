#include "render/graph/onnx_resize_attrs.h"

#include "render/graph/onnx_graph_reader.h"

namespace le {

namespace {

// One AttributeProto with the value fields a Resize node uses.
struct AttrFields {
  GsSlice name;
  float f = 0.f;
  int64_t i = 0;
  std::string s;
  std::vector<int64_t> ints;
};

AttrFields readAttr(GsSlice attribute) {
  AttrFields a;
  GsReader reader(attribute);
  GsField f;
  while (reader.next(f)) {
    if (f.number == kAttrName && f.wireType == 2) a.name = f.payload;
    else if (f.number == kAttrF && f.wireType == 5) a.f = gsFixed32Float(f.payload);
    else if (f.number == kAttrI && f.wireType == 0) a.i = static_cast<int64_t>(f.varint);
    else if (f.number == kAttrS && f.wireType == 2) a.s = f.payload.str();
    else if (f.number == kAttrInts && f.wireType == 0) a.ints.push_back(static_cast<int64_t>(f.varint));
    else if (f.number == kAttrInts && f.wireType == 2) gsDecodePackedVarints(f.payload, a.ints);
  }
  return a;
}

template <class T>
void take(GsAttr<T>& attr, T value) {
  attr.value = std::move(value);
  attr.present = true;
}

}  // namespace

GsResizeAttrs hcReadAttrs(GsSlice node) {
  GsResizeAttrs out;
  GsReader reader(node);
  GsField f;
  while (reader.next(f)) {
    if (f.number != kNodeAttribute || f.wireType != 2) continue;
    AttrFields a = readAttr(f.payload);
    if (a.name.equals("mode")) take(out.mode, std::move(a.s));
    else if (a.name.equals("coordinate_transformation_mode")) take(out.coordinateTransformationMode, std::move(a.s));
    else if (a.name.equals("cubic_coeff_a")) take(out.cubicCoeffA, a.f);
    else if (a.name.equals("exclude_outside")) take(out.excludeOutside, a.i);
    else if (a.name.equals("antialias")) take(out.antialias, a.i);
    else if (a.name.equals("axes")) take(out.axes, std::move(a.ints));
    else if (a.name.equals("keep_aspect_ratio_policy")) take(out.keepAspectRatioPolicy, std::move(a.s));
  }
  return out;
}

}  // namespace le
