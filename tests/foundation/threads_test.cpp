#include "foundation/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvixlib {
namespace {

using platform::TickCountMs;

// Runs fn on another thread and returns its result.
template <typename F>
auto OnOtherThread(F fn) -> decltype(fn()) {
  decltype(fn()) result{};
  std::thread t([&] { result = fn(); });
  t.join();
  return result;
}

TEST(ThreadSave, ThreeLocksNeedThreeUnlocks) {
  CMyThreadSave lock;
  ASSERT_TRUE(lock.Lock());
  ASSERT_TRUE(lock.Lock());
  ASSERT_TRUE(lock.Lock());
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(lock.Unlock());
    EXPECT_FALSE(OnOtherThread([&] { return lock.Lock(50); })) << "after " << i + 1 << " unlocks";
  }
  ASSERT_TRUE(lock.Unlock());
  EXPECT_TRUE(OnOtherThread([&] {
    bool got = lock.Lock(2000);
    return got && lock.Unlock();
  }));
  EXPECT_FALSE(lock.Unlock()) << "no longer owned";
}

TEST(ThreadSave, UnlockByANonOwnerFailsAndChangesNothing) {
  CMyThreadSave lock;
  ASSERT_TRUE(lock.Lock());
  EXPECT_FALSE(OnOtherThread([&] { return lock.Unlock(); }));
  EXPECT_TRUE(lock.IsHeldByCaller());
  EXPECT_FALSE(OnOtherThread([&] { return lock.Lock(50); }));
  EXPECT_TRUE(lock.Unlock());
}

TEST(ThreadSave, TimedOutWaitLeavesNoOwnershipAndInactiveLockIsANoOp) {
  CMyThreadSave lock;
  ASSERT_TRUE(lock.Lock());
  uint64_t t0 = TickCountMs();
  EXPECT_FALSE(OnOtherThread([&] { return lock.Lock(100); }));
  EXPECT_GE(TickCountMs() - t0, 90u);
  EXPECT_TRUE(lock.IsHeldByCaller());
  EXPECT_TRUE(lock.Unlock());

  CMyThreadSave inactive(false);
  EXPECT_TRUE(inactive.Lock());
  EXPECT_TRUE(OnOtherThread([&] { return inactive.Lock(0); }));
  EXPECT_TRUE(inactive.Unlock());
}

TEST(ThreadSave, ExcludesOtherThreads) {
  CMyThreadSave lock;
  long counter = 0;  // deliberately not atomic
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        CMySynchronizedBlock<CMyThreadSave> hold(lock);
        CMySynchronizedBlock<CMyThreadSave> nested(&lock);  // recursion inside
        ++counter;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 20000);
}

// A lock makes the event its waiters sleep on when it is first contended;
// threads that all arrive at once on a fresh lock must agree on one.
TEST(ThreadSave, FreshLocksContendedAtOnceStillExclude) {
  for (int round = 0; round < 40; ++round) {
    CMyThreadSave lock;
    long counter = 0;  // deliberately not atomic
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([&] {
        ++ready;
        while (ready.load() < 4) {
        }
        for (int i = 0; i < 100; ++i) {
          CMySynchronizedBlock<CMyThreadSave> hold(lock);
          long seen = counter;
          std::this_thread::yield();  // invites the others to contend
          counter = seen + 1;
        }
      });
    for (auto& t : threads) t.join();
    ASSERT_EQ(counter, 400) << "round " << round;
  }
}

TEST(SynchronizedBlock, HoldsTheLockForItsScope) {
  CMyThreadSave lock;
  {
    CMySynchronizedBlock<CMyThreadSave> hold(lock);
    EXPECT_TRUE(hold.IsLocked());
    EXPECT_FALSE(OnOtherThread([&] { return lock.Lock(50); }));
  }
  EXPECT_TRUE(OnOtherThread([&] { return lock.Lock(50) && lock.Unlock(); }));
  CMySynchronizedBlock<CMyThreadSave> none(static_cast<CMyThreadSave*>(nullptr));
  EXPECT_FALSE(none.IsLocked());
}

// ---- Work threads ----

// Where threads cannot be killed, a thread past its stop time-out is
// abandoned: its body runs on, and its object must stay whole until it ends.
#ifdef _WIN32
constexpr bool kBodiesAreAbandoned = false;
#else
constexpr bool kBodiesAreAbandoned = true;
#endif

std::atomic<bool> g_release{false};
std::atomic<int> g_ignorersRunning{0};
std::atomic<int> g_ignorersFinished{0};

