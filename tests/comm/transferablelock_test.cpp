// The transferable lock: recursion, ownership, closing under waiters and
// moving its state to another object.
#include "comm/transferablelock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "foundation/owner.h"

namespace tarvixlib {
namespace {

// Starts a thread that tries to acquire `lock` and records the outcome.
struct Contender {
  explicit Contender(CMyTransferableLock& lock, platform::OsHandle cancel = nullptr)
      : thread([this, &lock, cancel] {
          bool got = lock.Acquire(cancel);
          result = got ? 1 : -1;
          if (got) lock.Release();
        }) {}
  ~Contender() { thread.join(); }
  // Waits up to ms for an outcome; 0 while still waiting.
  int Outcome(uint32_t ms) {
    for (uint32_t waited = 0; result == 0 && waited < ms; waited += 10) platform::SleepMs(10);
    return result;
  }
  std::atomic<int> result{0};
  std::thread thread;
};

TEST(TransferableLock, RecursionNeedsAsManyReleases) {
  CMyTransferableLock lock(true);
  EXPECT_TRUE(lock.IsOwnedByCaller());
  EXPECT_TRUE(lock.Acquire());
  EXPECT_TRUE(lock.Acquire());
  EXPECT_EQ(lock.Count(), 3u);
  Contender other(lock);
  EXPECT_TRUE(lock.Release());
  EXPECT_TRUE(lock.Release());
  EXPECT_EQ(other.Outcome(150), 0) << "still held once";
  EXPECT_TRUE(lock.Release());
  EXPECT_EQ(other.Outcome(5000), 1);
  EXPECT_FALSE(lock.Release()) << "no longer the owner";
}

// A waiter given a cancel event stops waiting when it is signalled; the
// lock goes on working for the others.
TEST(TransferableLock, ACancelledWaiterGivesUpAndTheLockStaysUsable) {
  CUniqueOsHandle cancel(platform::CreateEventObject(true, false));
  CMyTransferableLock lock(true);
  Contender cancelled(lock, cancel.Get());
  Contender patient(lock);
  EXPECT_EQ(cancelled.Outcome(150), 0) << "waits while the lock is held";
  platform::SetEventObject(cancel.Get());
  EXPECT_EQ(cancelled.Outcome(5000), -1);
  EXPECT_EQ(patient.Outcome(150), 0) << "a cancel is not a release";
  EXPECT_TRUE(lock.Release());
  EXPECT_EQ(patient.Outcome(5000), 1);
  Contender later(lock);
  EXPECT_EQ(later.Outcome(5000), 1) << "the departed waiter left nothing behind";
}

TEST(TransferableLock, OnlyTheOwnerReleases) {
  CMyTransferableLock lock(true);
  std::atomic<bool> released{true};
  std::thread([&] { released = lock.Release(); }).join();
  EXPECT_FALSE(released.load());
  EXPECT_TRUE(lock.IsOwnedByCaller());
  EXPECT_EQ(lock.Count(), 1u);
  EXPECT_TRUE(lock.Release());

  CMyTransferableLock free(false);
  EXPECT_EQ(free.Owner(), 0u);
  Contender taker(free);
  EXPECT_EQ(taker.Outcome(5000), 1);
}

TEST(TransferableLock, ClosingFailsEveryWaiterAndLaterAcquire) {
  CMyTransferableLock lock(true);
  Contender first(lock), second(lock);
  EXPECT_EQ(first.Outcome(100), 0);
  lock.CloseLock();
  EXPECT_EQ(first.Outcome(5000), -1);
  EXPECT_EQ(second.Outcome(5000), -1);
  EXPECT_TRUE(lock.IsClosed());
  EXPECT_FALSE(lock.Acquire());
  EXPECT_FALSE(lock.Release());
  EXPECT_TRUE(lock.Create(false)) << "a closed lock can be made anew";
  EXPECT_TRUE(lock.Acquire());
  EXPECT_TRUE(lock.Release());
}

TEST(TransferableLock, TransferMovesOwnerCountAndWaiters) {
  CMyTransferableLock original(true);
  ASSERT_TRUE(original.Acquire());
  CMyTransferableLock moved(original);
  EXPECT_TRUE(original.IsClosed());
  EXPECT_EQ(original.Owner(), 0u);
  EXPECT_FALSE(original.Acquire()) << "the old object has no events left";
  EXPECT_TRUE(moved.IsOwnedByCaller());
  EXPECT_EQ(moved.Count(), 2u);

  Contender other(moved);
  EXPECT_TRUE(moved.Release());
  EXPECT_EQ(other.Outcome(100), 0);
  EXPECT_TRUE(moved.Release());
  EXPECT_EQ(other.Outcome(5000), 1);
}

}  // namespace
}  // namespace tarvixlib
