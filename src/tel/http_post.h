// The delivery transport of telemetry batches: one HTTP POST through libcurl.
#pragma once

#include <string>

namespace le::tel {

// Result of a POST that delivered nothing: no connection, no complete answer in time, a URL
// libcurl refuses.
inline constexpr long kNothingDelivered = -2;

// Both the connection and the whole exchange end after this long, so that a collection service
// that is down or stuck holds the flushing thread for at most about this time.
inline constexpr long kPostTimeoutMs = 2000;

// POSTs body to url (http or https only) with the content type application/json and returns the
// HTTP status of the answer, or kNothingDelivered after logging why. The answer's body is read
// and dropped.
long postJson(const std::string& url, const std::string& body);

}  // namespace le::tel
