// Levels, filters, log lines, forwarding, the memory buffer, mappers and
// pools.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "foundation/myprintf.h"
#include "foundation/platform.h"
#include "logging/mylog.h"

namespace tarvixlib {
namespace {

// Records what reaches Write (the message formatted), and its own end.
class Recorder : public CMyLog {
public:
  explicit Recorder(bool* destroyed = nullptr) : destroyed_(destroyed) {}
  ~Recorder() override {
    Close();
    if (destroyed_) *destroyed_ = true;
  }
  void Write(uint32_t level, const char* format, va_list args) override {
    CMyStringA text;
    FormatToStringV(text, format, args);
    levels.push_back(level);
    texts.push_back(text.GetString());
  }
  std::vector<uint32_t> levels;
  std::vector<std::string> texts;

private:
  bool* destroyed_;
};

const uint32_t kAll[] = {kLogAlert, kLogWarn, kLogInfo, kLogDebug, kLogSys};

// Which of alert, warn, info, dbg, sys pass, as a string of 0/1.
std::string Passing(CMyLog& log) {
  std::string out;
  for (uint32_t level : kAll) out += log.IsSuppressed(level) ? '0' : '1';
  return out;
}

TEST(LogLevels, NamesAreFiveWideAndTheFirstMatchWins) {
  struct {
    uint32_t level;
    const char* name;
  } cases[] = {
      {kLogAlert, "alert"}, {kLogWarn, "warn "},   {kLogInfo, "info "}, {kLogDebug, "dbg  "},
      {kLogSys, "sys  "},   {0, "     "},          {0x00FF, "alert"},   {0x000F0F00, "sys  "},
      {0x0FF000, "sys  "},  {0x00100000, "     "}, {0x1234, "alert"},   {0x0000F100, "info "},
  };
  for (auto& c : cases) EXPECT_STREQ(LogLevelName(c.level), c.name) << std::hex << c.level;
}

TEST(LogFilter, NewLogDropsOnlyDebugAndThresholdsGiveTheirSets) {
  Recorder log;
  EXPECT_EQ(Passing(log), "11101");
  for (uint32_t level : kAll) log.Log(level, "%x", level);
  EXPECT_EQ(log.levels, (std::vector<uint32_t>{kLogAlert, kLogWarn, kLogInfo, kLogSys}));

  struct {
    uint32_t threshold;
    const char* passing;
  } cases[] = {
      {kLogAlert, "10001"}, {kLogWarn, "11001"}, {kLogInfo, "11101"},
      {kLogDebug, "11111"}, {kLogSys, "11101"},  {0x1234, "11101"},  {0, "11101"},
  };
  for (auto& c : cases) {
    log.DisableLevel(kLogSys);  // SetLevel starts from an empty set
    log.SetLevel(c.threshold);
    EXPECT_EQ(Passing(log), c.passing) << std::hex << c.threshold;
  }
}

TEST(LogFilter, ValuesAreComparedExactly) {
  Recorder log;
  log.Log(0x00FF, "mixed");
  EXPECT_EQ(log.texts.size(), 1u) << "0x00FF is not dbg";
  log.DisableLevel(0x00FF);
  log.Log(0x00FF, "mixed");
  log.Log(kLogAlert, "alert");
  EXPECT_EQ(log.texts, (std::vector<std::string>{"mixed", "alert"}));
}

TEST(LogFilter, SetOperationsKeepOrderAndCopy) {
  Recorder a, b;
  a.DisableLevel(kLogWarn);
  a.DisableLevel(kLogWarn);  // once
  a.DisableLevel(0x7);
  for (uint32_t v = 0x100000; v < 0x100000 + 40; ++v) a.DisableLevel(v);  // grows past 16
  ASSERT_EQ(a.SuppressedCount(), 43u);
  a.EnableLevel(kLogWarn);
  EXPECT_EQ(a.SuppressedAt(0), kLogDebug);
  EXPECT_EQ(a.SuppressedAt(1), 0x7u);
  EXPECT_EQ(a.SuppressedAt(2), 0x100000u);
  EXPECT_TRUE(a.IsSuppressed(0x100000 + 39));
  b.DisableLevel(kLogSys);
  a.CopyLevelsTo(b);
  ASSERT_EQ(b.SuppressedCount(), 42u);
  for (size_t i = 0; i < 42; ++i) EXPECT_EQ(b.SuppressedAt(i), a.SuppressedAt(i)) << i;
  EXPECT_FALSE(b.IsSuppressed(kLogSys));
  a.EnableAllLevels();
  EXPECT_EQ(Passing(a), "11111");
  a.Log(kLogDebug, "now");
  EXPECT_EQ(a.texts, std::vector<std::string>{"now"});
}

// The filter reads the set without the lock while another thread grows it
// (a new array, 16 entries at a time) and shrinks it (the rest moved down).
// Whatever it catches meanwhile, a level that stays in the set at its head
// reads as suppressed, one that never enters it passes, and no freed memory
// is read (ASan watches). Each round takes a fresh log so that growing
// happens again.
TEST(LogFilter, UnlockedTestStaysRightWhileTheSetChanges) {
  long wrong = 0, caught = 0;
  uint64_t until = platform::TickCountMs() + 3000;
  for (int round = 0; round < 200 || (caught == 0 && platform::TickCountMs() < until); ++round) {
    auto log = std::make_unique<Recorder>();  // {dbg}, and dbg stays first all along
    std::atomic<bool> started{false}, done{false};
    std::atomic<long> roundWrong{0}, roundCaught{0};
    std::thread reader([&] {
      started = true;
      while (!done) {
        if (!log->IsSuppressed(kLogDebug)) ++roundWrong;
        if (log->IsSuppressed(kLogAlert) || log->IsSuppressed(kLogSys)) ++roundWrong;
        for (uint32_t v = 1; v <= 40; v += 13) roundCaught += log->IsSuppressed(v << 8) ? 1 : 0;
      }
    });
    while (!started) std::this_thread::yield();
    for (int pass = 0; pass < 4; ++pass) {
      for (uint32_t v = 1; v <= 40; ++v) log->DisableLevel(v << 8);
      for (uint32_t v = 1; v <= 40; v += 2) log->EnableLevel(v << 8);
      for (uint32_t v = 2; v <= 40; v += 2) log->EnableLevel(v << 8);
    }
    done = true;
    reader.join();
    wrong += roundWrong;
    caught += roundCaught;
    EXPECT_EQ(log->SuppressedCount(), 1u);
    EXPECT_EQ(log->SuppressedAt(0), kLogDebug);
  }
  EXPECT_EQ(wrong, 0) << "a torn read of the set";
  EXPECT_GT(caught, 0) << "the reader never caught the set while it changed";
}

void FixedClock(CMyLogTime* now) { *now = CMyLogTime{24, 12, 2015, 13, 5, 9}; }

struct PinnedClock {
  PinnedClock() { SetLogClock(FixedClock); }
  ~PinnedClock() { SetLogClock(nullptr); }
};

std::string LineOf(CMyLog& log, uint32_t level, const char* format, ...) {
  std::vector<char> buffer(kLogLineSize + 16, '#');
  va_list args;
  va_start(args, format);
  int n = log.FormatLine(buffer.data(), level, format, args);
  va_end(args);
  EXPECT_EQ(buffer[n], '\0');
  EXPECT_EQ(buffer[kLogLineSize], '#') << "nothing written past the line size";
  return std::string(buffer.data(), n);
}

TEST(LogLine, LayoutIsFixed) {
  PinnedClock pin;
  CMyDummyLog log;
  EXPECT_EQ(LineOf(log, kLogWarn, "Cannot open %s", "file"),
            "[24.12.2015 13:05:09]warn  Cannot open file\r\n");
  EXPECT_EQ(LineOf(log, kLogSys, ""), "[24.12.2015 13:05:09]sys   \r\n");
  EXPECT_EQ(LineOf(log, 0, "%d", 7), "[24.12.2015 13:05:09]      7\r\n");
  std::string line = LineOf(log, kLogAlert, "%s", std::string(10000, 'm').c_str());
  EXPECT_EQ(line.size(), 27u + kLogMessageChars + 2);
  EXPECT_EQ(line.substr(0, 27), "[24.12.2015 13:05:09]alert ");
  EXPECT_EQ(line.substr(line.size() - 3), "m\r\n");
}

TEST(LogLine, SystemClockGivesAPlausibleDate) {
  CMyDummyLog log;
  std::string line = LineOf(log, kLogInfo, "x");
  ASSERT_EQ(line.size(), 30u);
  EXPECT_EQ(line[0], '[');
  EXPECT_EQ(line[3], '.');
  EXPECT_EQ(line[6], '.');
  EXPECT_EQ(line[11], ' ');
  EXPECT_EQ(line[14], ':');
  EXPECT_EQ(line[20], ']');
  int year = std::stoi(line.substr(7, 4));
  EXPECT_GE(year, 2024);
}

TEST(LogForwarding, ThreadSaveLogAppliesBothFilters) {
  Recorder target;
  target.DisableLevel(kLogWarn);
  CMyThreadSaveLogT<> front(&target);
  front.EnableAllLevels();  // the front lets dbg through ...
  front.Log(kLogDebug, "d%d", 1);  // ... the target does not
  front.Log(kLogWarn, "w");        // target drops warn
  front.Log(kLogInfo, "i%s", "!");
  EXPECT_EQ(target.texts, std::vector<std::string>{"i!"});
  front.SetTarget(nullptr);
  front.Log(kLogInfo, "gone");
  EXPECT_EQ(target.texts.size(), 1u);
}

TEST(LogBuffer, KeepsLevelAndMessageUntilCleared) {
  CMyLogBuf buf;
  buf.Log(kLogWarn, "disk %s", "full");
  buf.Log(kLogDebug, "dropped");
  buf.Log(kLogSys, "");
  for (int i = 0; i < 40; ++i) buf.Log(kLogInfo, "%d", i);  // grows past 16
  ASSERT_EQ(buf.Count(), 42u);
  EXPECT_EQ(buf.LevelAt(0), kLogWarn);
  EXPECT_STREQ(buf.TextAt(0), "disk full");
  EXPECT_EQ(buf.LevelAt(1), kLogSys);
  EXPECT_STREQ(buf.TextAt(1), "");
  EXPECT_STREQ(buf.TextAt(41), "39");
  EXPECT_EQ(buf.TextBytes(), 9u + 10 + 30 * 2);
  buf.Clear();
  EXPECT_EQ(buf.Count(), 0u);
  EXPECT_EQ(buf.TextBytes(), 0u);
}

TEST(LogMappers, CapsRaiseLowerLevelsOnly) {
  struct {
    uint32_t cap, in, out;
  } cases[] = {
      {kLogDebug, kLogAlert, kLogDebug}, {kLogDebug, kLogWarn, kLogDebug},
      {kLogDebug, kLogInfo, kLogDebug},  {kLogDebug, kLogDebug, kLogDebug},
      {kLogDebug, kLogSys, kLogSys},     {kLogWarn, kLogAlert, kLogWarn},
      {kLogWarn, kLogInfo, kLogInfo},    {kLogWarn, 0, kLogWarn},
  };
  for (auto& c : cases) EXPECT_EQ(CMyCapLogMapper(c.cap).Map(c.in), c.out) << c.cap << " " << c.in;
  EXPECT_EQ(CMyLogMapper().Map(0x1234), 0x1234u);
  EXPECT_EQ(CMyCapLogMapper::DebugCap().Cap(), kLogDebug);
  EXPECT_EQ(CMyCapLogMapper::WarnCap().Cap(), kLogWarn);
  EXPECT_EQ(&CMyCapLogMapper::DebugCap(), &CMyCapLogMapper::DebugCap());
}

TEST(LogPool, FansOutThroughMappersToOpenTargets) {
  CMyLogPool pool;
  Recorder plain, capped, quiet;
  capped.EnableAllLevels();
  EXPECT_EQ(pool.AddTarget(&plain, false, nullptr), 1u);
  EXPECT_EQ(pool.AddTarget(&capped, false, &CMyCapLogMapper::DebugCap()), 2u);
  EXPECT_EQ(pool.AddTarget(&quiet, false, &CMyCapLogMapper::DebugCap()), 3u);
  EXPECT_EQ(pool.AddTarget(&plain, true, nullptr), 3u) << "already a target";
  EXPECT_EQ(pool.AddTarget(nullptr, false, nullptr), 3u);
  EXPECT_EQ(pool.AddTarget(&pool, false, nullptr), 3u);
  pool.Log(kLogAlert, "a%d", 1);
  pool.Log(kLogSys, "s");
  EXPECT_EQ(plain.levels, (std::vector<uint32_t>{kLogAlert, kLogSys}));
  EXPECT_EQ(capped.levels, (std::vector<uint32_t>{kLogDebug, kLogSys}));
  EXPECT_EQ(capped.texts, (std::vector<std::string>{"a1", "s"}));
  EXPECT_EQ(quiet.levels, std::vector<uint32_t>{kLogSys}) << "its own filter drops dbg";
  EXPECT_TRUE(pool.RemoveTarget(&quiet));
  EXPECT_FALSE(pool.RemoveTarget(&quiet));
  EXPECT_EQ(pool.Count(), 2u);
}

TEST(LogPool, LevelOperationsReachTargetsAndThePool) {
  CMyLogPool pool;
  Recorder a, b;
  pool.AddTarget(&a, false, nullptr);
  pool.AddTarget(&b, false, nullptr);
  EXPECT_EQ(pool.Threshold(), kLogInfo);
  pool.SetLevel(kLogWarn);
  EXPECT_EQ(pool.Threshold(), kLogWarn);
  EXPECT_EQ(Passing(a), "11001");
  EXPECT_EQ(Passing(b), "11001");
  EXPECT_EQ(Passing(pool), "11001");
  pool.DisableLevel(kLogSys);
  EXPECT_EQ(Passing(b), "11000");
  EXPECT_EQ(Passing(pool), "11000");
  pool.EnableLevel(kLogInfo);
  EXPECT_EQ(Passing(a), "11100");
  EXPECT_EQ(Passing(pool), "11100");
}

TEST(LogPool, OwnedTargetsGoWithThePool) {
  bool ownedGone = false, borrowedGone = false;
  Recorder* borrowed = new Recorder(&borrowedGone);
  {
    CMyLogPool pool;
    pool.AddTarget(new Recorder(&ownedGone), true, nullptr);
    pool.AddTarget(borrowed, false, nullptr);
    for (int i = 0; i < 20; ++i) pool.AddTarget(new CMyDummyLog(), true, nullptr);  // grows
    EXPECT_EQ(pool.Count(), 22u);
  }
  EXPECT_TRUE(ownedGone);
  EXPECT_FALSE(borrowedGone);
  delete borrowed;
  EXPECT_TRUE(borrowedGone);
}

TEST(LogPool, ProcessPoolIsOne) {
  CMyLogPool& pool = CMyLogPool::ProcessPool();
  EXPECT_EQ(&pool, &CMyLogPool::ProcessPool());
  CMyLogPool* seen[4] = {};
  std::vector<std::thread> threads;
  for (auto& s : seen) threads.emplace_back([&s] { s = &CMyLogPool::ProcessPool(); });
  for (auto& t : threads) t.join();
  for (auto* s : seen) EXPECT_EQ(s, &pool);
  EXPECT_EQ(pool.Threshold(), kLogInfo);
}

TEST(LogPool, ConcurrentWritersLoseNothing) {
  CMyLogPool pool;
  CMyLogBuf buf;
  pool.AddTarget(&buf, false, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&pool, t] {
      for (int i = 0; i < 500; ++i) pool.Log(kLogInfo, "%d-%d", t, i);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(buf.Count(), 2000u);
}

}  // namespace
}  // namespace tarvixlib
