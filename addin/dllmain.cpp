// norvella_x64.dll: the four COM exports of the add-in library.
#include <windows.h>
#include <olectl.h>

#include "addin/module.h"
#include "addin/registration.h"

using mapilib::NorvellaModule;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    NorvellaModule().SetInstance(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return NorvellaModule().GetClassObject(clsid, iid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return NorvellaModule().CanUnloadNow(); }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  // A longer path than a registry row holds fails there, not here.
  wchar_t path[1024];
  if (!NorvellaModule().ModulePath(path, 1024)) return SELFREG_E_CLASS;
  return mapilib::RegisterAddin(path);
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return mapilib::UnregisterAddin(); }
