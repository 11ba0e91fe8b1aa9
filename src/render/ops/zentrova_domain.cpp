#include "render/ops/zentrova_domain.h"

#include "render/graph/gridsample_rewrite.h"
#include "render/ops/gridsample_fast_op.h"
#include "render/ops/warp_director_op.h"

namespace le {

namespace {

// Session config entry that marks options the domain was added to: ONNX Runtime offers no way to
// list the domains of an options object, fails session creation with "Domain already set in
// registry" when one is added twice, and stores config entries without interpreting keys it does
// not know.
constexpr const char* kDomainAddedKey = "le.com_zentrova_domain";

void addZentrovaDomain(Ort::SessionOptions& options) {
  if (options.HasConfigEntry(kDomainAddedKey)) return;
  options.Add(zentrovaDomain());
  options.AddConfigEntry(kDomainAddedKey, "1");
}

}  // namespace

void domainOps(Ort::CustomOpDomain& domain) {
  static const GridSampleFastOp* const gridSampleFast = new GridSampleFastOp();
  static const WarpDirectorOp* const warpDirector = new WarpDirectorOp();
  domain.Add(gridSampleFast);
  domain.Add(warpDirector);
}

Ort::CustomOpDomain& zentrovaDomain() {
  static Ort::CustomOpDomain* const domain = [] {
    auto* d = new Ort::CustomOpDomain(kZentrovaDomain);
    domainOps(*d);
    return d;
  }();
  return *domain;
}

void registerGridSampleFast(Ort::SessionOptions& options) { addZentrovaDomain(options); }

void registerWarpDirector(Ort::SessionOptions& options) { addZentrovaDomain(options); }

}  // namespace le
