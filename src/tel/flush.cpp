#include "tel/flush.h"

#include "core/log.h"
#include "tel/delivery_target.h"

namespace le::tel {

int flush(Store& store) {
  const DeliveryTarget target = deliveryTargetFromEnvironment();
  if (target.kind == DeliveryTarget::Kind::unavailable) return kDeliveryUnavailable;
  if (target.kind == DeliveryTarget::Kind::switchedOff) return kDelivered;
  const std::string body = "{\"batch\":[" + store.queueSnapshot() + "]}";
  // The store's mutex is free here: recording goes on during a slow delivery.
  const long status = postJson(target.ingestUrl, body);
  if (status == 200) {
    store.clearPending();
    return kDelivered;
  }
  if (status < 0) return static_cast<int>(status);
  logPrintf("[le] telemetry: %s answered HTTP %ld; the batch stays queued", target.ingestUrl.c_str(), status);
  return kServiceRefused;
}

}  // namespace le::tel
