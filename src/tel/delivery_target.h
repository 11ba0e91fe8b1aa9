// Where telemetry batches go, as the environment variable LE_TEL_URL says.
#pragma once

#include <string>
#include <string_view>

namespace le::tel {

// The collection service's path for a batch, after the base URL.
inline constexpr std::string_view kIngestPath = "/v1/telemetry/ingest";

struct DeliveryTarget {
  enum class Kind {
    unavailable,  // LE_TEL_URL unset: no service was configured
    switchedOff,  // LE_TEL_URL "" or "off": the host turned delivery off on purpose
    service,      // anything else: the base URL of the service
  };
  Kind kind = Kind::unavailable;
  std::string ingestUrl;  // the base URL without trailing slashes, then kIngestPath; service only
};

// The target a value of LE_TEL_URL names; NULL stands for an unset variable.
DeliveryTarget deliveryTargetFor(const char* setting);

// Reads LE_TEL_URL now, so a host may change it between flushes.
DeliveryTarget deliveryTargetFromEnvironment();

}  // namespace le::tel
