#include "addin/mapiloader.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "foundation/winhandles.h"

namespace mapilib {
namespace {

using tarvixlib::CUniqueRegKey;

// Slots, one per function.
struct Slots {
  FARPROC LAUNCHWIZARD, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, HrGetOneProp,
      MAPIInitialize, MAPIUninitialize, FreeProws, PpropFindProp, ScDupPropset, ScCountProps,
      ScCopyProps, OpenIMsgOnIStg, MAPIGetDefaultMalloc, OpenTnefStreamEx, OpenStreamOnFile,
      OpenStreamOnFileW, CloseIMsgSession, OpenIMsgSession, HrQueryAllRows, MAPIOpenFormMgr,
      RTFSync, HrSetOneProp, FreePadrlist, PropCopyMore, WrapCompressedRTFStream,
      WrapStoreEntryID, CreateIProp, CreateTable, HrValidateParameters, BuildDisplayTable,
      MNLS_lstrlenW, MAPILogonEx, MAPIAdminProfiles, HrValidateIPMSubtree,
      WrapCompressedRTFStreamEx, MAPIOpenLocalFormContainer, HrDispatchNotifications;
};
Slots g_slots;

HMODULE g_clientModule = nullptr;
HMODULE g_systemMapi = nullptr;
HMODULE g_systemStub = nullptr;
ComponentPathFunction g_componentPath = nullptr;
ComponentPathFunction g_componentPathForTests = nullptr;
char g_systemDir[MAX_PATH];
bool g_systemDirKnown = false;

constexpr char kMailKey[] = "Software\\Clients\\Mail";
constexpr size_t kMailKeyChars = 256;

}  // namespace

#define SLOT(fn) {&g_slots.fn, #fn}
#define SLOT2(fn, decorated) {&g_slots.fn, #fn "@" #decorated}, {&g_slots.fn, #fn}
const MAPIFuncEntry g_MAPIFuncs[kMAPIFuncCount] = {
    SLOT(LAUNCHWIZARD),
    SLOT(MAPIAllocateBuffer),
    SLOT(MAPIAllocateMore),
    SLOT(MAPIFreeBuffer),
    SLOT2(HrGetOneProp, 12),
    SLOT(MAPIInitialize),
    SLOT(MAPIUninitialize),
    SLOT2(FreeProws, 4),
    SLOT2(PpropFindProp, 12),
    SLOT2(ScDupPropset, 16),
    SLOT2(ScCountProps, 12),
    SLOT2(ScCopyProps, 16),
    SLOT2(OpenIMsgOnIStg, 44),
    SLOT2(MAPIGetDefaultMalloc, 0),
    SLOT(OpenTnefStreamEx),
    SLOT(OpenStreamOnFile),
    SLOT(OpenStreamOnFileW),
    SLOT2(CloseIMsgSession, 4),
    SLOT2(OpenIMsgSession, 12),
    SLOT2(HrQueryAllRows, 24),
    SLOT(MAPIOpenFormMgr),
    SLOT(RTFSync),
    SLOT2(HrSetOneProp, 8),
    SLOT2(FreePadrlist, 4),
    SLOT2(PropCopyMore, 16),
    SLOT(WrapCompressedRTFStream),
    SLOT2(WrapStoreEntryID, 24),
    SLOT2(CreateIProp, 24),
    SLOT2(CreateTable, 36),
    SLOT2(HrValidateParameters, 8),
    SLOT2(BuildDisplayTable, 40),
    SLOT(MNLS_lstrlenW),
    SLOT(MAPILogonEx),
    SLOT(MAPIAdminProfiles),
    SLOT2(HrValidateIPMSubtree, 20),
    SLOT(WrapCompressedRTFStreamEx),
    SLOT(MAPIOpenLocalFormContainer),
    SLOT2(HrDispatchNotifications, 4),
};
#undef SLOT
#undef SLOT2

void LoadMAPIFuncs(HMODULE module) {
  if (!module) return;
  for (const MAPIFuncEntry& entry : g_MAPIFuncs)
    if (!*entry.slot) *entry.slot = GetProcAddress(module, entry.name);
}

HMODULE MyLoadLibrary(const char* path) { return path && *path ? LoadLibraryA(path) : nullptr; }

HMODULE LoadFromSystemDir(const char* file) {
  if (!g_systemDirKnown) {
    UINT n = GetSystemDirectoryA(g_systemDir, sizeof g_systemDir);
    if (n == 0 || n >= sizeof g_systemDir) g_systemDir[0] = '\0';
    g_systemDirKnown = true;
  }
  char path[MAX_PATH];
  int n = g_systemDir[0] ? std::snprintf(path, sizeof path, "%s\\%s", g_systemDir, file)
                         : std::snprintf(path, sizeof path, "%s", file);
  if (n < 0 || static_cast<size_t>(n) >= sizeof path) return nullptr;
  return LoadLibraryA(path);
}

bool GetComponentPath(const char* component, const char* qualifier, char* path, DWORD length) {
  ComponentPathFunction function = g_componentPathForTests;
  if (!function) {
    if (!g_componentPath) {
      const char* names[] = {"mapi32.dll", "mapistub.dll"};
      HMODULE* modules[] = {&g_systemMapi, &g_systemStub};
      for (size_t i = 0; i < 2 && !g_componentPath; ++i) {
        if (!*modules[i]) *modules[i] = LoadFromSystemDir(names[i]);
        g_componentPath = tarvixlib::ModuleTraits::Proc<ComponentPathFunction>(
            *modules[i], "FGetComponentPath");
      }
    }
    function = g_componentPath;
  }
  if (!function || !path || length == 0) return false;
  path[0] = '\0';
  return function(component, const_cast<LPSTR>(qualifier), path, length, TRUE) != FALSE;
}

bool HrGetRegistryValueA(HKEY key, const char* valueName, DWORD* type, char** value) {
  *value = nullptr;
  DWORD size = 0;
  if (RegQueryValueExA(key, valueName, nullptr, type, nullptr, &size) != ERROR_SUCCESS ||
      size == 0)
    return false;
  if (*type != REG_SZ && *type != REG_DWORD && *type != REG_MULTI_SZ) return false;
  // One more byte (two for a list) so that a string stored without its
  // terminator still ends.
  char* buffer = new (std::nothrow) char[size + 2]();
  if (!buffer) return false;
  if (RegQueryValueExA(key, valueName, nullptr, type, reinterpret_cast<BYTE*>(buffer), &size) !=
          ERROR_SUCCESS ||
      size == 0 || (*type == REG_SZ && buffer[0] == '\0')) {
    delete[] buffer;
    return false;
  }
  *value = buffer;
  return true;
}

HKEY GetMailKey(const char* client) {
  char name[kMailKeyChars + 1];
  char* defaultName = nullptr;
  if (!client) {
    CUniqueRegKey mail;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMailKey, 0, KEY_READ, mail.Out()) != ERROR_SUCCESS)
      return nullptr;
    DWORD type;
    if (!HrGetRegistryValueA(mail.Get(), nullptr, &type, &defaultName)) return nullptr;
    if (type != REG_SZ) {
      delete[] defaultName;
      return nullptr;
    }
    client = defaultName;
  }
  int n = std::snprintf(name, sizeof name, "%s\\%s", kMailKey, client);
  delete[] defaultName;
  if (n < 0 || static_cast<size_t>(n) > kMailKeyChars) return nullptr;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, name, 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
  return key;
}

