// The one base of every COM object this tree implements: IUnknown written
// once from the list of interfaces the object inherits.
//
//   class CSink final : public CComObject<IDispatch, IConnectionPointSink> {
//     ...the interfaces' own methods...
//   };
//   CComPtr<CSink> sink = CComObjectMake<CSink>(args...);   // one reference
//
// QueryInterface answers IUnknown (through the first listed interface) and
// every listed interface by its __uuidof; anything else goes to QueryOther,
// which an object overrides to answer a base interface that two listed
// interfaces share (IDispatch below two dual interfaces, say). A miss nulls
// the out parameter. The count is interlocked; the object deletes itself
// when it drops to zero. An object starts with a count of one, owned by
// whoever created it.
//
// The process-wide count of living objects (LiveComObjects) lets a server's
// DllCanUnloadNow and the tests see leaks.
//
// An object that can be aggregated derives from CComAggregatable<I...>
// instead and is made with CComAggregatableCreate (see below).
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <winerror.h>

#include <atomic>
#include <new>
#include <utility>

#include "foundation/comptr.h"

namespace tarvixlib {

// Objects of CComObject alive in this module.
inline std::atomic<long>& LiveComObjects() noexcept {
  static std::atomic<long> count{0};
  return count;
}

template <typename First, typename... Rest>
class CComObject : public First, public Rest... {
public:
  CComObject() noexcept { ++LiveComObjects(); }
  CComObject(const CComObject&) = delete;
  CComObject& operator=(const CComObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) noexcept override {
    if (!result) return E_POINTER;
    *result = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *result = static_cast<IUnknown*>(static_cast<First*>(this));
    } else if (!Find<First, Rest...>(iid, result)) {
      *result = QueryOther(iid);
      if (!*result) return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*result)->AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override {
    return static_cast<ULONG>(++refs_);
  }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    long left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // The current count, for tests that watch lifetimes.
  long RefCount() const noexcept { return refs_.load(); }

protected:
  virtual ~CComObject() { --LiveComObjects(); }
  // Interfaces beyond the list; return the interface pointer (not yet
  // AddRef'd) or null.
  virtual void* QueryOther(REFIID iid) noexcept { return nullptr; }
  // The object as IUnknown.
  IUnknown* Unknown() noexcept { return static_cast<IUnknown*>(static_cast<First*>(this)); }

private:
  template <typename I, typename... More>
  bool Find(REFIID iid, void** result) noexcept {
    if (IsEqualIID(iid, __uuidof(I))) {
      *result = static_cast<I*>(this);
      return true;
    }
    if constexpr (sizeof...(More) > 0) return Find<More...>(iid, result);
    return false;
  }

  std::atomic<long> refs_{1};
};

// Creates an object of T and hands out its first reference.
template <typename T, typename... Args>
CComPtr<T> CComObjectMake(Args&&... args) {
  return CComPtr<T>::Attach(new T(std::forward<Args>(args)...));
}

// An object that can live inside an outer object (COM aggregation). Made
// alone it behaves as CComObject. Made with an outer unknown, its
// interfaces delegate QueryInterface, AddRef and Release to the outer
// object, and the outer keeps it alive through the inner (non-delegating)
// unknown that CComAggregatableCreate hands out: that one owns the count,
// answers IUnknown with itself and every other interface of the object.
template <typename First, typename... Rest>
class CComAggregatable : public CComObject<First, Rest...> {
  using Base = CComObject<First, Rest...>;

public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) noexcept override {
    return outer_ ? outer_->QueryInterface(iid, result) : Base::QueryInterface(iid, result);
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override {
    return outer_ ? outer_->AddRef() : Base::AddRef();
  }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    return outer_ ? outer_->Release() : Base::Release();
  }

  // Makes a new object (count one) a part of `outer` (not AddRef'd: the
  // outer owns the inner, never the other way round) and hands out the
  // inner unknown, which takes over that first reference.
  IUnknown* AggregateInto(IUnknown* outer) noexcept {
    outer_ = outer;
    return &inner_;
  }
  // The outer object, or null when not aggregated.
  IUnknown* Outer() const noexcept { return outer_; }

private:
  class CInner final : public IUnknown {
  public:
    explicit CInner(CComAggregatable* owner) noexcept : owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) noexcept override {
      if (!result) return E_POINTER;
      if (IsEqualIID(iid, IID_IUnknown)) {
        *result = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
      }
      // The object's own lookup; the AddRef it makes on the interface found
      // goes to the outer object, as aggregation wants.
      return owner_->Base::QueryInterface(iid, result);
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return owner_->Base::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return owner_->Base::Release(); }

  private:
    CComAggregatable* owner_;
  };

  IUnknown* outer_ = nullptr;
  CInner inner_{this};
};

// Creates an aggregatable T for a class factory's CreateInstance: alone,
// asked for `iid`; inside `outer`, only IUnknown may be asked for (the outer
// needs the inner unknown), anything else is CLASS_E_NOAGGREGATION.
template <typename T, typename... Args>
HRESULT CComAggregatableCreate(IUnknown* outer, REFIID iid, void** result, Args&&... args) {
  if (!result) return E_POINTER;
  *result = nullptr;
  if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  T* object = new (std::nothrow) T(std::forward<Args>(args)...);
  if (!object) return E_OUTOFMEMORY;
  if (outer) {
    *result = object->AggregateInto(outer);
    return S_OK;
  }
  return CComPtr<T>::Attach(object).QueryTo(iid, result);
}

}  // namespace tarvixlib
