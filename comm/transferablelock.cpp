#include "comm/transferablelock.h"

#include <thread>

namespace tarvixlib {

using namespace platform;

CMyTransferableLock::CMyTransferableLock() = default;

CMyTransferableLock::CMyTransferableLock(bool owned) : CMyTransferableLock() { Create(owned); }

CMyTransferableLock::CMyTransferableLock(CMyTransferableLock& other) : CMyTransferableLock() {
  Guard();
  other.Guard();
  lockEvent_ = std::move(other.lockEvent_);
  closeEvent_ = std::move(other.closeEvent_);
  owner_ = other.owner_;
  count_ = other.count_;
  waiters_ = other.waiters_;
  other.owner_ = other.count_ = other.waiters_ = 0;
  other.Unguard();
  Unguard();
}

CMyTransferableLock::~CMyTransferableLock() {
  if (IsOwnedByCaller()) {
    count_ = 1;
    Release();
  }
  CloseEvents();
}

void CMyTransferableLock::Guard() const {
  // The guarded sections are short; only the contended paths make kernel
  // calls inside them.
  for (unsigned spins = 0; guard_.test_and_set(std::memory_order_acquire); ++spins)
    if (spins > 64) std::this_thread::yield();
}

void CMyTransferableLock::Unguard() const { guard_.clear(std::memory_order_release); }

void CMyTransferableLock::CloseEvents() {
  lockEvent_.Reset();
  closeEvent_.Reset();
}

bool CMyTransferableLock::Create(bool owned) {
  Guard();
  CloseEvents();
  lockEvent_.Reset(CreateEventObject(false, false));
  closeEvent_.Reset(CreateEventObject(true, false));
  bool ok = lockEvent_ && closeEvent_;
  if (!ok) CloseEvents();
  owner_ = ok && owned ? CurrentThreadId() : 0;
  count_ = ok && owned ? 1 : 0;
  waiters_ = 0;
  Unguard();
  return ok;
}

bool CMyTransferableLock::IsOwnedByCaller() const { return owner_ != 0 && owner_ == CurrentThreadId(); }

bool CMyTransferableLock::Acquire(OsHandle cancel) {
  uint32_t me = CurrentThreadId();
  Guard();
  if (!lockEvent_) {  // closed, or never created
    Unguard();
    return false;
  }
  if (owner_ == me || owner_ == 0) {
    if (owner_ == me) {
      ++count_;
    } else {
      owner_ = me;
      count_ = 1;
    }
    Unguard();
    return true;
  }
  // Wait on copies of the handles: CloseLock may close the originals while
  // this thread waits.
  CUniqueOsHandle lockCopy(DuplicateOsHandle(lockEvent_.Get()));
  CUniqueOsHandle closeCopy(DuplicateOsHandle(closeEvent_.Get()));
  ++waiters_;
  Unguard();
  bool got = false;
  bool left = false;  // stopped waiting while the lock is still open
  if (lockCopy && closeCopy) {
    OsHandle handles[3] = {lockCopy.Get(), closeCopy.Get(), cancel};
    uint32_t count = cancel ? 3 : 2;
    for (;;) {
      int which = WaitForAny(handles, count, kInfinite);
      // The close event means failure without touching this object again.
      if (which == 1) break;
      if (which != 0) {
        left = true;
        break;
      }
      Guard();
      if (!lockEvent_) {
        Unguard();
        break;
      }
      if (owner_ == 0) {
        owner_ = me;
        count_ = 1;
        --waiters_;
        Unguard();
        got = true;
        break;
      }
      Unguard();  // another thread took it first: wait on
    }
  } else {
    left = true;
  }
  if (left) {
    Guard();
    if (lockEvent_ && waiters_) --waiters_;
    Unguard();
  }
  return got;
}

bool CMyTransferableLock::Release() {
  Guard();
  if (!IsOwnedByCaller() || !lockEvent_) {
    Unguard();
    return false;
  }
  if (count_ > 1) {
    --count_;
  } else {
    owner_ = count_ = 0;
    if (waiters_ > 0) SetEventObject(lockEvent_.Get());
  }
  Unguard();
  return true;
}

void CMyTransferableLock::CloseLock() {
  Guard();
  if (closeEvent_) SetEventObject(closeEvent_.Get());
  CloseEvents();
  owner_ = count_ = waiters_ = 0;
  Unguard();
}

}  // namespace tarvixlib
