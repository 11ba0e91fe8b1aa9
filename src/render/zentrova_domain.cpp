#include "render/zentrova_domain.h"

#include "render/gridsample_rewrite.h"
#include "render/gsf_op.h"

namespace le {

void domainOps(Ort::CustomOpDomain& domain) {
  static const GSFOp* const gridSampleFast = new GSFOp();
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
