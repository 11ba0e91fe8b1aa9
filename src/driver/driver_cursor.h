// Plays a frame source through a ring of decoded frames filled by its own decode-ahead thread:
// the consumer takes frame i at memory speed while the frames after it are decoded in the
// background. Playback loops (frame 0 follows frame NT-1), a few already-taken frames stay
// resident for going back, and any other jump is a seek the thread carries out.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "driver/source.h"

namespace le {

struct Manifest;

class DriverCursor {
 public:
  // lookAhead is raised to at least 1 and history to at least 0; the ring holds
  // lookAhead + history + 1 frames. The thread starts decoding frame 0 at once.
  // Throws std::runtime_error for a source of fewer than one frame.
  DriverCursor(std::unique_ptr<driver::Source> src, int lookAhead, int history);
  // Stops and joins the decode-ahead thread.
  ~DriverCursor();
  DriverCursor(const DriverCursor&) = delete;
  DriverCursor& operator=(const DriverCursor&) = delete;

  static std::unique_ptr<DriverCursor> over(std::unique_ptr<driver::Source> src, int lookAhead,
                                            int history);
  // The cursor over the bundle's driver video, or over its played warp prior; the member choice
  // and its log lines are in driver_members.h. Throw std::runtime_error when the member is
  // missing or does not match the manifest.
  static std::unique_ptr<DriverCursor> open(const Manifest& m, int lookAhead, int history);
  static std::unique_ptr<DriverCursor> openPrior(const Manifest& m, int lookAhead, int history);

  class Lease;

  // Each pull takes the frame at the current position and returns its frame number. The pointer
  // forms copy nothing: the frame stays valid at least until history + 1 further takes. A mutable
  // take may be written into; that ring position is never served again (a frame a lease holds is
  // refused). A lease holds its frame in the ring until the lease ends, however many takes and
  // seeks follow. The At forms seek first and throw unless the frame taken is frame i.
  // A failure of the source is stored once and thrown by the pull that needs a frame the thread
  // could not deliver, and by every pull or seek after it.
  int pull(uint8_t* dst);
  const uint8_t* pull(int* si);
  uint8_t* pullMut(int* si);
  Lease lease();
  int pullAt(int i, uint8_t* dst);
  const uint8_t* pullAt(int i, int* si);
  uint8_t* pullMutAt(int i, int* si);
  Lease leaseAt(int i);

  // Makes frame i the position: served from the ring when it is resident, else the thread seeks
  // the source. Throws for i outside [0, NT).
  void seek(int i);

  // Frame number the next pull returns.
  int position() const;
  // Seeks the thread has carried out on the source.
  int64_t seeks() const;
  // Ring bytes (frames held by leases past their ring slot included) plus the memory the source
  // holds for decoding.
  int64_t residentBytes() const;

  int NT() const { return NT_; }
  int W() const { return W_; }
  int H() const { return H_; }
  int64_t frameBytes() const { return frameBytes_; }
  // The source's description, e.g. "jpg/turbo".
  const std::string& name() const { return name_; }

 private:
  struct Impl;
  enum class Take { kRead, kMutable, kHold };
  struct Taken {
    uint8_t* frame;
    int si;
    int buffer;  // the ring buffer holding the frame
  };
  // Seeks to target (the current position when none), then takes one frame (API mutex held).
  Taken take(std::optional<int> target, Take kind);

  std::unique_ptr<Impl> impl_;
  int NT_, W_, H_;
  int64_t frameBytes_;
  std::string name_;
};

// A frame taken from the ring and kept there: the decode-ahead thread does not write its buffer
// until the lease ends (it decodes into another buffer meanwhile), so the frame is read in place
// instead of being copied out. Ends on destruction or release(); must end before its cursor is
// destroyed. May end on any thread.
class DriverCursor::Lease {
 public:
  Lease() = default;
  ~Lease() { release(); }
  Lease(Lease&& other) noexcept;
  Lease& operator=(Lease&& other) noexcept;
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;

  // frameBytes bytes of the frame, or null for an empty lease.
  const uint8_t* data() const { return frame_; }
  // The frame number, -1 for an empty lease.
  int frame() const { return si_; }
  explicit operator bool() const { return frame_ != nullptr; }
  void release();

 private:
  friend class DriverCursor;
  Lease(Impl* impl, const Taken& taken) : impl_(impl), frame_(taken.frame), si_(taken.si), buffer_(taken.buffer) {}

  Impl* impl_ = nullptr;
  const uint8_t* frame_ = nullptr;
  int si_ = -1;
  int buffer_ = -1;
};

}  // namespace le
