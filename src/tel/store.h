// The telemetry store: recorded values, the cached machine description and the snapshots waiting
// for delivery, behind one mutex.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "le/le_tel.h"
#include "tel/machine.h"
#include "tel/snapshot.h"

namespace le::tel {

// Snapshots kept while the collection service cannot be reached: enough for hours of periodic
// flushes, bounded so that a service that never returns cannot grow the host's memory.
inline constexpr size_t kMaxPendingSnapshots = LE_TEL_MAX_PENDING;

class Store {
 public:
  explicit Store(std::string sdkVersion);

  // Sets the value under key; an empty key is ignored.
  void record(std::string_view key, double value);
  void recordText(std::string_view key, std::string_view value);

  // A snapshot built now (writeSnapshot).
  std::string snapshotJson();
  // {"queued":<pending snapshots>,"snapshot":<a snapshot built now>}
  std::string pendingJson();
  // Appends a snapshot built now to the pending queue, drops the oldest beyond
  // kMaxPendingSnapshots, and returns the queue joined with commas, oldest first.
  std::string queueSnapshot();
  // Empties the pending queue, including snapshots queued since queueSnapshot returned.
  void clearPending();

 private:
  // Builds a snapshot; mutex_ is held by the caller.
  std::string snapshotLocked();

  const std::string sdkVersion_;
  std::mutex mutex_;
  std::optional<MachineDescription> machine_;  // guarded by mutex_; filled by the first snapshot
  NumberValues numbers_;                       // guarded by mutex_
  TextValues texts_;                           // guarded by mutex_
  std::deque<std::string> pending_;            // guarded by mutex_; oldest first
};

// The process's store, created on first use and destroyed at exit; its SDK version is this
// library's.
Store& processStore();

// A snapshot of the process's store.
std::string snapshot_json();

}  // namespace le::tel