// A body that ignores its stop event and touches only these globals.
void IgnoreStopUntilReleased() {
  ++g_ignorersRunning;
  uint64_t until = TickCountMs() + 30000;
  while (!g_release && TickCountMs() < until) platform::SleepMs(5);
  ++g_ignorersFinished;
  --g_ignorersRunning;
}

class IgnoringThread : public CWorkThread {
public:
  explicit IgnoringThread(uint32_t timeout) : CWorkThread(timeout) {}
  ~IgnoringThread() override { Stop(); }
  unsigned Run() override {
    IgnoreStopUntilReleased();
    return 0;
  }
};

class ThreadsFixture : public ::testing::Test {
protected:
  void SetUp() override {
    g_release = false;
    g_ignorersFinished = 0;
  }
  // Lets abandoned bodies end (where they were not terminated) before the
  // next test.
  void TearDown() override {
    g_release = true;
    if (!kBodiesAreAbandoned) {
      g_ignorersRunning = 0;  // terminated bodies never count themselves out
      return;
    }
    uint64_t until = TickCountMs() + 5000;
    while (g_ignorersRunning > 0 && TickCountMs() < until) platform::SleepMs(5);
  }
};

class CooperativeThread : public CWorkThread {
public:
  CooperativeThread(std::atomic<int>* runs, uint32_t options = 0, std::atomic<bool>* deleted = nullptr)
      : CWorkThread(5000, 0, options), runs_(runs), deleted_(deleted) {}
  ~CooperativeThread() override {
    Stop();
    if (deleted_) *deleted_ = true;
  }
  unsigned Run() override {
    ++*runs_;
    if (Options() & (kDetached | kSelfDeleting)) return 0;  // ends by itself
    WaitForStop(platform::kInfinite);
    return 0;
  }

private:
  std::atomic<int>* runs_;
  std::atomic<bool>* deleted_;
};

bool WaitUntil(const std::function<bool()>& done, uint32_t ms = 5000) {
  uint64_t until = TickCountMs() + ms;
  while (!done()) {
    if (TickCountMs() > until) return false;
    platform::SleepMs(2);
  }
  return true;
}

TEST_F(ThreadsFixture, CooperativeThreadStopsAndRestarts) {
  std::atomic<int> runs{0};
  CooperativeThread t(&runs);
  ASSERT_TRUE(t.Start());
  ASSERT_TRUE(WaitUntil([&] { return runs == 1; }));
  EXPECT_TRUE(t.IsRunning());
  EXPECT_NE(t.ThreadId(), 0u);
  uint64_t t0 = TickCountMs();
  t.Stop();
  EXPECT_LT(TickCountMs() - t0, 2000u);
  EXPECT_FALSE(t.IsRunning());
  EXPECT_EQ(t.ThreadId(), 0u);
  EXPECT_TRUE(t.StopRequested());

  ASSERT_TRUE(t.Start()) << "an idle thread object starts again";
  EXPECT_FALSE(t.StopRequested()) << "Start resets the stop event";
  ASSERT_TRUE(WaitUntil([&] { return runs == 2; }));
  ASSERT_TRUE(t.Start()) << "Start of a running thread stops it first";
  ASSERT_TRUE(WaitUntil([&] { return runs == 3; }));
}

TEST_F(ThreadsFixture, StopEndsABodyThatIgnoresTheStopEventAfterItsTimeOut) {
  auto* t = new IgnoringThread(300);
  ASSERT_TRUE(t->Start());
  ASSERT_TRUE(WaitUntil([] { return g_ignorersRunning == 1; }));
  uint64_t t0 = TickCountMs();
  t->Stop();
  uint64_t elapsed = TickCountMs() - t0;
  EXPECT_GE(elapsed, 250u);
  EXPECT_LT(elapsed, 3000u);
  EXPECT_FALSE(t->IsRunning());
  EXPECT_EQ(t->ThreadId(), 0u);
  g_release = true;
  if (kBodiesAreAbandoned) {
    // Stop did not wait for it: released now, it runs to its end.
    EXPECT_TRUE(WaitUntil([] { return g_ignorersFinished == 1; }));
  } else {
    platform::SleepMs(100);
    EXPECT_EQ(g_ignorersFinished, 0) << "the thread was terminated, not released";
  }
  delete t;
}

