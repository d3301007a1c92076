// Event sources and observers.
//
// A CMyEventSource<E> hands every event it fires to its chained sources
// first (each fires it on to its own chain and observers, in list order),
// then to its observers in list order, all under the source's one lock. An
// observer therefore runs under that lock and must not fire on the same
// source from another thread while it waits for something that source's
// firing thread holds. Neither list owns what it points at.
#pragma once

#include "foundation/ptrlist.h"
#include "foundation/threads.h"

namespace tarvixlib {

template <typename E>
class CMyEventSource;

template <typename E>
class CMyObserver {
public:
  virtual ~CMyObserver() = default;
  virtual void OnEvent(CMyEventSource<E>& source, const E& event) = 0;
};

template <typename E>
class CMyEventSource {
public:
  CMyEventSource() = default;
  virtual ~CMyEventSource() = default;
  CMyEventSource(const CMyEventSource&) = delete;
  CMyEventSource& operator=(const CMyEventSource&) = delete;

  // Adding an observer (or chained source) that is present does nothing.
  void AddObserver(CMyObserver<E>* observer) { AddOnce(observers_, observer); }
  void RemoveObserver(CMyObserver<E>* observer) { RemoveFrom(observers_, observer); }
  void AddChainedSource(CMyEventSource<E>* source) {
    if (source != this) AddOnce(chained_, source);
  }
  void RemoveChainedSource(CMyEventSource<E>* source) { RemoveFrom(chained_, source); }

  void Fire(const E& event) {
    CMySynchronizedBlock<CMyThreadSave> hold(lock_);
    for (CMyPtrListNode* n = chained_.Head(); n; n = n->next)
      static_cast<CMyEventSource<E>*>(n->data)->Fire(event);
    for (CMyPtrListNode* n = observers_.Head(); n; n = n->next)
      static_cast<CMyObserver<E>*>(n->data)->OnEvent(*this, event);
  }

  size_t ObserverCount() {
    CMySynchronizedBlock<CMyThreadSave> hold(lock_);
    return observers_.Count();
  }

private:
  void AddOnce(CMyPtrList& list, void* item) {
    if (!item) return;
    CMySynchronizedBlock<CMyThreadSave> hold(lock_);
    for (CMyPtrListNode* n = list.Head(); n; n = n->next)
      if (n->data == item) return;
    list.AddTail(item);
  }
  void RemoveFrom(CMyPtrList& list, void* item) {
    CMySynchronizedBlock<CMyThreadSave> hold(lock_);
    for (CMyPtrListNode* n = list.Head(); n; n = n->next)
      if (n->data == item) {
        list.RemoveNode(n);
        return;
      }
  }

  CMyThreadSave lock_;
  CMyPtrList observers_;  // CMyObserver<E>*
  CMyPtrList chained_;    // CMyEventSource<E>*
};

namespace commands {

// Progress of the DATA block being received: 0 to 100 percent.
struct CBinaryDownloadProgressEvent {
  int percent;
};

}  // namespace commands
}  // namespace tarvixlib
