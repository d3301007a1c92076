#include "foundation/comserver.h"

#include <new>

#include "foundation/comobject.h"

namespace tarvixlib {

namespace {

class CClassFactory final : public CComObject<IClassFactory> {
public:
  CClassFactory(CComServerModule& module, ComCreateFn create) noexcept
      : module_(module), create_(create) {}

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** result) noexcept override {
    if (!result) return E_POINTER;
    *result = nullptr;
    return create_(outer, iid, result);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override {
    if (lock) module_.Lock();
    else module_.Unlock();
    return S_OK;
  }

private:
  CComServerModule& module_;
  ComCreateFn create_;
};

}  // namespace

CComServerModule::CComServerModule(const ComClassEntry* classes, size_t count)
    : classes_(classes), count_(count), factories_(new std::atomic<IClassFactory*>[count]) {
  for (size_t i = 0; i < count_; ++i) factories_[i].store(nullptr);
}

CComServerModule::~CComServerModule() {
  for (size_t i = 0; i < count_; ++i) {
    CComPtr<IClassFactory> release = CComPtr<IClassFactory>::Attach(factories_[i].exchange(nullptr));
  }
}

bool CComServerModule::ModulePath(wchar_t* buffer, DWORD size) const noexcept {
  if (!buffer || size == 0) return false;
  buffer[0] = L'\0';
  DWORD n = GetModuleFileNameW(instance_, buffer, size);
  if (n == 0 || n >= size) {
    buffer[0] = L'\0';
    return false;
  }
  return true;
}

HRESULT CComServerModule::GetClassObject(REFCLSID clsid, REFIID iid, void** result) noexcept {
  if (!result) return E_POINTER;
  *result = nullptr;
  for (size_t i = 0; i < count_; ++i) {
    if (!IsEqualCLSID(clsid, *classes_[i].clsid)) continue;
    IClassFactory* factory = factories_[i].load(std::memory_order_acquire);
    if (!factory) {
      CComPtr<IClassFactory> made = CComPtr<IClassFactory>::Attach(
          new (std::nothrow) CClassFactory(*this, classes_[i].create));
      if (!made) return E_OUTOFMEMORY;
      // Two threads may race for the first request: one factory is kept,
      // the other one goes with `made`.
      IClassFactory* candidate = made.Get();
      if (factories_[i].compare_exchange_strong(factory, candidate, std::memory_order_acq_rel)) {
        ++cached_;
        factory = made.Detach();
      }
    }
    return factory->QueryInterface(iid, result);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CComServerModule::CanUnloadNow() const noexcept {
  return LiveComObjects().load() - cached_.load() == 0 && locks_.load() == 0 ? S_OK : S_FALSE;
}

}  // namespace tarvixlib
