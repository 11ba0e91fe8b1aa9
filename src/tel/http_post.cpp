#include "tel/http_post.h"

#include <curl/curl.h>

#include <memory>

#include "core/log.h"

namespace le::tel {
namespace {

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct HeaderListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

// libcurl's global state, set up once by the first delivery. curl_easy_init would set it up
// itself, but without protection against two threads doing so at once; a function-local static
// is initialised exactly once. It is never torn down: the host may use libcurl itself, and a
// flush may still run on another thread while the process exits.
bool curlReady() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

// Drops the service's answer; without a write function libcurl would print it to standard output.
size_t dropAnswer(char*, size_t size, size_t count, void*) { return size * count; }

// Appends a header line; a list that could not grow is released and the result is NULL.
HeaderList withHeader(HeaderList list, const char* header) {
  curl_slist* grown = curl_slist_append(list.get(), header);
  if (grown == nullptr) return nullptr;
  list.release();
  return HeaderList(grown);
}

// The headers of every batch. An empty "Expect:" keeps libcurl from asking for a 100-continue
// before larger bodies, a round trip (or a one-second wait) many services never answer.
HeaderList batchHeaders() { return withHeader(withHeader(nullptr, "Content-Type: application/json"), "Expect:"); }

void setBatchOptions(CURL* easy, const std::string& url, const std::string& body, curl_slist* headers,
                     char* errorText) {
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, kPostTimeoutMs);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, kPostTimeoutMs);
  // Timeouts by signal would reach the host's threads; without them name resolution cannot be
  // interrupted, which libcurl's threaded resolver makes harmless.
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &dropAnswer);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
}

}  // namespace

long postJson(const std::string& url, const std::string& body) {
  if (!curlReady()) {
    logLine("[le] telemetry: libcurl could not be initialised; nothing delivered");
    return kNothingDelivered;
  }
  const EasyHandle easy(curl_easy_init());
  HeaderList headers = batchHeaders();
  if (!easy || !headers) {
    logLine("[le] telemetry: out of memory for a delivery; nothing delivered");
    return kNothingDelivered;
  }
  char errorText[CURL_ERROR_SIZE] = "";
  setBatchOptions(easy.get(), url, body, headers.get(), errorText);
  const CURLcode result = curl_easy_perform(easy.get());
  if (result != CURLE_OK) {
    logPrintf("[le] telemetry: POST %s failed: %s", url.c_str(), errorText[0] ? errorText : curl_easy_strerror(result));
    return kNothingDelivered;
  }
  long status = 0;
  curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
  return status;
}

}  // namespace le::tel
