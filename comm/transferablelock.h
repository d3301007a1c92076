// A recursive lock owned by a thread, built on events so that its state can
// move from one object to another (a kept connection's lock travels with
// it into the connection store) and so that it can be closed while threads
// wait on it: every waiter then fails instead of waiting for ever.
//
//   lock event   auto-reset, set by a release that leaves waiters
//   close event  manual-reset, signalled once the lock is closed
//   guard        a short spin over the fields
//
// Taking a free lock and releasing one nobody waits for make no kernel
// calls; only waiting does.
#pragma once

#include <atomic>
#include <cstdint>

#include "foundation/owner.h"
#include "foundation/platform.h"

namespace tarvixlib {

class CMyTransferableLock {
public:
  // A lock without events: Acquire fails until Create is called.
  CMyTransferableLock();
  explicit CMyTransferableLock(bool owned);
  // Takes over the other's events, owner and count; the other is left
  // without events.
  CMyTransferableLock(CMyTransferableLock& other);
  virtual ~CMyTransferableLock();
  CMyTransferableLock& operator=(const CMyTransferableLock&) = delete;

  // Closes any previous events and makes new ones; an owned lock belongs to
  // the calling thread with count 1. False when the events cannot be made.
  bool Create(bool owned);
  // Recursive for the owner; otherwise waits without time limit for the lock
  // or for its closing, which fails. A signalled `cancel` (when given) ends
  // the wait as a failure as well.
  virtual bool Acquire(platform::OsHandle cancel = nullptr);
  // Only the owner releases; the last release frees the lock.
  virtual bool Release();
  // Every waiter fails, and so does every later Acquire.
  void CloseLock();

  bool IsOwnedByCaller() const;
  uint32_t Owner() const { return owner_; }
  uint32_t Count() const { return count_; }
  bool IsClosed() const { return !lockEvent_; }

private:
  void Guard() const;
  void Unguard() const;
  void CloseEvents();

  CUniqueOsHandle lockEvent_;
  CUniqueOsHandle closeEvent_;
  uint32_t owner_ = 0;
  uint32_t count_ = 0;
  uint32_t waiters_ = 0;
  mutable std::atomic_flag guard_ = ATOMIC_FLAG_INIT;
};

}  // namespace tarvixlib
