#include "driver/driver_cursor.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "driver/driver_members.h"

namespace le {
namespace {

// A source's own texts already begin with the component, so the cursor adds only its context
// ("seek failed: ") instead of a second "le_driver: ".
std::string driverFailure(std::string_view context, std::string_view cause) {
  constexpr std::string_view kComponent = "le_driver: ";
  if (cause.starts_with(kComponent)) cause.remove_prefix(kComponent.size());
  std::string text(kComponent);
  text.append(context).append(cause);
  return text;
}

}  // namespace

struct DriverCursor::Impl {
  Impl(std::unique_ptr<driver::Source> src, int lookAheadIn, int historyIn);
  ~Impl();

  void run();
  // Decodes the source's next frame into slot (thread only, state mutex released).
  void decodeInto(uint8_t* slot);
  void fail(std::string message);  // state mutex held
  void seek(int a);                // API mutex held
  void seekToPosition();           // API mutex held
  Taken take(Take kind);           // API mutex held
  void release(int buffer);        // any thread
  // The buffer ring position p is served from, and the one the thread may decode it into: a
  // buffer a lease still holds is set aside for a spare (state mutex held).
  int bufferOf(uint64_t p) const { return slotBuffer[size_t(p % uint64_t(slots))]; }
  uint8_t* writableBuffer(uint64_t p);
  void throwIfFailureReached();      // state mutex held

  const std::unique_ptr<driver::Source> source;
  const int NT;
  const int64_t frameBytes;
  const int lookAhead, history, slots;
  // Frame bytes are not guarded by a mutex. The thread writes only the buffer of ring position
  // produced, which last held position produced - slots: since it decodes only while produced -
  // consumed < lookAhead, that position lies more than history + 1 takes back, outside every
  // frame the consumer may still point at. A buffer a lease holds is swapped out of its slot
  // before the thread would write it. The consumer reads a position only after produced has
  // passed it.
  std::atomic<int64_t> bufferCount;  // buffers.size(), for residentBytes without the mutex

  std::mutex api;  // serialises the public pulls and seeks
  mutable std::mutex mu;  // the state mutex: guards every field below up to `thread`
  std::condition_variable room;   // the thread waits here for space or a seek
  std::condition_variable ready;  // consumers wait here for a decoded frame or a failure
  // Frame buffers: slots of them at first, one more for every leased buffer set aside while no
  // spare one is free. The vector is guarded, the bytes are not (above).
  std::vector<std::unique_ptr<uint8_t[]>> buffers;
  std::vector<int> slotBuffer;    // buffer serving each slot
  std::vector<int> holds;         // leases on each buffer
  std::vector<bool> setAside;     // buffer taken out of its slot while held
  std::vector<int> spare;         // buffers serving no slot and held by no lease
  std::vector<int> slotFrame;     // frame number held by each slot, -1 = none
  uint64_t consumed = 0;          // ring read position
  uint64_t produced = 0;          // ring write position
  uint64_t floor = 0;             // positions below it may not be served again (mutable takes)
  bool decoding = false;          // the thread is filling position produced with mu released
  int nextFrame = 0;              // frame number of the next decoded frame
  int position = 0;               // frame number the next pull returns
  int pendingSeek = -1;           // frame the thread must seek the source to, -1 = none
  uint64_t epoch = 0;             // bumped by every seek the thread must carry out
  bool stop = false;
  std::string failure;            // empty while healthy
  bool failureReached = false;    // a pull or seek has met the failure
  int64_t seeks = 0;

