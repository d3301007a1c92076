#include "comm/transferablelock.h"

namespace tarvixlib {

using namespace platform;

CMyTransferableLock::CMyTransferableLock() : guardEvent_(CreateEventObject(false, true)) {}

CMyTransferableLock::CMyTransferableLock(bool owned) : CMyTransferableLock() { Create(owned); }

CMyTransferableLock::CMyTransferableLock(CMyTransferableLock& other) : CMyTransferableLock() {
  Guard();
  other.Guard();
  lockEvent_ = other.lockEvent_;
  closeEvent_ = other.closeEvent_;
  owner_ = other.owner_;
  count_ = other.count_;
  other.lockEvent_ = other.closeEvent_ = nullptr;
  other.owner_ = other.count_ = 0;
  other.Unguard();
  Unguard();
}

CMyTransferableLock::~CMyTransferableLock() {
  if (IsOwnedByCaller()) {
    count_ = 1;
    Release();
  }
  CloseEvents();
  if (guardEvent_) CloseOsHandle(guardEvent_);
}

void CMyTransferableLock::Guard() const {
  if (guardEvent_) WaitForOne(guardEvent_, kInfinite);
}

void CMyTransferableLock::Unguard() const {
  if (guardEvent_) SetEventObject(guardEvent_);
}

void CMyTransferableLock::CloseEvents() {
  if (lockEvent_) CloseOsHandle(lockEvent_);
  if (closeEvent_) CloseOsHandle(closeEvent_);
  lockEvent_ = closeEvent_ = nullptr;
}

bool CMyTransferableLock::Create(bool owned) {
  Guard();
  CloseEvents();
  lockEvent_ = CreateEventObject(false, !owned);
  closeEvent_ = CreateEventObject(true, false);
  bool ok = lockEvent_ && closeEvent_;
  if (!ok) CloseEvents();
  owner_ = ok && owned ? CurrentThreadId() : 0;
  count_ = ok && owned ? 1 : 0;
  Unguard();
  return ok;
}

bool CMyTransferableLock::IsOwnedByCaller() const { return owner_ != 0 && owner_ == CurrentThreadId(); }

bool CMyTransferableLock::Acquire() {
  Guard();
  if (IsOwnedByCaller() && lockEvent_) {
    ++count_;
    Unguard();
    return true;
  }
  // Wait on copies of the handles: CloseLock may close the originals while
  // this thread waits.
  OsHandle handles[2] = {lockEvent_ ? DuplicateOsHandle(lockEvent_) : nullptr,
                         closeEvent_ ? DuplicateOsHandle(closeEvent_) : nullptr};
  Unguard();
  bool got = false;
  if (handles[0] && handles[1]) {
    int which = WaitForAny(handles, 2, kInfinite);
    if (which == 0) {
      Guard();
      if (lockEvent_ && !(closeEvent_ && WaitForOne(closeEvent_, 0))) {
        owner_ = CurrentThreadId();
        count_ = 1;
        got = true;
      } else {
        // Closed while this thread took the lock: pass it on to nobody.
        SetEventObject(handles[0]);
      }
      Unguard();
    }
  }
  for (OsHandle h : handles)
    if (h) CloseOsHandle(h);
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
    SetEventObject(lockEvent_);
  }
  Unguard();
  return true;
}

void CMyTransferableLock::CloseLock() {
  Guard();
  if (closeEvent_) SetEventObject(closeEvent_);
  CloseEvents();
  owner_ = count_ = 0;
  Unguard();
}

}  // namespace tarvixlib