// Ignores its stop event while it polls it, and uses its own members until
// it is released.
class StubbornThread : public CWorkThread {
public:
  StubbornThread(std::atomic<bool>* destroyed, std::atomic<bool>* sawStop)
      : CWorkThread(100), destroyed_(destroyed), sawStop_(sawStop), note_(200, 'n') {}
  ~StubbornThread() override {
    Stop();
    *destroyed_ = true;
  }
  unsigned Run() override {
    ++g_ignorersRunning;
    uint64_t until = TickCountMs() + 30000;
    bool stopSeen = false;
    while (!g_release && TickCountMs() < until) {
      stopSeen = StopRequested() || stopSeen;  // the stop event, through the object
      platform::SleepMs(2);
    }
    *sawStop_ = stopSeen && StopRequested() && note_.size() == 200 && note_.back() == 'n';
    ++g_ignorersFinished;
    --g_ignorersRunning;
    return 0;
  }

private:
  std::atomic<bool>* destroyed_;
  std::atomic<bool>* sawStop_;
  std::string note_;  // freed with the object: ASan sees a body that outlives it
};

TEST_F(ThreadsFixture, DeletingAnAbandonedThreadWaitsForItsBodyWithoutBlocking) {
  std::atomic<bool> destroyed{false}, sawStop{false};
  auto* t = new StubbornThread(&destroyed, &sawStop);
  ASSERT_TRUE(t->Start());
  ASSERT_TRUE(WaitUntil([] { return g_ignorersRunning == 1; }));
  uint64_t t0 = TickCountMs();
  delete t;  // stops first: 100 ms, then terminated or abandoned
  EXPECT_LT(TickCountMs() - t0, 3000u);
  if (!kBodiesAreAbandoned) {
    EXPECT_TRUE(destroyed) << "terminated: nothing runs in the object any more";
    return;
  }
  EXPECT_FALSE(destroyed) << "the abandoned body still runs in its object";
  platform::SleepMs(50);
  EXPECT_FALSE(destroyed);
  g_release = true;
  ASSERT_TRUE(WaitUntil([&] { return destroyed.load(); })) << "the body's end destroys it";
  EXPECT_TRUE(sawStop) << "the body saw its stop event and its members intact to the end";
}

// Ignores its stop event while it polls it; touches nothing of a subclass,
// whose members are gone before the base destructor runs.
std::atomic<bool> g_pollerSawStop{false};

class PollingThread : public CWorkThread {
public:
  PollingThread() : CWorkThread(100) {}
  ~PollingThread() override { Stop(); }
  unsigned Run() override {
    ++g_ignorersRunning;
    uint64_t until = TickCountMs() + 30000;
    while (!g_release && TickCountMs() < until) {
      StopRequested();
      platform::SleepMs(2);
    }
    g_pollerSawStop = StopRequested();
    ++g_ignorersFinished;
    --g_ignorersRunning;
    return 0;
  }
};

TEST_F(ThreadsFixture, ALocalThreadObjectWaitsForItsAbandonedBody) {
  g_pollerSawStop = false;
  std::thread releaser;
  {
    PollingThread local;
    ASSERT_TRUE(local.Start());
    ASSERT_TRUE(WaitUntil([] { return g_ignorersRunning == 1; }));
    releaser = std::thread([] {
      platform::SleepMs(300);
      g_release = true;
    });
  }  // Stop: 100 ms, then terminated or abandoned; the storage goes after that
  EXPECT_EQ(g_ignorersFinished.load(), kBodiesAreAbandoned ? 1 : 0)
      << "an abandoned body ends before its object's storage goes";
  releaser.join();
  EXPECT_EQ(g_pollerSawStop.load(), kBodiesAreAbandoned);
}

TEST_F(ThreadsFixture, DetachedAndSelfDeletingThreadsReturnToIdleOnTheirOwn) {
  std::atomic<int> runs{0};
  CooperativeThread detached(&runs, CWorkThread::kDetached);
  ASSERT_TRUE(detached.Start());
  ASSERT_TRUE(WaitUntil([&] { return runs == 1 && detached.ThreadId() == 0; }));
  EXPECT_FALSE(detached.IsRunning());
  ASSERT_TRUE(detached.Start());
  ASSERT_TRUE(WaitUntil([&] { return runs == 2 && detached.ThreadId() == 0; }));

  std::atomic<bool> deleted{false};
  auto* self = new CooperativeThread(&runs, CWorkThread::kSelfDeleting, &deleted);
  ASSERT_TRUE(self->Start());
  EXPECT_TRUE(WaitUntil([&] { return deleted.load(); })) << "deletes its own object";
  EXPECT_EQ(runs, 3);
}

