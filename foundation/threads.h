// Locks and worker threads.
//
// CMyThreadSave is a recursive lock owned by a thread; CMySynchronizedBlock
// holds one for a scope. CWorkThread is a thread object with a stop event and
// a stop time-out after which the thread is ended by force (Windows:
// TerminateThread; where threads cannot be killed the thread is abandoned and
// runs on to its end, but Stop still returns after the time-out).
// CMyWorkThreadList owns started threads and stops them together.
//
// An abandoned body may go on using its object and its stop event, so
// neither is freed while it runs: deleting the object (with delete, as
// CMyWorkThreadList does) then only marks it, and the body's end destroys
// it. A thread object that is not deleted that way (a local, a member)
// waits in its base destructor for such a body to return; the subclass's
// members are gone by then, so a body that may be abandoned in such an
// object uses only what the base holds (the stop event, the thread fields).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>

#include "foundation/platform.h"
#include "foundation/ptrlist.h"

namespace tarvixlib {

// Recursive lock owned by a thread. Taking a free lock and releasing one
// nobody waits for stay in user space (a short spin guards the fields);
// only a thread that has to wait touches the auto-reset event, which an
// Unlock sets whenever waiters are left. A woken waiter that finds the lock
// taken again waits on, within its time-out.
class CMyThreadSave {
public:
  static constexpr uint32_t kUseDefault = 0xFFFFFFFFu;  // Lock: the default time-out

  // An inactive lock has no event; Lock and Unlock then succeed doing nothing.
  explicit CMyThreadSave(bool active = true);
  virtual ~CMyThreadSave();
  CMyThreadSave(const CMyThreadSave&) = delete;
  CMyThreadSave& operator=(const CMyThreadSave&) = delete;

  // False on time-out or failure, without ownership. kUseDefault waits the
  // default time-out (infinite unless changed).
  virtual bool Lock(uint32_t timeoutMs = kUseDefault);
  // False, changing nothing, when the caller does not own the lock.
  virtual bool Unlock();

  bool IsHeldByCaller() const { return owner_.load() == platform::CurrentThreadId(); }
  void SetDefaultTimeout(uint32_t ms) { defaultTimeout_ = ms; }

private:
  void Guard();
  void Unguard() { guard_.clear(std::memory_order_release); }
  // The event a waiter sleeps on, created when a thread first has to wait:
  // most locks are never contended and never need one. Null when it cannot
  // be created.
  platform::OsHandle WakeEvent();

  bool active_;
  std::atomic<platform::OsHandle> event_{nullptr};
  std::atomic<uint32_t> owner_{0};
  uint32_t count_ = 0;  // touched only by the owner
  uint32_t defaultTimeout_ = platform::kInfinite;
  uint32_t waiters_ = 0;  // under guard_
  std::atomic_flag guard_ = ATOMIC_FLAG_INIT;
};

// Holds a lock for the lifetime of the object. A null lock is allowed (no
// locking); a failed Lock is not followed by an Unlock.
template <typename L>
class CMySynchronizedBlockT {
public:
  explicit CMySynchronizedBlockT(L* lock) : lock_(lock), locked_(lock && lock->Lock()) {}
  virtual ~CMySynchronizedBlockT() {
    if (locked_) lock_->Unlock();
  }
  CMySynchronizedBlockT(const CMySynchronizedBlockT&) = delete;
  CMySynchronizedBlockT& operator=(const CMySynchronizedBlockT&) = delete;
  bool IsLocked() const { return locked_; }

private:
  L* lock_;
  bool locked_;
};

template <typename L>
class CMySynchronizedBlock : public CMySynchronizedBlockT<L> {
public:
  explicit CMySynchronizedBlock(L* lock) : CMySynchronizedBlockT<L>(lock) {}
  explicit CMySynchronizedBlock(L& lock) : CMySynchronizedBlockT<L>(&lock) {}
};

// A thread object. Subclasses supply Run and must call Stop in their own
// destructor (the base destructor runs after the subclass is gone).
//
//   class CPoller : public CWorkThread {
//     unsigned Run() override { while (!WaitForStop(1000)) Poll(); return 0; }
//     ~CPoller() override { Stop(); }
//   };
class CWorkThread {
public:
  enum : uint32_t {
    kDetached = 1,      // the thread closes its own handle when Run returns
    kSelfDeleting = 2,  // ... and then deletes its object
    kRetryCreate = 4,   // a failed creation is retried every 100 ms until it succeeds
  };

