// The stand-in engine as an in-process COM server: class factory, the four
// exports and self-registration under the ProgID "ZELVOK.R6Engine".
#include <windows.h>
#include <olectl.h>

#include "foundation/comptr.h"
#include "foundation/comserver.h"
#include "foundation/winhandles.h"
#include "registry/registry.h"
#include "standin/engine.h"

namespace tarvixstandin {
namespace {

// The stand-in's own class id: {6e1b7c90-3a2d-4f5e-9b8a-2c4d6e8f0a12}.
constexpr CLSID kCLSID_StandinEngine = {
    0x6e1b7c90, 0x3a2d, 0x4f5e, {0x9b, 0x8a, 0x2c, 0x4d, 0x6e, 0x8f, 0x0a, 0x12}};
constexpr wchar_t kClsidText[] = L"{6e1b7c90-3a2d-4f5e-9b8a-2c4d6e8f0a12}";
constexpr wchar_t kDescription[] = L"Tarvix R6 stand-in engine";

HRESULT CreateEngine(IUnknown* outer, REFIID iid, void** object) {
  if (outer) return CLASS_E_NOAGGREGATION;
  tarvixlib::CComPtr<CStandinEngine> engine;
  HRESULT hr = CStandinEngine::CreateFromEnvironment(engine);
  if (FAILED(hr)) return hr;
  return engine.QueryTo(iid, object);
}

const tarvixlib::ComClassEntry kClasses[] = {{&kCLSID_StandinEngine, CreateEngine}};
tarvixlib::CComServerModule g_module(kClasses, 1);

bool SetKeyValue(const wchar_t* key, const wchar_t* name, const wchar_t* value) {
  tarvixlib::CUniqueRegKey handle =
      tarvixlib::registry::CreateKeyW(HKEY_CLASSES_ROOT, key, KEY_WRITE);
  return handle && tarvixlib::registry::SetStringW(handle.Get(), name, value);
}

}  // namespace
}  // namespace tarvixstandin

using namespace tarvixstandin;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module.SetInstance(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return g_module.GetClassObject(clsid, iid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return g_module.CanUnloadNow();
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  wchar_t path[MAX_PATH];
  if (!g_module.ModulePath(path, MAX_PATH)) return SELFREG_E_CLASS;
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
