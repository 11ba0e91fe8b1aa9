#include "driver/driver_cursor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <ostream>
#include <random>
#include <thread>
#include <vector>

#include "fake_source.h"
#include "test_media.h"
#include "test_util.h"

namespace le {
namespace {

using test::errorOf;
using test::FakeSource;

struct Made {
  FakeSource* source;  // owned by the cursor
  std::unique_ptr<DriverCursor> cursor;
};

Made make(FakeSource::Options o, int lookAhead = 2, int history = 3) {
  auto src = std::make_unique<FakeSource>(o);
  FakeSource* raw = src.get();
  return {raw, DriverCursor::over(std::move(src), lookAhead, history)};
}

// Every byte of a delivered frame carries its frame number.
bool holdsFrame(const uint8_t* p, int64_t n, int frame) {
  for (int64_t k = 0; k < n; ++k) {
    if (p[k] != uint8_t(frame)) return false;
  }
  return true;
}

TEST(DriverCursor, ClampsLookAheadAndHistory) {
  Made m = make({}, 0, -3);
  EXPECT_EQ(m.cursor->residentBytes(), 2 * m.cursor->frameBytes());  // 1 + 0 + 1 slots
  int si = -1;
  m.cursor->pull(&si);
  EXPECT_EQ(si, 0);
}

TEST(DriverCursor, LoopsToFrameZeroAfterTheLastFrame) {
  Made m = make({.NT = 5});
  std::vector<uint8_t> frame(size_t(m.cursor->frameBytes()));
  std::vector<int> got;
  for (int k = 0; k < 5 + 1; ++k) {
    got.push_back(m.cursor->pull(frame.data()));
    EXPECT_TRUE(holdsFrame(frame.data(), m.cursor->frameBytes(), got.back()));
  }
  EXPECT_EQ(got, (std::vector<int>{0, 1, 2, 3, 4, 0}));
  EXPECT_EQ(m.cursor->position(), 1);
  EXPECT_EQ(m.cursor->seeks(), 0);
  EXPECT_GE(m.source->rewinds.load(), 1);
}

TEST(DriverCursor, PullAtTheCurrentPositionCostsNoSeek) {
  Made m = make({});
  int si = -1;
  m.cursor->pull(&si);
  m.cursor->pullAt(1, &si);
  m.cursor->pullAt(2, &si);
  EXPECT_EQ(si, 2);
  EXPECT_EQ(m.cursor->seeks(), 0);
}

TEST(DriverCursor, BackwardWithinHistoryIsServedFromTheRing) {
  Made m = make({}, 2, 3);
  int si = -1;
  const uint8_t* f0 = m.cursor->pull(&si);
  m.cursor->pull(&si);
  m.cursor->pull(&si);
  const uint8_t* again = m.cursor->pullAt(0, &si);
  EXPECT_EQ(si, 0);
  EXPECT_EQ(again, f0);  // the same slot, not a new decode
  EXPECT_EQ(m.cursor->seeks(), 0);
  EXPECT_EQ(m.source->sourceSeeks.load(), 0);
  EXPECT_EQ(m.cursor->position(), 1);
}

TEST(DriverCursor, MutableTakeIsNeverServedAgain) {
  Made m = make({}, 2, 3);
  int si = -1;
  uint8_t* f = m.cursor->pullMut(&si);
  ASSERT_EQ(si, 0);
  std::memset(f, 0xEE, size_t(m.cursor->frameBytes()));
  const uint8_t* again = m.cursor->pullAt(0, &si);
  EXPECT_EQ(si, 0);
  EXPECT_TRUE(holdsFrame(again, m.cursor->frameBytes(), 0));
  EXPECT_EQ(m.cursor->seeks(), 1);
}

// A lease outlives any number of takes: the thread decodes into another buffer instead of its
// own, and the buffer set aside serves again once the lease ends.
TEST(DriverCursor, LeaseHoldsItsFrameWhileTheRingMovesOn) {
  Made m = make({.NT = 30}, 2, 1);
  const int64_t ring = m.cursor->residentBytes();
  DriverCursor::Lease held = m.cursor->leaseAt(3);
  ASSERT_TRUE(held);
  EXPECT_EQ(held.frame(), 3);
  const uint8_t* frame = held.data();
  int si = -1;
  for (int k = 0; k < 20; ++k) {
    const uint8_t* f = m.cursor->pull(&si);
    ASSERT_TRUE(holdsFrame(f, m.cursor->frameBytes(), si)) << "frame " << si;
  }
  EXPECT_TRUE(holdsFrame(frame, m.cursor->frameBytes(), 3));
  EXPECT_EQ(m.cursor->residentBytes(), ring + m.cursor->frameBytes());

  DriverCursor::Lease moved = std::move(held);
  EXPECT_FALSE(held);
  EXPECT_EQ(moved.data(), frame);
  moved.release();
  EXPECT_FALSE(moved);
  EXPECT_EQ(moved.frame(), -1);
  {
    const DriverCursor::Lease scoped = m.cursor->lease();
    for (int k = 0; k < 20; ++k) m.cursor->pull(&si);
    EXPECT_TRUE(holdsFrame(scoped.data(), m.cursor->frameBytes(), scoped.frame()));
  }
  for (int k = 0; k < 20; ++k) m.cursor->pull(&si);
  EXPECT_EQ(m.cursor->residentBytes(), ring + m.cursor->frameBytes());  // one buffer set aside, reused
  EXPECT_EQ(m.cursor->seeks(), 1);
}

// Leases serve in place, count as takes like the pointer pulls, and refuse what would change
// their frame.
TEST(DriverCursor, LeaseIsATakeThatAMutableTakeMayNotWriteInto) {
  Made m = make({}, 2, 3);
  int si = -1;
  const uint8_t* f0 = m.cursor->pull(&si);
  DriverCursor::Lease again = m.cursor->leaseAt(0);
  EXPECT_EQ(again.data(), f0);
  EXPECT_EQ(m.cursor->position(), 1);
  EXPECT_EQ(errorOf([&] { m.cursor->pullMutAt(0, &si); }),
            "le_driver: frame 0 is held by a lease; a mutable take would write into it");
  again = DriverCursor::Lease();
  EXPECT_EQ(m.cursor->pullMutAt(0, &si), f0);
  EXPECT_EQ(m.cursor->seeks(), 0);
}

TEST(DriverCursor, JumpOutsideTheRingSeeksTheSourceOnce) {
  Made m = make({.NT = 40}, 2, 3);
  std::vector<uint8_t> frame(size_t(m.cursor->frameBytes()));
  EXPECT_EQ(m.cursor->pullAt(30, frame.data()), 30);
  EXPECT_TRUE(holdsFrame(frame.data(), m.cursor->frameBytes(), 30));
  EXPECT_EQ(m.cursor->pull(frame.data()), 31);
  EXPECT_EQ(m.cursor->seeks(), 1);
  EXPECT_EQ(m.source->sourceSeeks.load(), 1);
}

TEST(DriverCursor, TakenFrameStaysIntactForHistoryFurtherTakes) {
  constexpr int kHistory = 4;
  Made m = make({.NT = 50}, 3, kHistory);
  for (int start = 0; start < 40; ++start) {
    int si = -1;
    const uint8_t* kept = m.cursor->pull(&si);
    ASSERT_EQ(si, start);
    for (int k = 0; k < kHistory; ++k) {
      int other;
      m.cursor->pull(&other);
    }
    ASSERT_TRUE(holdsFrame(kept, m.cursor->frameBytes(), start)) << "frame " << start;
    m.cursor->seek(start + 1);
  }
}

TEST(DriverCursor, OutOfRangeSeekThrowsAndChangesNothing) {
  Made m = make({.NT = 6});
  int si = -1;
  m.cursor->pull(&si);
  EXPECT_EQ(errorOf([&] { m.cursor->seek(6); }), "le_driver: seek(6) outside [0,6)");
  EXPECT_EQ(errorOf([&] { m.cursor->pullAt(-1, &si); }), "le_driver: seek(-1) outside [0,6)");
  EXPECT_EQ(m.cursor->position(), 1);
  EXPECT_EQ(m.cursor->pull(&si) != nullptr, true);
  EXPECT_EQ(si, 1);
}

// The thread reaches the end of a short member long before the consumer does; the frames it did
// decode are still served, and the failure surfaces at the missing frame.
TEST(DriverCursor, ShortMemberFailsExactlyAtItsMissingFrame) {
  Made m = make({.NT = 5, .holds = 4}, 8, 2);
  m.source->waitEnded();
  std::vector<uint8_t> frame(size_t(m.cursor->frameBytes()));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(m.cursor->pull(frame.data()), i);
  const std::string expected =
      "le_driver: fake ended after 4 frames, the manifest says NT=5 — a short driver is a session "
      "that stops part way through the loop, refusing";
  EXPECT_EQ(errorOf([&] { m.cursor->pull(frame.data()); }), expected);
  EXPECT_EQ(errorOf([&] { m.cursor->pull(frame.data()); }), expected);
  EXPECT_EQ(errorOf([&] { m.cursor->pullAt(3, frame.data()); }), expected);  // though resident
  EXPECT_EQ(errorOf([&] { m.cursor->seek(0); }), expected);
}

struct FailureCase {
  const char* label;
  FakeSource::Options options;
  int jumpTo;  // -1: play forward
  int goodPulls;
  const char* message;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.label; }

class DriverCursorFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(DriverCursorFailure, IsStoredAndRethrownByEveryLaterCall) {
  const FailureCase& c = GetParam();
  Made m = make(c.options, 2, 2);
  std::vector<uint8_t> frame(size_t(m.cursor->frameBytes()));
  for (int i = 0; i < c.goodPulls; ++i) EXPECT_EQ(m.cursor->pull(frame.data()), i);
  const auto next = [&] {
    if (c.jumpTo >= 0) {
      m.cursor->pullAt(c.jumpTo, frame.data());
    } else {
      m.cursor->pull(frame.data());
    }
  };
  EXPECT_EQ(errorOf(next), c.message);
  EXPECT_EQ(errorOf([&] { m.cursor->pull(frame.data()); }), c.message);
  EXPECT_EQ(errorOf([&] { m.cursor->seek(0); }), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DriverCursorFailure,
    ::testing::Values(
        FailureCase{"decode", {.NT = 6, .throwAt = 2}, -1, 2, "le_driver: boom at 2"},
        FailureCase{"seek", {.NT = 40, .seekThrows = true}, 30, 1,
                    "le_driver: seek failed: no seeking here"},
        FailureCase{"firstFrame", {.NT = 3, .throwAt = 0}, -1, 0, "le_driver: boom at 0"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(DriverCursor, RefusesASourceWithoutFrames) {
  EXPECT_EQ(errorOf([] { make({.NT = 0}); }), "le_driver: fake holds 0 frames — nothing to play");
}

// What a concurrency round plays: a source factory and the bytes each frame must hold.
struct Played {
  const char* label;
  std::function<std::unique_ptr<driver::Source>()> open;
  std::function<bool(const uint8_t*, int64_t, int)> holds;
};

void PrintTo(const Played& p, std::ostream* os) { *os << p.label; }

class DriverCursorThreads : public ::testing::TestWithParam<Played> {};

// Pulls, seeks, mutable takes and observers race the decode-ahead thread, and cursors are
// destroyed while it is in the middle of a decode or a seek.
TEST_P(DriverCursorThreads, PullSeekAndDestroyWhileDecoding) {
  const Played& played = GetParam();
  std::mt19937 rng(1234);
  for (int round = 0; round < 24; ++round) {
    auto cursor = DriverCursor::over(played.open(), 1 + round % 3, round % 4);
    const int NT = cursor->NT();
    const int64_t n = cursor->frameBytes();
    std::atomic<bool> done{false};
    std::thread observer([&] {
      while (!done.load()) {
        (void)cursor->position();
        (void)cursor->seeks();
        (void)cursor->residentBytes();
      }
    });
    const int steps = int(rng() % 40);
    std::vector<DriverCursor::Lease> held;
    for (int k = 0; k < steps; ++k) {
      int si = -1;
      switch (rng() % 6) {
        case 0: {
          const uint8_t* f = cursor->pull(&si);
          ASSERT_TRUE(played.holds(f, n, si)) << "frame " << si;
          break;
        }
        case 1: {
          const int want = int(rng() % NT);
          const uint8_t* f = cursor->pullAt(want, &si);
          ASSERT_EQ(si, want);
          ASSERT_TRUE(played.holds(f, n, want)) << "frame " << want;
          break;
        }
        case 2:
          // A mutable take of a held frame is refused (tested above); skip the frames held.
          if (std::none_of(held.begin(), held.end(), [&](const auto& l) { return l.frame() == cursor->position(); }))
            cursor->pullMut(&si)[0] ^= 0xFF;
          break;
        case 3:
          held.push_back(cursor->leaseAt(int(rng() % NT)));
          break;
        case 4:
          if (!held.empty()) held.erase(held.begin());
          break;
        default:
          cursor->seek(int(rng() % NT));
      }
    }
    for (const DriverCursor::Lease& lease : held) {
      ASSERT_TRUE(played.holds(lease.data(), n, lease.frame())) << "held frame " << lease.frame();
    }
    // Half the leases end on another thread while the decode-ahead thread runs on.
    std::thread([&] { held.resize(held.size() / 2); }).join();
    if (round % 2) cursor->seek(int(rng() % NT));  // leave a seek pending at destruction
    done = true;
    observer.join();
  }
}

const std::vector<std::vector<uint8_t>>& movieFrames() {
  static const auto frames = [] {
    auto src = driver::openMp4(test::driverMedia().h264(), test::DriverMedia::kNT,
                               test::DriverMedia::kW, test::DriverMedia::kH);
    std::vector<std::vector<uint8_t>> all;
    std::vector<uint8_t> buf(size_t(src->frameBytes()));
    while (src->next(buf.data())) all.push_back(buf);
    return all;
  }();
  return frames;
}

INSTANTIATE_TEST_SUITE_P(
    Sources, DriverCursorThreads,
    ::testing::Values(
        Played{"memory",
               [] { return std::make_unique<FakeSource>(FakeSource::Options{23, 32, 8}); },
               holdsFrame},
        Played{"h264",
               [] {
                 movieFrames();
                 return driver::openMp4(test::driverMedia().h264(), test::DriverMedia::kNT,
                                        test::DriverMedia::kW, test::DriverMedia::kH);
               },
               [](const uint8_t* f, int64_t n, int si) {
                 return std::memcmp(f, movieFrames()[size_t(si)].data(), size_t(n)) == 0;
               }}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace le
