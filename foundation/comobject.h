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
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>
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

}  // namespace tarvixlib
