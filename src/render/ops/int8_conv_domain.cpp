#include "render/ops/int8_conv_domain.h"

#include "render/ops/int8_conv_op.h"

namespace le {

namespace {

constexpr const char* kInt8Domain = "com.zentrova.int8";

Ort::CustomOpDomain& int8Domain() {
  static Ort::CustomOpDomain* const domain = [] {
    static const Int8ConvOp* const op = new Int8ConvOp();
    auto* d = new Ort::CustomOpDomain(kInt8Domain);
    d->Add(op);
    return d;
  }();
  return *domain;
}

}  // namespace

void registerInt8ConvVNNI(Ort::SessionOptions& options) { options.Add(int8Domain()); }

}  // namespace le