  int sourcePos = 0;  // frames delivered since the last rewind or seek target: thread only
  std::thread thread;
};

DriverCursor::Impl::Impl(std::unique_ptr<driver::Source> src, int lookAheadIn, int historyIn)
    : source(std::move(src)),
      NT(source->NT()),
      frameBytes(source->frameBytes()),
      lookAhead(std::max(lookAheadIn, 1)),
      history(std::max(historyIn, 0)),
      slots(lookAhead + history + 1),
      bufferCount(slots),
      slotBuffer(size_t(slots)),
      holds(size_t(slots), 0),
      setAside(size_t(slots), false),
      slotFrame(size_t(slots), -1) {
  for (int b = 0; b < slots; ++b) {
    buffers.push_back(std::make_unique_for_overwrite<uint8_t[]>(size_t(frameBytes)));
    slotBuffer[size_t(b)] = b;
  }
  thread = std::thread([this] { run(); });
}

DriverCursor::Impl::~Impl() {
  {
    std::lock_guard lk(mu);
    stop = true;
  }
  room.notify_all();
  ready.notify_all();
  thread.join();
}

uint8_t* DriverCursor::Impl::writableBuffer(uint64_t p) {
  int& b = slotBuffer[size_t(p % uint64_t(slots))];
  if (holds[size_t(b)] > 0) {
    setAside[size_t(b)] = true;
    if (spare.empty()) {
      spare.push_back(int(buffers.size()));
      buffers.push_back(std::make_unique_for_overwrite<uint8_t[]>(size_t(frameBytes)));
      holds.push_back(0);
      setAside.push_back(false);
      bufferCount.store(int64_t(buffers.size()), std::memory_order_relaxed);
    }
    b = spare.back();
    spare.pop_back();
  }
  return buffers[size_t(b)].get();
}

void DriverCursor::Impl::release(int buffer) {
  std::lock_guard lk(mu);
  if (--holds[size_t(buffer)] == 0 && setAside[size_t(buffer)]) {
    setAside[size_t(buffer)] = false;
    spare.push_back(buffer);
  }
}

void DriverCursor::Impl::fail(std::string message) {
  if (failure.empty()) failure = std::move(message);
  ready.notify_all();
}

void DriverCursor::Impl::decodeInto(uint8_t* dst) {
  if (sourcePos == NT) {
    source->rewind();
    sourcePos = 0;
  }
  if (!source->next(dst)) {
    throw std::runtime_error(source->name() + " ended after " + std::to_string(sourcePos) +
                             " frames, the manifest says NT=" + std::to_string(NT) +
                             " — a short driver is a session that stops part way through the "
                             "loop, refusing");
  }
  ++sourcePos;
}

void DriverCursor::Impl::run() {
  std::unique_lock lk(mu);
  for (;;) {
    if (stop) return;
    if (pendingSeek >= 0) {
      const int a = pendingSeek;
      nextFrame = a;
      pendingSeek = -1;
      lk.unlock();
      std::string error;
      try {
        source->seek(a);
        sourcePos = a;
      } catch (const std::exception& e) {
        error = e.what();
      } catch (...) {
        error = "unknown exception";
      }
      lk.lock();
      if (!error.empty()) return fail(driverFailure("seek failed: ", error));
      continue;
    }
    if (produced - consumed < uint64_t(lookAhead)) {
      decoding = true;
      const uint64_t ep = epoch;
      const int f = nextFrame;
      const uint64_t pos = produced;
      uint8_t* dst = writableBuffer(pos);
      lk.unlock();
      std::string error;
      try {
        decodeInto(dst);
      } catch (const std::exception& e) {
        error = e.what();
      } catch (...) {
        error = "unknown exception";
      }
      lk.lock();
      decoding = false;
      if (!error.empty()) return fail(driverFailure("", error));
      if (ep == epoch) {
        slotFrame[pos % slots] = f;
        produced = pos + 1;
        nextFrame = (f + 1) % NT;
        ready.notify_all();
      }
      continue;
    }
    room.wait(lk, [this] {
      return stop || pendingSeek >= 0 || produced - consumed < uint64_t(lookAhead);
    });
  }
}

// A failure stays invisible while the ring still holds the frames the consumer asks for, so a
// short or broken member fails exactly at the frame that cannot be delivered, whatever the decode
// timing; from then on every pull and seek throws it.
void DriverCursor::Impl::throwIfFailureReached() {
  if (failureReached) throw std::runtime_error(failure);
}

void DriverCursor::Impl::seek(int a) {
  if (a < 0 || a >= NT) {
    throw std::runtime_error("le_driver: seek(" + std::to_string(a) + ") outside [0," +
                             std::to_string(NT) + ")");
  }
  std::lock_guard lk(mu);
  throwIfFailureReached();
  position = a;
  int upcoming;
  if (consumed < produced) {
    upcoming = slotFrame[consumed % slots];
  } else if (pendingSeek >= 0) {
    upcoming = pendingSeek;
  } else {
    upcoming = nextFrame;
  }
  if (upcoming == a) return;

  if (pendingSeek < 0) {
    const int64_t live = int64_t(produced) + (decoding ? 1 : 0) - slots;
    const int64_t behind = int64_t(consumed) - history - 1;
    const uint64_t lo = uint64_t(std::max({live, int64_t(floor), behind, int64_t(0)}));
    for (uint64_t p = lo; p < produced; ++p) {
      if (slotFrame[p % slots] == a) {
        consumed = p;
        room.notify_one();
        return;
      }
    }
    if (a == nextFrame) {
      consumed = produced;
      room.notify_one();
      return;
    }
  }
  if (!failure.empty()) {
    failureReached = true;
    throw std::runtime_error(failure);
  }
  ++epoch;
  ++seeks;
  consumed = produced;
  pendingSeek = a;
  room.notify_one();
}

void DriverCursor::Impl::seekToPosition() {
  int a;
  {
    std::lock_guard lk(mu);
    a = position;
  }
  seek(a);
}

DriverCursor::Taken DriverCursor::Impl::take(Take kind) {
  std::unique_lock lk(mu);
  throwIfFailureReached();
  ready.wait(lk, [this] { return consumed < produced || !failure.empty(); });
  if (consumed >= produced) {
    failureReached = true;
    throw std::runtime_error(failure);
  }
  const uint64_t r = consumed;
  const int f = slotFrame[r % slots];
  const int b = bufferOf(r);
  if (kind == Take::kMutable && holds[size_t(b)] > 0) {
    throw std::runtime_error("le_driver: frame " + std::to_string(f) +
                             " is held by a lease; a mutable take would write into it");
  }
  consumed = r + 1;
  if (kind == Take::kMutable) floor = r + 1;
  if (kind == Take::kHold) ++holds[size_t(b)];
  room.notify_one();
  position = (f + 1) % NT;
  return {buffers[size_t(b)].get(), f, b};
}

namespace {

std::unique_ptr<driver::Source> requirePlayable(std::unique_ptr<driver::Source> src) {
  if (!src) throw std::runtime_error("le_driver: no frame source to play");
  if (src->NT() < 1) {
    throw std::runtime_error("le_driver: " + src->name() + " holds " + std::to_string(src->NT()) +
                             " frames — nothing to play");
  }
  return src;
}

}  // namespace

DriverCursor::DriverCursor(std::unique_ptr<driver::Source> src, int lookAhead, int history) {
  src = requirePlayable(std::move(src));
  NT_ = src->NT();
  W_ = src->W();
  H_ = src->H();
  frameBytes_ = src->frameBytes();
  name_ = src->name();
  impl_ = std::make_unique<Impl>(std::move(src), lookAhead, history);
}

DriverCursor::~DriverCursor() = default;

std::unique_ptr<DriverCursor> DriverCursor::over(std::unique_ptr<driver::Source> src,
                                                 int lookAhead, int history) {
  return std::make_unique<DriverCursor>(std::move(src), lookAhead, history);
}

std::unique_ptr<DriverCursor> DriverCursor::open(const Manifest& m, int lookAhead, int history) {
  return over(driver::openDriverMember(m, lookAhead, history), lookAhead, history);
}

std::unique_ptr<DriverCursor> DriverCursor::openPrior(const Manifest& m, int lookAhead,
                                                      int history) {
  return over(driver::openPriorMember(m), lookAhead, history);
}

DriverCursor::Taken DriverCursor::take(std::optional<int> target, Take kind) {
  if (target) {
    impl_->seek(*target);
  } else {
    impl_->seekToPosition();
  }
  const Taken taken = impl_->take(kind);
  if (target && taken.si != *target) {
    if (kind == Take::kHold) impl_->release(taken.buffer);
    throw std::runtime_error("le_driver: cursor yielded frame " + std::to_string(taken.si) +
                             " for si=" + std::to_string(*target));
  }
  return taken;
}

int DriverCursor::pull(uint8_t* dst) {
  std::lock_guard lk(impl_->api);
  const Taken t = take(std::nullopt, Take::kRead);
  std::memcpy(dst, t.frame, size_t(frameBytes_));
  return t.si;
}

const uint8_t* DriverCursor::pull(int* si) {
  std::lock_guard lk(impl_->api);
  const Taken t = take(std::nullopt, Take::kRead);
  *si = t.si;
  return t.frame;
}

uint8_t* DriverCursor::pullMut(int* si) {
  std::lock_guard lk(impl_->api);
  const Taken t = take(std::nullopt, Take::kMutable);
  *si = t.si;
  return t.frame;
}

DriverCursor::Lease DriverCursor::lease() {
  std::lock_guard lk(impl_->api);
  return Lease(impl_.get(), take(std::nullopt, Take::kHold));
}

int DriverCursor::pullAt(int i, uint8_t* dst) {
  std::lock_guard lk(impl_->api);
  const Taken t = take(i, Take::kRead);
  std::memcpy(dst, t.frame, size_t(frameBytes_));
  return t.si;
}

const uint8_t* DriverCursor::pullAt(int i, int* si) {
  std::lock_guard lk(impl_->api);
  const Taken t = take(i, Take::kRead);
  *si = t.si;
  return t.frame;
}

uint8_t* DriverCursor::pullMutAt(int i, int* si) {
  std::lock_guard lk(impl_->api);
  const Taken t = take(i, Take::kMutable);
  *si = t.si;
  return t.frame;
}

DriverCursor::Lease DriverCursor::leaseAt(int i) {
  std::lock_guard lk(impl_->api);
  return Lease(impl_.get(), take(i, Take::kHold));
}

DriverCursor::Lease::Lease(Lease&& other) noexcept
    : impl_(std::exchange(other.impl_, nullptr)),
      frame_(std::exchange(other.frame_, nullptr)),
      si_(std::exchange(other.si_, -1)),
      buffer_(std::exchange(other.buffer_, -1)) {}

DriverCursor::Lease& DriverCursor::Lease::operator=(Lease&& other) noexcept {
  if (this != &other) {
    release();
    impl_ = std::exchange(other.impl_, nullptr);
    frame_ = std::exchange(other.frame_, nullptr);
    si_ = std::exchange(other.si_, -1);
    buffer_ = std::exchange(other.buffer_, -1);
  }
  return *this;
}

void DriverCursor::Lease::release() {
  if (!impl_) return;
  impl_->release(buffer_);
  impl_ = nullptr;
  frame_ = nullptr;
  si_ = -1;
  buffer_ = -1;
}

void DriverCursor::seek(int i) {
  std::lock_guard lk(impl_->api);
  impl_->seek(i);
}

int DriverCursor::position() const {
  std::lock_guard lk(impl_->mu);
  return impl_->position;
}

int64_t DriverCursor::seeks() const {
  std::lock_guard lk(impl_->mu);
  return impl_->seeks;
}

int64_t DriverCursor::residentBytes() const {
  return impl_->bufferCount.load(std::memory_order_relaxed) * frameBytes_ + impl_->source->residentBytes();
}

}  // namespace le
