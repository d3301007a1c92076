#include "foundation/threads.h"

#include <new>
#include <thread>

namespace tarvixlib {

// ---- CMyThreadSave ----

CMyThreadSave::CMyThreadSave(bool active) : active_(active) {}

CMyThreadSave::~CMyThreadSave() {
  if (platform::OsHandle event = event_.load()) platform::CloseOsHandle(event);
}

platform::OsHandle CMyThreadSave::WakeEvent() {
  platform::OsHandle event = event_.load(std::memory_order_acquire);
  if (event) return event;
  platform::OsHandle made = platform::CreateEventObject(/*manualReset=*/false, /*signalled=*/false);
  if (!made) return nullptr;
  // A waiter and the unlocking thread may both get here: one event wins.
  if (event_.compare_exchange_strong(event, made, std::memory_order_acq_rel)) return made;
  platform::CloseOsHandle(made);
  return event;
}

void CMyThreadSave::Guard() {
  // The guarded sections are a few instructions long.
  for (unsigned spins = 0; guard_.test_and_set(std::memory_order_acquire); ++spins)
    if (spins > 64) std::this_thread::yield();
}

bool CMyThreadSave::Lock(uint32_t timeoutMs) {
  if (!active_) return true;
  uint32_t me = platform::CurrentThreadId();
  if (owner_.load() == me) {
    ++count_;
    return true;
  }
  Guard();
  if (owner_.load() == 0) {
    owner_.exchange(me);
    Unguard();
    count_ = 1;
    return true;
  }
  ++waiters_;
  Unguard();
  platform::OsHandle event = WakeEvent();
  if (!event) {
    Guard();
    --waiters_;
    Unguard();
    return false;
  }

  uint32_t wait = timeoutMs == kUseDefault ? defaultTimeout_ : timeoutMs;
  uint64_t start = platform::TickCountMs();
  for (;;) {
    uint32_t left = wait;
    if (wait != platform::kInfinite) {
      uint64_t spent = platform::TickCountMs() - start;
      left = spent >= wait ? 0 : static_cast<uint32_t>(wait - spent);
    }
    int r = platform::WaitForAny(&event, 1, left);
    Guard();
    if (owner_.load() == 0) {  // free: ours, whether woken or timed out just now
      owner_.exchange(me);
      --waiters_;
      Unguard();
      count_ = 1;
      return true;
    }
    if (r != 0) {  // timed out or failed while another thread holds it
      --waiters_;
      Unguard();
      return false;
    }
    Unguard();  // woken, but another thread took it first: wait on
  }
}

bool CMyThreadSave::Unlock() {
  if (!active_) return true;
  if (owner_.load() != platform::CurrentThreadId()) return false;
  if (--count_ == 0) {
    Guard();
    owner_.exchange(0);
    bool wake = waiters_ > 0;
    Unguard();
    if (wake) {
      platform::OsHandle event = WakeEvent();
      if (event) platform::SetEventObject(event);
    }
  }
  return true;
}

// ---- CWorkThread ----

// Shared by the object and its running thread, so that the thread can tell,
// after its body returns, whether the object still expects it: a thread that
// was terminated (abandoned where threads cannot be killed) must not touch
// an object that may already be gone.
struct CWorkThread::Link {
  std::atomic<int> refs{1};
  CWorkThread* owner;
  uint32_t options;
  std::mutex m;
  bool abandoned = false;  // guarded by m
  bool bodyEnded = false;  // guarded by m
  // The abandoned body holds its object (CWorkThread::Pin). Whoever takes
  // the flag back lets go of it: the body when it returns, or Terminate
  // when the body was killed and never will.
  std::atomic<bool> pinned{false};
};

void CWorkThread::ReleaseLink(Link* link) {
  if (link && link->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete link;
}

CWorkThread::CWorkThread(uint32_t stopTimeoutMs, int priority, uint32_t options, size_t stackSize)
    : stopEvent_(platform::CreateEventObject(/*manualReset=*/true, /*signalled=*/false)),
      stopTimeout_(stopTimeoutMs),
      priority_(priority),
      stackSize_(stackSize),
      options_(options) {}

CWorkThread::~CWorkThread() {
  Stop();
  // Bodies abandoned in this object can still be running here only when it
  // was not deleted with delete (which leaves its destruction to their
  // end): its storage goes with this scope, so they are waited for.
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(state_);
      if (abandoned_ == 0) break;
    }
    platform::SleepMs(5);
  }
  platform::CloseOsHandle(stopEvent_);
}

