#include "render/ops/zentrova_domain.h"

#include "render/graph/gridsample_rewrite.h"
#include "render/ops/gridsample_fast_op.h"

namespace le {

void domainOps(Ort::CustomOpDomain& domain) {
  static const GridSampleFastOp* const gridSampleFast = new GridSampleFastOp();
  domain.Add(gridSampleFast);
}

Ort::CustomOpDomain& zentrovaDomain() {
  static Ort::CustomOpDomain* const domain = [] {
    auto* d = new Ort::CustomOpDomain(kZentrovaDomain);
    domainOps(*d);
    return d;
  }();
  return *domain;
}

void registerGridSampleFast(Ort::SessionOptions& options) { options.Add(zentrovaDomain()); }

}  // namespace le
