// Delivery of the queued telemetry snapshots.
#pragma once

#include "tel/http_post.h"
#include "tel/store.h"

namespace le::tel {

inline constexpr int kDelivered = 0;             // also: delivery switched off
inline constexpr int kDeliveryUnavailable = -1;  // LE_TEL_URL unset
inline constexpr int kServiceRefused = -3;       // an HTTP status other than 200
static_assert(kNothingDelivered == -2, "le_tel.h documents -2 for a delivery that reached no service");

// Queues a snapshot of store and delivers the queue to the service LE_TEL_URL names; the results
// are those of le_tel_flush.
int flush(Store& store);

}  // namespace le::tel
