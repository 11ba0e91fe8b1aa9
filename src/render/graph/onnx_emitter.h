// Emitters for the ONNX messages the load-time rewrites add: attributes, nodes, initializers and
// tensor value infos, each appended to a byte vector already wrapped as the field of its parent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "render/graph/onnx_proto_writer.h"

namespace le {

// One AttributeProto wrapped as NodeProto field 5: an INT, an INTS (unpacked) or a STRING.
void gsAttrI(GsBytes& out, const std::string& name, int64_t v);
void gsAttrIs(GsBytes& out, const std::string& name, const int64_t* values, size_t count);
void gsAttrS(GsBytes& out, const std::string& name, const std::string& value);

// One NodeProto wrapped as GraphProto field 1: inputs, the output, the name, op_type, the attribute
// bytes (from the gsAttr* emitters), then the domain when it is not empty.
void gsNode(GsBytes& out, const std::string& opType, const std::vector<std::string>& inputs,
            const std::string& output, const std::string& name, const GsBytes& attributes,
            const std::string& domain = {});

// One TensorProto wrapped as GraphProto field 5: dims (unpacked), data_type, name, raw_data.
void gsInit(GsBytes& out, const std::string& name, int32_t dataType, const std::vector<int64_t>& dims,
            const void* data, size_t bytes);

// One ValueInfoProto of a FLOAT tensor wrapped as GraphProto field n (11 input, 12 output, 13
// value_info). Dimension i is a dim_value when positive, else the dim_param "le_hoist_d" + i.
void gsPutTensorValueInfo(GsBytes& out, uint32_t n, const std::string& name, const int64_t* dims, size_t count);

}  // namespace le