void GetMapiMsiIds(const char* client, char** component, char** appLcid, char** officeLcid) {
  *component = *appLcid = *officeLcid = nullptr;
  CUniqueRegKey key(GetMailKey(client));
  if (!key) return;
  DWORD type;
  // Text values only: a number or list here names no component.
  auto read = [&](const char* valueName, char** out) {
    if (HrGetRegistryValueA(key.Get(), valueName, &type, out) && type == REG_DWORD) {
      delete[] *out;
      *out = nullptr;
    }
  };
  read("MSIComponentID", component);
  read("MSIApplicationLCID", appLcid);
  read("MSIOfficeLCID", officeLcid);
}

void GetMAPIPath(const char* client, char* path, size_t size) {
  if (!path || size == 0) return;
  path[0] = '\0';
  char *component, *appLcid, *officeLcid;
  GetMapiMsiIds(client, &component, &appLcid, &officeLcid);
  if (component) {
    DWORD length = static_cast<DWORD>(size);
    bool found = false;
    if (appLcid) found = GetComponentPath(component, appLcid, path, length) && path[0];
    if (!found && officeLcid) found = GetComponentPath(component, officeLcid, path, length) && path[0];
    if (!found) found = GetComponentPath(component, nullptr, path, length) && path[0];
    if (!found) path[0] = '\0';
  }
  delete[] component;
  delete[] appLcid;
  delete[] officeLcid;
}

