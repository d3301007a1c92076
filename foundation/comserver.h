// What every in-process COM server of this tree shares: the module's
// instance handle, its LockServer count and its table of classes, whose
// class factories are made on the first request and then kept.
//
//   const ComClassEntry kClasses[] = {{&CLSID_Thing, CThing::Create}};
//   CComServerModule g_module(kClasses, 1);
//   // DllMain: g_module.SetInstance(instance);
//   // DllGetClassObject: return g_module.GetClassObject(clsid, iid, object);
//   // DllCanUnloadNow:   return g_module.CanUnloadNow();
//
// Windows only.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <cstddef>
#include <memory>

namespace tarvixlib {

// Makes an instance for a class factory; `outer` is the aggregating object
// or null. The out parameter is already null when it is called.
using ComCreateFn = HRESULT (*)(IUnknown* outer, REFIID iid, void** result);

struct ComClassEntry {
  const CLSID* clsid;
  ComCreateFn create;
};

class CComServerModule {
public:
  // The table must outlive the module object.
  CComServerModule(const ComClassEntry* classes, size_t count);
  virtual ~CComServerModule();
  CComServerModule(const CComServerModule&) = delete;
  CComServerModule& operator=(const CComServerModule&) = delete;

  void SetInstance(HMODULE instance) noexcept { instance_ = instance; }
  HMODULE Instance() const noexcept { return instance_; }
  // The module's full path; false when it has none or it does not fit
  // `size` characters (a cut path is never handed out).
  bool ModulePath(wchar_t* buffer, DWORD size) const noexcept;

  // LockServer's count.
  void Lock() noexcept { ++locks_; }
  void Unlock() noexcept { --locks_; }
  long LockCount() const noexcept { return locks_.load(); }

  // The cached factory of a class of the table, asked for `iid`;
  // CLASS_E_CLASSNOTAVAILABLE for any other class.
  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** result) noexcept;
  // S_OK when no lock is held and no object of this module is alive apart
  // from the cached factories (holding a factory does not keep a server
  // loaded; LockServer does), otherwise S_FALSE.
  HRESULT CanUnloadNow() const noexcept;

private:
  const ComClassEntry* classes_;
  size_t count_;
  std::unique_ptr<std::atomic<IClassFactory*>[]> factories_;
  std::atomic<long> cached_{0};
  std::atomic<long> locks_{0};
  HMODULE instance_ = nullptr;
};

}  // namespace tarvixlib