TEST_F(ThreadsFixture, ListRefusesSelfDeletingThreadsAndReapsFinishedOnes) {
  std::atomic<int> runs{0};
  std::atomic<bool> deleted{false};
  CMyWorkThreadList list;
  EXPECT_FALSE(list.Add(new CooperativeThread(&runs, CWorkThread::kSelfDeleting, &deleted), true));
  EXPECT_TRUE(deleted) << "deleted on request";
  EXPECT_EQ(runs, 0) << "never started";

  ASSERT_TRUE(list.Add(new CooperativeThread(&runs), true));
  auto* finishing = new CooperativeThread(&runs);
  ASSERT_TRUE(list.Add(finishing, true));
  ASSERT_TRUE(WaitUntil([&] { return runs == 2; }));
  EXPECT_EQ(list.Reap(), 0u);
  finishing->RequestStop();
  ASSERT_TRUE(WaitUntil([&] { return !finishing->IsRunning(); }));
  EXPECT_EQ(list.Reap(), 1u);
  EXPECT_EQ(list.Count(), 1u);
  EXPECT_EQ(list.StopAll(true), 1u);
  EXPECT_EQ(list.Count(), 0u);
}

// When each thread object of a list was destroyed, in order.
struct Ended {
  uint32_t timeout;
  uint64_t at;
};
std::mutex g_endedLock;
std::vector<Ended> g_ended;

// Ignores its stop event and notes when its object is destroyed. Where it
// is abandoned rather than terminated it returns as soon as its object has
// let go of it, so the destruction still shows when that happened.
class DeadlineThread : public CWorkThread {
public:
  explicit DeadlineThread(uint32_t timeout) : CWorkThread(timeout) {}
  ~DeadlineThread() override {
    Stop();
    std::lock_guard<std::mutex> hold(g_endedLock);
    g_ended.push_back({StopTimeout(), TickCountMs()});
  }
  unsigned Run() override {
    ++g_ignorersRunning;
    uint64_t until = TickCountMs() + 30000;
    // (A terminated body must not die holding the object's lock.)
    while (!g_release && TickCountMs() < until && !(kBodiesAreAbandoned && ThreadId() == 0))
      platform::SleepMs(5);
    --g_ignorersRunning;
    return 0;
  }
};

TEST_F(ThreadsFixture, StopAllEndsTheShortestTimeOutFirstAllFromOneStart) {
  {
    std::lock_guard<std::mutex> hold(g_endedLock);
    g_ended.clear();
  }
  CMyWorkThreadList list;
  ASSERT_TRUE(list.Add(new DeadlineThread(5000), true));
  ASSERT_TRUE(list.Add(new DeadlineThread(1000), true));
  ASSERT_TRUE(WaitUntil([] { return g_ignorersRunning == 2; }));
  uint64_t t0 = TickCountMs();
  EXPECT_EQ(list.StopAll(true), 2u);
  uint64_t elapsed = TickCountMs() - t0;
  EXPECT_GE(elapsed, 4500u);
  EXPECT_LT(elapsed, 5900u) << "not one time-out after the other";
  EXPECT_EQ(list.Count(), 0u);
  ASSERT_TRUE(WaitUntil([] {
    std::lock_guard<std::mutex> hold(g_endedLock);
    return g_ended.size() == 2;
  }));
  std::lock_guard<std::mutex> hold(g_endedLock);
  EXPECT_EQ(g_ended[0].timeout, 1000u) << "the short time-out is dealt with first";
  EXPECT_GE(g_ended[0].at - t0, 900u);
  EXPECT_LT(g_ended[0].at - t0, 3000u) << "ended at its own time-out, not after the long one";
  EXPECT_EQ(g_ended[1].timeout, 5000u);
  EXPECT_GE(g_ended[1].at - t0, 4500u);
}

TEST_F(ThreadsFixture, StopAllWithoutWaitingEndsEverythingAtOnce) {
  std::atomic<int> runs{0};
  CMyWorkThreadList list;
  ASSERT_TRUE(list.Add(new IgnoringThread(5000), true));
  ASSERT_TRUE(list.Add(new CooperativeThread(&runs), true));
  ASSERT_TRUE(WaitUntil([&] { return g_ignorersRunning == 1 && runs == 1; }));
  uint64_t t0 = TickCountMs();
  EXPECT_EQ(list.StopAll(false), 2u);
  EXPECT_LT(TickCountMs() - t0, 2000u);
}

}  // namespace
}  // namespace tarvixlib
