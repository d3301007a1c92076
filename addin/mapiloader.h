// The MAPI loader: the add-in never links against a MAPI library. It finds
// the MAPI library of the installed mail client at run time (through the
// installer component named under Software\Clients\Mail), loads it and the
// system's mapi32.dll, and resolves the entry points into one table of
// slots. Each MAPI function the add-in calls has a wrapper here that loads
// MAPI on first use and fails softly when its slot stays empty: E_FAIL for
// an HRESULT, 0 from MAPIFreeBuffer, nothing for a function without result.
//
// The loaded modules and filled slots stay for the life of the process (a
// library is never unloaded: pointers into it may be held anywhere). No
// lock: the add-in's MAPI users all run on the mail client's thread, and
// two threads loading at once would only repeat idempotent lookups.
#pragma once

#include <windows.h>
#include <mapix.h>
#include <mapiutil.h>

#include <cstddef>

namespace mapilib {

// One table entry: the slot it fills and the entry point name. Decorated
// and plain names of one function share a slot; the first that resolves
// fills it.
struct MAPIFuncEntry {
  FARPROC* slot;
  const char* name;
};
constexpr size_t kMAPIFuncCount = 59;
extern const MAPIFuncEntry g_MAPIFuncs[kMAPIFuncCount];

// Loads MAPI (the mail client's library, then the system's mapi32.dll for
// whatever the first left empty) and fills the empty slots.
void AutoLoadMAPI();
// Fills every empty slot whose name the module exports.
void LoadMAPIFuncs(HMODULE module);

// The installer's FGetComponentPath (from the system's mapi32.dll, else
// mapistub.dll) with install-on-demand; false when unavailable or failed.
bool GetComponentPath(const char* component, const char* qualifier, char* path, DWORD length);
// HKLM "Software\Clients\Mail" (client null) or its sub-key of the named
// client (null: the default client's name is read first). Null on failure.
HKEY GetMailKey(const char* client);
// A registry value as a new buffer of its stored size (REG_SZ, REG_DWORD or
// REG_MULTI_SZ only; free with delete[]); false for a missing, empty or
// other-typed value.
bool HrGetRegistryValueA(HKEY key, const char* valueName, DWORD* type, char** value);
// The client's MSIComponentID, MSIApplicationLCID and MSIOfficeLCID (each
// may be null; free with delete[]).
void GetMapiMsiIds(const char* client, char** component, char** appLcid, char** officeLcid);
// The client's MAPI library path by its installer component: the
// application qualifier, then the office qualifier, then none. Empty when
// there is none. path holds MAX_PATH characters.
void GetMAPIPath(const char* client, char* path, size_t size);
// "<system folder>\<file>" loaded; null on failure.
HMODULE LoadFromSystemDir(const char* file);
HMODULE MyLoadLibrary(const char* path);

// The modules in use (null until loaded).
HMODULE MailClientMAPIModule();
HMODULE SystemMAPIModule();

// Tests only: the installer lookup instead of FGetComponentPath, and a
// reset of modules and slots (nothing is unloaded).
using ComponentPathFunction = BOOL(STDAPICALLTYPE*)(LPCSTR, LPSTR, LPSTR, DWORD, BOOL);
void SetComponentPathFunctionForTests(ComponentPathFunction function);
void ResetMAPILoaderForTests();

// ---- wrappers of the MAPI functions the add-in calls ----
namespace mapi {

HRESULT MAPIInitialize(LPVOID init);
void MAPIUninitialize();
HRESULT MAPILogonEx(ULONG_PTR uiParam, LPSTR profile, LPSTR password, ULONG flags,
                    LPMAPISESSION* session);
HRESULT HrGetOneProp(LPMAPIPROP object, ULONG tag, LPSPropValue* value);
HRESULT HrSetOneProp(LPMAPIPROP object, LPSPropValue value);
ULONG MAPIFreeBuffer(LPVOID buffer);
void FreeProws(LPSRowSet rows);
HRESULT RTFSync(LPMESSAGE message, ULONG flags, BOOL* updated);

}  // namespace mapi
}  // namespace mapilib