void CWorkThread::operator delete(CWorkThread* thread, std::destroying_delete_t) noexcept {
  if (!thread) return;
  thread->Stop();
  {
    std::lock_guard<std::mutex> guard(thread->state_);
    if (thread->abandoned_ > 0) {
      thread->deletePending_ = true;  // the last abandoned body destroys it
      return;
    }
  }
  Destroy(thread);
}

void* CWorkThread::operator new(size_t size) { return ::operator new(size); }

void* CWorkThread::operator new(size_t size, const std::nothrow_t&) noexcept {
  return ::operator new(size, std::nothrow);
}

void CWorkThread::operator delete(void* storage) noexcept { ::operator delete(storage); }

void CWorkThread::operator delete(void* storage, const std::nothrow_t&) noexcept {
  ::operator delete(storage);
}

void CWorkThread::Destroy(CWorkThread* thread) noexcept {
  void* storage = dynamic_cast<void*>(thread);  // the whole object, whatever its class
  thread->~CWorkThread();
  ::operator delete(storage);
}

void CWorkThread::Pin() {
  std::lock_guard<std::mutex> guard(state_);
  ++abandoned_;
}

void CWorkThread::Unpin() {
  bool destroy;
  {
    std::lock_guard<std::mutex> guard(state_);
    destroy = --abandoned_ == 0 && deletePending_;
  }
  if (destroy) Destroy(this);
}

void CWorkThread::Entry(void* arg) {
  Link* link = static_cast<Link*>(arg);
  CWorkThread* self = link->owner;
  self->Run();
  bool deleteSelf = false;
  {
    std::lock_guard<std::mutex> guard(link->m);
    link->bodyEnded = true;
    if (!link->abandoned && (link->options & (kDetached | kSelfDeleting))) {
      self->Forget(link);
      if (link->options & kSelfDeleting) {
        link->abandoned = true;  // nobody may reach the object through the link now
        deleteSelf = true;
      }
    }
  }
  if (deleteSelf) {
    delete self;
  } else if (link->pinned.exchange(false)) {
    self->Unpin();  // last use of the object: it may be destroyed here
  }
  ReleaseLink(link);
}

bool CWorkThread::Start() {
  bool hasThread;
  {
    std::lock_guard<std::mutex> guard(state_);
    hasThread = thread_ != nullptr;
  }
  if (hasThread) Stop();
  if (!stopEvent_) return false;
  platform::ResetEventObject(stopEvent_);
  auto* link = new (std::nothrow) Link;
  if (!link) return false;
  link->owner = this;
  link->options = options_;
  link->refs = 2;  // the object's and the thread's
  // Held until the fields are set: a detached or self-deleting body that
  // ends at once must find them in place.
  std::unique_lock<std::mutex> guard(state_);
  for (;;) {
    uint32_t id = 0;
    platform::OsHandle h = platform::StartThread(&CWorkThread::Entry, link, stackSize_, &id);
    if (h) {
      thread_ = h;
      threadId_ = id;
      link_ = link;
      if (priority_ != 0) platform::SetThreadPriorityLevel(h, priority_);
      return true;  // `this` may be deleted (self-deleting) once guard is released
    }
    if (!(options_ & kRetryCreate)) {
      delete link;
      return false;
    }
    platform::SleepMs(100);
  }
}

platform::OsHandle CWorkThread::HandleCopy(Link** link) const {
  std::lock_guard<std::mutex> guard(state_);
  if (!thread_) return nullptr;
  platform::OsHandle copy = platform::DuplicateOsHandle(thread_);
  if (copy && link) {
    link_->refs.fetch_add(1);
    *link = link_;
  }
  return copy;
}

bool CWorkThread::Forget(Link* link) {
  platform::OsHandle h = nullptr;
  {
    std::lock_guard<std::mutex> guard(state_);
    if (!thread_ || link_ != link) return false;
    h = thread_;
    thread_ = nullptr;
    threadId_ = 0;
    link_ = nullptr;
  }
  platform::CloseOsHandle(h);
  ReleaseLink(link);  // the object's reference
  return true;
}

