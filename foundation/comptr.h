// The one owner of COM interface pointers. Copying adds a reference, moving
// transfers it, destruction releases it; Release() is never called by hand
// on a main path.
//
//   CComPtr<IDispatch> app;
//   if (FAILED(unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(app.Out()))))
//     return;
//   CComPtr<IConnectionPointContainer> container;
//   if (FAILED(app.As(container))) return;
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace tarvixlib {

template <typename I>
class CComPtr {
public:
  CComPtr() noexcept = default;
  // Takes a new reference to ptr.
  explicit CComPtr(I* ptr) noexcept : ptr_(ptr) {
    if (ptr_) ptr_->AddRef();
  }
  CComPtr(const CComPtr& other) noexcept : CComPtr(other.ptr_) {}
  CComPtr(CComPtr&& other) noexcept : ptr_(other.Detach()) {}
  CComPtr& operator=(const CComPtr& other) noexcept {
    if (this != &other) {
      if (other.ptr_) other.ptr_->AddRef();
      Reset(other.ptr_);
    }
    return *this;
  }
  CComPtr& operator=(CComPtr&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
  }
  ~CComPtr() { Reset(); }

  // Adopts a pointer whose reference the caller already owns.
  static CComPtr Attach(I* ptr) noexcept {
    CComPtr result;
    result.ptr_ = ptr;
    return result;
  }
  // Hands the reference out without releasing it.
  [[nodiscard]] I* Detach() noexcept {
    I* ptr = ptr_;
    ptr_ = nullptr;
    return ptr;
  }

  I* Get() const noexcept { return ptr_; }
  I* operator->() const noexcept { return ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

  // Releases what it holds (when anything) and takes ptr's reference,
  // which the caller already owns.
  void Reset(I* ptr = nullptr) noexcept {
    I* old = ptr_;
    ptr_ = ptr;
    if (old) old->Release();
  }
  // Releases what it holds and hands out the slot for an out parameter.
  I** Out() noexcept {
    Reset();
    return &ptr_;
  }
  void** OutVoid() noexcept { return reinterpret_cast<void**>(Out()); }

  // QueryInterface for another interface of the same object.
  template <typename Q>
  HRESULT As(CComPtr<Q>& result) const noexcept {
    if (!ptr_) {
      result.Reset();
      return E_POINTER;
    }
    return ptr_->QueryInterface(__uuidof(Q), result.OutVoid());
  }
  HRESULT QueryTo(REFIID iid, void** result) const noexcept {
    if (!result) return E_POINTER;
    *result = nullptr;
    return ptr_ ? ptr_->QueryInterface(iid, result) : E_POINTER;
  }

private:
  I* ptr_ = nullptr;
};

}  // namespace tarvixlib