  explicit CWorkThread(uint32_t stopTimeoutMs = 5000, int priority = 0, uint32_t options = 0,
                       size_t stackSize = 0);

  // The thread body; its result is the thread's exit code.
  virtual unsigned Run() = 0;
  // Calls Stop, waits for bodies abandoned meanwhile (see the top of this
  // file), then closes the stop event.
  virtual ~CWorkThread();
  // delete stops the thread first; when its body had to be abandoned the
  // object stays whole (not destroyed, not freed) until that body returns,
  // and the body's end destroys it.
  void operator delete(CWorkThread* thread, std::destroying_delete_t) noexcept;
  // The allocation that pairs with it (the global one), and the release of
  // the storage when a constructor throws.
  static void* operator new(size_t size);
  static void* operator new(size_t size, const std::nothrow_t&) noexcept;
  static void operator delete(void* storage) noexcept;
  static void operator delete(void* storage, const std::nothrow_t&) noexcept;
  // Stops a running thread of this object first, resets the stop event and
  // creates the thread. False when creation failed (without kRetryCreate).
  virtual bool Start();
  // Sets the stop event and waits up to the stop time-out; a thread that has
  // not ended by then is terminated.
  virtual void Stop();

  // Ends the thread by force (exit code 0) and forgets it.
  void Terminate();

  // For the body: whether the stop event is set, or a wait on it.
  bool StopRequested() const { return platform::WaitForOne(stopEvent_, 0); }
  bool WaitForStop(uint32_t ms) const { return platform::WaitForOne(stopEvent_, ms); }
  platform::OsHandle StopEvent() const { return stopEvent_; }
  // Sets the stop event without waiting.
  void RequestStop() { platform::SetEventObject(stopEvent_); }

  // True while a thread of this object exists and its body has not returned.
  bool IsRunning() const;
  // Waits up to ms for the body to return; true when no thread runs (then).
  bool WaitForEnd(uint32_t ms) const;
  uint32_t ThreadId() const;
  uint32_t StopTimeout() const { return stopTimeout_; }
  // An owner about to destroy the thread may shorten (or lengthen) its wait.
  void SetStopTimeout(uint32_t ms) { stopTimeout_ = ms; }
  uint32_t Options() const { return options_; }

private:
  struct Link;
  static void Entry(void* arg);
  // A duplicate of the thread handle and a reference to its link, both
  // released by the caller (CloseOsHandle, ReleaseLink); null when idle.
  platform::OsHandle HandleCopy(Link** link) const;
  static void ReleaseLink(Link* link);
  // Clears, closes and forgets the thread if `link` still is this object's
  // thread; returns whether it was.
  bool Forget(Link* link);
  // An abandoned body that may still touch the object holds it (Pin) until
  // it returns (Unpin, which destroys an object deleted meanwhile).
  void Pin();
  void Unpin();
  static void Destroy(CWorkThread* thread) noexcept;

  platform::OsHandle stopEvent_;
  mutable std::mutex state_;       // guards the fields up to deletePending_
  platform::OsHandle thread_ = nullptr;
  uint32_t threadId_ = 0;
  Link* link_ = nullptr;           // shared with the running thread
  uint32_t abandoned_ = 0;         // abandoned bodies still running in this object
  bool deletePending_ = false;     // deleted while abandoned_ > 0
  uint32_t stopTimeout_;
  int priority_;
  size_t stackSize_;
  uint32_t options_;
};

// Owns started threads; stops them together.
class CMyWorkThreadList {
public:
  CMyWorkThreadList();
  virtual ~CMyWorkThreadList();  // stops (with waiting) and deletes what is left

  // Starts the thread and appends it. A self-deleting thread is never added.
  // On failure the thread is deleted when deleteOnFailure is set.
  bool Add(CWorkThread* thread, bool deleteOnFailure);
  // Removes and deletes every thread that is not running; returns how many.
  size_t Reap();
  // Signals every thread, then (wait: each given its own stop time-out from
  // one common start, shortest first) terminates what still runs, removes and
  // deletes all. Returns the number removed.
  size_t StopAll(bool wait);
  size_t Count() const { return threads_.Count(); }

private:
  CMyPtrListT<CWorkThread> threads_;
};

}  // namespace tarvixlib