void AutoLoadMAPI() {
  if (g_clientModule) {
    LoadMAPIFuncs(g_clientModule);
  } else {
    char path[MAX_PATH];
    GetMAPIPath(nullptr, path, sizeof path);
    if (path[0]) {
      g_clientModule = MyLoadLibrary(path);
      LoadMAPIFuncs(g_clientModule);
    }
  }
  if (!g_systemMapi) g_systemMapi = LoadFromSystemDir("mapi32.dll");
  if (!g_systemMapi) return;
  if (g_systemMapi != g_clientModule) LoadMAPIFuncs(g_systemMapi);
}

HMODULE MailClientMAPIModule() { return g_clientModule; }
HMODULE SystemMAPIModule() { return g_systemMapi; }

void SetComponentPathFunctionForTests(ComponentPathFunction function) {
  g_componentPathForTests = function;
}

void ResetMAPILoaderForTests() {
  for (const MAPIFuncEntry& entry : g_MAPIFuncs) *entry.slot = nullptr;
  g_clientModule = nullptr;
  g_systemMapi = nullptr;
  g_systemStub = nullptr;
  g_componentPath = nullptr;
}

// ---- wrappers ----
namespace mapi {
namespace {

// The slot as its function type, loading MAPI when it is empty.
template <typename Fn>
Fn Resolve(FARPROC& slot) {
  if (!slot) AutoLoadMAPI();
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(slot));
}

}  // namespace

HRESULT MAPIInitialize(LPVOID init) {
  auto fn = Resolve<HRESULT(STDMETHODCALLTYPE*)(LPVOID)>(g_slots.MAPIInitialize);
  return fn ? fn(init) : E_FAIL;
}

void MAPIUninitialize() {
  auto fn = Resolve<void(STDMETHODCALLTYPE*)()>(g_slots.MAPIUninitialize);
  if (fn) fn();
}

HRESULT MAPILogonEx(ULONG_PTR uiParam, LPSTR profile, LPSTR password, ULONG flags,
                    LPMAPISESSION* session) {
  auto fn = Resolve<HRESULT(STDMETHODCALLTYPE*)(ULONG_PTR, LPSTR, LPSTR, ULONG, LPMAPISESSION*)>(
      g_slots.MAPILogonEx);
  return fn ? fn(uiParam, profile, password, flags, session) : E_FAIL;
}

HRESULT HrGetOneProp(LPMAPIPROP object, ULONG tag, LPSPropValue* value) {
  auto fn = Resolve<HRESULT(STDAPICALLTYPE*)(LPMAPIPROP, ULONG, LPSPropValue*)>(
      g_slots.HrGetOneProp);
  return fn ? fn(object, tag, value) : E_FAIL;
}

HRESULT HrSetOneProp(LPMAPIPROP object, LPSPropValue value) {
  auto fn = Resolve<HRESULT(STDAPICALLTYPE*)(LPMAPIPROP, LPSPropValue)>(g_slots.HrSetOneProp);
  return fn ? fn(object, value) : E_FAIL;
}

ULONG MAPIFreeBuffer(LPVOID buffer) {
  if (!buffer) return 0;
  auto fn = Resolve<ULONG(STDAPICALLTYPE*)(LPVOID)>(g_slots.MAPIFreeBuffer);
  return fn ? fn(buffer) : 0;
}

void FreeProws(LPSRowSet rows) {
  auto fn = Resolve<void(STDAPICALLTYPE*)(LPSRowSet)>(g_slots.FreeProws);
  if (fn) fn(rows);
}

HRESULT RTFSync(LPMESSAGE message, ULONG flags, BOOL* updated) {
  auto fn = Resolve<HRESULT(STDAPICALLTYPE*)(LPMESSAGE, ULONG, BOOL*)>(g_slots.RTFSync);
  return fn ? fn(message, flags, updated) : E_FAIL;
}

}  // namespace mapi
}  // namespace mapilib
