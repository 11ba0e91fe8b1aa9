#include "tel/store.h"

#include <chrono>
#include <utility>

namespace le::tel {
namespace {

int64_t secondsSinceEpoch() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::seconds>(now).count();
}

}  // namespace

Store::Store(std::string sdkVersion) : sdkVersion_(std::move(sdkVersion)) {}

void Store::record(std::string_view key, double value) {
  if (key.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  numbers_.insert_or_assign(std::string(key), value);
}

void Store::recordText(std::string_view key, std::string_view value) {
  if (key.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  texts_.insert_or_assign(std::string(key), std::string(value));
}

std::string Store::snapshotJson() {
  std::lock_guard<std::mutex> lock(mutex_);
  return snapshotLocked();
}

std::string Store::pendingJson() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out = "{\"queued\":" + std::to_string(pending_.size()) + ",\"snapshot\":";
  out.append(snapshotLocked());
  out.push_back('}');
  return out;
}

std::string Store::queueSnapshot() {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_.push_back(snapshotLocked());
  while (pending_.size() > kMaxPendingSnapshots) pending_.pop_front();
  std::string joined;
  for (const std::string& snapshot : pending_) {
    if (!joined.empty()) joined.push_back(',');
    joined.append(snapshot);
  }
  return joined;
}

void Store::clearPending() {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_.clear();
}

std::string Store::snapshotLocked() {
  if (!machine_) machine_ = describeMachine();
  return writeSnapshot({.ts = secondsSinceEpoch(),
                        .machine = *machine_,
                        .sdkVersion = sdkVersion_,
                        .numbers = numbers_,
                        .texts = texts_});
}

}  // namespace le::tel
