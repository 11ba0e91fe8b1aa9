#include "render/ops/custom_op_support.h"

namespace le {

std::string opShapeText(const std::vector<int64_t>& shape) {
  std::string text = "[";
  for (size_t i = 0; i < shape.size(); ++i) text += (i ? "," : "") + std::to_string(shape[i]);
  return text + "]";
}

}  // namespace le
