// The stand-in engine as an in-process COM server: class factory, the four
// exports and self-registration under the ProgID "ZELVOK.R6Engine".
#include <windows.h>
#include <olectl.h>

#include <new>

#include "foundation/comobject.h"
#include "foundation/winhandles.h"
#include "standin/engine.h"

namespace tarvixstandin {
namespace {

// The stand-in's own class id: {6e1b7c90-3a2d-4f5e-9b8a-2c4d6e8f0a12}.
constexpr CLSID kCLSID_StandinEngine = {
    0x6e1b7c90, 0x3a2d, 0x4f5e, {0x9b, 0x8a, 0x2c, 0x4d, 0x6e, 0x8f, 0x0a, 0x12}};
constexpr wchar_t kClsidText[] = L"{6e1b7c90-3a2d-4f5e-9b8a-2c4d6e8f0a12}";
constexpr wchar_t kDescription[] = L"Tarvix R6 stand-in engine";

HMODULE g_module = nullptr;
volatile LONG g_locks = 0;

// A counted object like the engines it makes: while a client holds it,
// DllCanUnloadNow says no.
class CClassFactory final : public tarvixlib::CComObject<IClassFactory> {
public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) noexcept override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    tarvixlib::CComPtr<CStandinEngine> engine;
    HRESULT hr = CStandinEngine::CreateFromEnvironment(engine);
    if (FAILED(hr)) return hr;
    return engine.QueryTo(iid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override {
    if (lock) InterlockedIncrement(&g_locks);
    else InterlockedDecrement(&g_locks);
    return S_OK;
  }
};

bool SetKeyValue(const wchar_t* key, const wchar_t* name, const wchar_t* value) {
  tarvixlib::CUniqueRegKey handle;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key, 0, nullptr, 0, KEY_WRITE, nullptr, handle.Out(),
                      nullptr) != ERROR_SUCCESS)
    return false;
  return RegSetValueExW(handle.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                        static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace
}  // namespace tarvixstandin

using namespace tarvixstandin;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (clsid != kCLSID_StandinEngine) return CLASS_E_CLASSNOTAVAILABLE;
  return tarvixlib::CComObjectMake<CClassFactory>().QueryTo(iid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return (tarvixlib::LiveComObjects() == 0 && g_locks == 0) ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return SELFREG_E_CLASS;
  wchar_t clsidKey[64] = L"CLSID\\";
  wcscat(clsidKey, kClsidText);
  wchar_t serverKey[96];
  wcscpy(serverKey, clsidKey);
  wcscat(serverKey, L"\\InprocServer32");
  wchar_t progIdKey[96];
  wcscpy(progIdKey, clsidKey);
  wcscat(progIdKey, L"\\ProgID");
  bool ok = SetKeyValue(clsidKey, nullptr, kDescription) && SetKeyValue(serverKey, nullptr, path) &&
            SetKeyValue(serverKey, L"ThreadingModel", L"Both") &&
            SetKeyValue(progIdKey, nullptr, TARVIX_R6ENGINE_PROGID) &&
            SetKeyValue(TARVIX_R6ENGINE_PROGID, nullptr, kDescription) &&
            SetKeyValue(TARVIX_R6ENGINE_PROGID L"\\CLSID", nullptr, kClsidText);
  return ok ? S_OK : SELFREG_E_CLASS;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  wchar_t clsidKey[64] = L"CLSID\\";
  wcscat(clsidKey, kClsidText);
  LONG a = RegDeleteTreeW(HKEY_CLASSES_ROOT, clsidKey);
  LONG b = RegDeleteTreeW(HKEY_CLASSES_ROOT, TARVIX_R6ENGINE_PROGID);
  bool ok = (a == ERROR_SUCCESS || a == ERROR_FILE_NOT_FOUND) &&
            (b == ERROR_SUCCESS || b == ERROR_FILE_NOT_FOUND);
  return ok ? S_OK : SELFREG_E_CLASS;
}
