#include "tel/delivery_target.h"

#include <cstdlib>

namespace le::tel {

DeliveryTarget deliveryTargetFor(const char* setting) {
  if (setting == nullptr) return {DeliveryTarget::Kind::unavailable, {}};
  std::string_view base = setting;
  if (base.empty() || base == "off") return {DeliveryTarget::Kind::switchedOff, {}};
  while (!base.empty() && base.back() == '/') base.remove_suffix(1);
  std::string url(base);
  url.append(kIngestPath);
  return {DeliveryTarget::Kind::service, std::move(url)};
}

DeliveryTarget deliveryTargetFromEnvironment() { return deliveryTargetFor(std::getenv("LE_TEL_URL")); }

}  // namespace le::tel