bool CWorkThread::IsRunning() const {
  std::lock_guard<std::mutex> guard(state_);
  return thread_ && !platform::WaitForOne(thread_, 0);
}

bool CWorkThread::WaitForEnd(uint32_t ms) const {
  platform::OsHandle h = HandleCopy(nullptr);
  if (!h) return true;
  bool ended = platform::WaitForOne(h, ms);
  platform::CloseOsHandle(h);
  return ended;
}

uint32_t CWorkThread::ThreadId() const {
  std::lock_guard<std::mutex> guard(state_);
  return threadId_;
}

void CWorkThread::Stop() {
  Link* link = nullptr;
  platform::OsHandle h = HandleCopy(&link);
  if (!h) return;
  platform::SetEventObject(stopEvent_);
  if (platform::WaitForOne(h, stopTimeout_)) {
    Forget(link);
  } else {
    Terminate();
  }
  platform::CloseOsHandle(h);
  ReleaseLink(link);
}

void CWorkThread::Terminate() {
  Link* link = nullptr;
  platform::OsHandle h = HandleCopy(&link);
  if (!h) return;
  // Mark the link first: a body that still returns (where threads cannot be
  // killed) must then leave the object's thread fields alone. Until it
  // returns it holds the object, which must not be freed under it.
  {
    std::lock_guard<std::mutex> guard(link->m);
    if (!link->abandoned && !link->bodyEnded) {
      Pin();
      link->pinned = true;
    }
    link->abandoned = true;
  }
  if (platform::TerminateThreadObject(h) && link->pinned.exchange(false)) Unpin();
  Forget(link);
  platform::CloseOsHandle(h);
  ReleaseLink(link);
}

// ---- CMyWorkThreadList ----

CMyWorkThreadList::CMyWorkThreadList() : threads_(/*owned=*/true) {}

CMyWorkThreadList::~CMyWorkThreadList() { StopAll(true); }

bool CMyWorkThreadList::Add(CWorkThread* thread, bool deleteOnFailure) {
  if (!thread) return false;
  if ((thread->Options() & CWorkThread::kSelfDeleting) || !thread->Start()) {
    if (deleteOnFailure) delete thread;
    return false;
  }
  if (!threads_.AddTail(thread)) {
    // Not kept: stop it rather than lose track of a running thread.
    thread->Stop();
    if (deleteOnFailure) delete thread;
    return false;
  }
  return true;
}

size_t CMyWorkThreadList::Reap() {
  size_t removed = 0;
  CMyPtrListNode* node = threads_.Head();
  while (node) {
    CMyPtrListNode* next = node->next;
    CWorkThread* thread = CMyPtrListT<CWorkThread>::DataOf(node);
    if (!thread->IsRunning()) {
      threads_.RemoveNode(node);
      delete thread;
      ++removed;
    }
    node = next;
  }
  return removed;
}

size_t CMyWorkThreadList::StopAll(bool wait) {
  for (CMyPtrListNode* n = threads_.Head(); n; n = n->next) {
    CWorkThread* thread = CMyPtrListT<CWorkThread>::DataOf(n);
    if (thread->IsRunning()) thread->RequestStop();
  }
  platform::YieldThread();

  size_t removed = 0;
  uint64_t start = 0;
  if (wait) {
    removed = Reap();
    start = platform::TickCountMs();
    threads_.Sort(
        [](const void* a, const void* b, void*) {
          uint32_t x = static_cast<const CWorkThread*>(a)->StopTimeout();
          uint32_t y = static_cast<const CWorkThread*>(b)->StopTimeout();
          return x < y ? -1 : (x > y ? 1 : 0);
        },
        nullptr);
  }
  while (CWorkThread* thread = threads_.PopHeadT()) {
    if (wait) {
      uint64_t deadline = start + thread->StopTimeout();
      uint64_t now = platform::TickCountMs();
      if (deadline > now) {
        uint64_t left = deadline - now;
        thread->WaitForEnd(left >= platform::kInfinite ? platform::kInfinite - 1
                                                       : static_cast<uint32_t>(left));
      }
    }
    if (thread->IsRunning()) thread->Terminate();
    delete thread;
    ++removed;
  }
  return removed;
}

}  // namespace tarvixlib
