// A long run of the pipeline driven from several host threads at once: random pushes, ends and
// interrupts, pulls on a 25 fps clock with now and then a buffer too small; plain, with the teeth
// borrow attached on its own thread and inline, and with the motion generator instead of the
// audio-to-expression engine. LE_SOAK_SECONDS sets the length of each (20 s by default). Each run
// prints one line of figures: frames, utterances, interrupts, late pulls and resident memory.
#include <atomic>
#include <fstream>
#include <random>

#include "support/scoped_env.h"
#include "teeth_host.h"
#include "utt_host.h"

namespace le::test {
namespace {

double soakSeconds() {
  const char* v = std::getenv("LE_SOAK_SECONDS");
  return v && std::atof(v) > 0 ? std::atof(v) : 20.0;
}

int64_t residentKiB() {
  std::ifstream in("/proc/self/status");
  std::string key;
  while (in >> key) {
    if (key == "VmRSS:") {
      int64_t kib = 0;
      in >> kib;
      return kib;
    }
  }
  return 0;
}

// Times every host call; the longest one must stay under a second.
struct CallClock {
  template <class F>
  auto operator()(F&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    auto r = f();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double seen = longest.load();
    while (s > seen && !longest.compare_exchange_weak(seen, s)) {
    }
    return r;
  }
  std::atomic<double> longest{0};
};

// Which frame may follow which: idle, speech (frame numbers counting up within an utterance) and
// ramp frames in the order the producer makes them; an interrupt may cut any of them short.
void checkSequence(const le_utt_frame_info& prev, const le_utt_frame_info& next, bool interrupted) {
  if (interrupted) {
    EXPECT_GT(next.seq, prev.seq);
    return;
  }
  EXPECT_EQ(next.seq, prev.seq + 1);
  if (next.kind == 1 && prev.kind == 1 && next.frameNo != 0) EXPECT_EQ(next.frameNo, prev.frameNo + 1);
  if (next.kind == 1 && prev.kind != 1) EXPECT_EQ(next.frameNo, 0);
  if (next.kind == 2) EXPECT_NE(prev.kind, 0) << "a ramp follows speech or a ramp";
}

struct SoakCase {
  const char* name;
  const char* bundle;
  const char* motion;       // the motion directory's fixture: it picks the engine
  const char* teethThread;  // LE_UTT_TEETH_THREAD; null: no borrow
};

// What the puller saw; printed at the end of a run.
struct PullCounts {
  int64_t pulled = 0;
  int64_t kinds[3] = {0, 0, 0};
  int64_t ticks = 0;
  int64_t late = 0;  // clock ticks on which no frame was waiting
};

struct ResidentKiB {
  int64_t start = 0, warm = 0, end = 0;
};

void printFigures(const SoakCase& c, const PullCounts& p, const le_utt_stats& s, int64_t interrupts,
                  const ResidentKiB& rss, double longestCall) {
  std::printf(
      "soak %s: %.0f s, frames pulled %lld (speech %lld, ramp %lld, idle %lld), utterances %lld, interrupts %lld, "
      "late pulls %lld of %lld ticks, resident memory %lld KiB at start, %lld KiB after a quarter, %lld KiB at end, "
      "longest host call %.1f ms\n",
      c.name, soakSeconds(), (long long)p.pulled, (long long)p.kinds[1], (long long)p.kinds[2], (long long)p.kinds[0],
      (long long)s.utterancesStarted, (long long)interrupts, (long long)p.late, (long long)p.ticks,
      (long long)rss.start, (long long)rss.warm, (long long)rss.end, longestCall * 1000);
}

class UttSoak : public testing::TestWithParam<SoakCase> {};

TEST_P(UttSoak, RandomHostTrafficKeepsEveryPromise) {
  const SoakCase& c = GetParam();
  ScopedEnv w2v("W2V_ONNX", (fixture("speech") + "/w2v_8s.onnx").c_str());
  ScopedEnv teethThread("LE_UTT_TEETH_THREAD", c.teethThread);
  CtxPtr ctx = openSession(c.bundle);
  const std::string motionDir = fixture(c.motion);
  le_utt_opts opts = optsFor(motionDir);
  UttPtr utt(le_utt_create(ctx.get(), &opts));
  ASSERT_TRUE(utt) << le_utt_last_error();
  ASSERT_EQ(waitReady(utt.get()), 1) << le_utt_last_error();
  std::string err;
  if (c.teethThread) ASSERT_EQ(attachTeeth(utt.get(), fixture(c.bundle), &err), 0) << err;
  const int64_t rssStart = residentKiB();
  const auto pcm = sentencePcm("fox");
  const size_t bytes = frameBytesOf(ctx.get());
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(soakSeconds());
  std::atomic<bool> done{false};
  std::atomic<int64_t> interrupts{0};
  CallClock clock;
  int64_t rssWarm = 0;

  std::thread pusher([&] {
    std::mt19937 rng(7);
    size_t at = 0;
    while (!done) {
      const int n = int(std::uniform_int_distribution<int>(0, 2000)(rng));
      const int take = int(std::min<size_t>(size_t(n), pcm.size() - at));
      clock([&] { return le_utt_push_audio(utt.get(), pcm.data() + at, take); });
      at = (at + size_t(take)) % pcm.size();
      const int dice = std::uniform_int_distribution<int>(0, 99)(rng);
      if (dice < 3) clock([&] { le_utt_end_utterance(utt.get()); return 0; });
      if (dice == 3) {
        ++interrupts;
        clock([&] { le_utt_interrupt(utt.get()); return 0; });
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(dice < 60 ? 20 : 200));
    }
  });
  std::thread watcher([&] {
    le_utt_stats stats;
    char text[64];
    while (!done) {
      clock([&] { le_utt_get_stats(utt.get(), &stats); return 0; });
      clock([&] { return le_utt_frames_available(utt.get()); });
      clock([&] { return le_utt_render_status(utt.get(), text, sizeof text, nullptr); });
      std::this_thread::sleep_for(std::chrono::milliseconds(7));
    }
  });

  std::mt19937 rng(11);
  std::vector<uint8_t> out(bytes + 16);
  le_utt_frame_info prev{-1, 0, 0, -1}, info;
  int64_t seenInterrupts = 0;
  PullCounts counts;
  const auto warm = std::chrono::steady_clock::now() + (end - std::chrono::steady_clock::now()) / 4;
  auto tick = std::chrono::steady_clock::now();
  while (tick < end) {
    // One pull per 40 ms tick, a few milliseconds late at random, as a host's display clock would.
    std::this_thread::sleep_until(tick + std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 8)(rng)));
    tick = std::max(tick + std::chrono::milliseconds(40), std::chrono::steady_clock::now());
    if (std::uniform_int_distribution<int>(0, 9)(rng) == 0)
      EXPECT_NE(clock([&] { return le_utt_pull_frame(utt.get(), out.data(), bytes - 1, &info); }), 1);
    const int64_t before = interrupts.load();
    ++counts.ticks;
    if (clock([&] { return le_utt_pull_frame(utt.get(), out.data(), bytes + 16, &info); }) != 1) {
      ++counts.late;
      continue;
    }
    if (prev.seq >= 0) checkSequence(prev, info, before != seenInterrupts);
    seenInterrupts = before;
    prev = info;
    ++counts.pulled;
    ++counts.kinds[info.kind];
    if (rssWarm == 0 && std::chrono::steady_clock::now() > warm) rssWarm = residentKiB();
  }
  done = true;
  pusher.join();
  watcher.join();
  EXPECT_GT(counts.kinds[1], 0) << "speech frames";
  // A full-length run sees utterances end and ramp; a short one (under a sanitizer) may not.
  if (soakSeconds() >= 20) EXPECT_GT(counts.kinds[2], 0) << "ramp frames";
  EXPECT_LT(clock.longest.load(), 1.0) << "a host call blocked";
  const int64_t rssEnd = residentKiB();
#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
  // The sanitizers' own shadow and history memory grows with the run; only a plain build can tell.
  EXPECT_LT(rssEnd, rssWarm + rssWarm / 5 + 32 * 1024) << "resident memory grew from " << rssWarm << " KiB";
#endif
  char text[256] = "";
  EXPECT_EQ(le_utt_render_status(utt.get(), text, sizeof text, nullptr), 0) << text;
  int64_t borrowed = 0;
  EXPECT_EQ(le_utt_tessera_stats(utt.get(), &borrowed, nullptr, text, sizeof text), c.teethThread ? 1 : 0) << text;
  if (c.teethThread) EXPECT_GT(borrowed, 0);
  le_utt_stats stats;
  le_utt_get_stats(utt.get(), &stats);
  printFigures(c, counts, stats, interrupts.load(), {rssStart, rssWarm, rssEnd}, clock.longest.load());
}

INSTANTIATE_TEST_SUITE_P(Hosts, UttSoak,
                         testing::Values(SoakCase{"Plain", "test", "test", nullptr},
                                         SoakCase{"TeethThread", "test-crop128", "test-crop128", "1"},
                                         SoakCase{"TeethInline", "test-crop128", "test-crop128", "0"},
                                         SoakCase{"MotionTeethThread", "test-crop128", "motion-test", "1"}),
                         [](const testing::TestParamInfo<SoakCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace le::test
