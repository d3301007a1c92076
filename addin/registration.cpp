#include "addin/registration.h"

#include <olectl.h>

#include "foundation/myprintf.h"
#include "foundation/mystring.h"
#include "foundation/winhandles.h"
#include "registry/registry.h"

namespace mapilib {

namespace registry = tarvixlib::registry;

const wchar_t kConnectClsidText[] = L"{D57E5681-D0E1-4337-8125-DD613A2BACF9}";
const wchar_t kConnectProgId[] = L"norvella.Connect";
const char kOutlookAddinKey[] = "Software\\Microsoft\\Office\\Outlook\\Addins\\norvella.Connect";

namespace {

constexpr size_t kMaxText = 260;  // characters, terminator included

// One class row: "%s" in the key is the class id text, "%s" in the value
// the library path.
struct ClassRow {
  const wchar_t* key;
  const wchar_t* valueName;  // null: the key's default value
  const wchar_t* value;
};

const ClassRow kClassRows[] = {
    {L"CLSID\\%s", nullptr, L"ZELVOK Scanner Add-In"},
    {L"CLSID\\%s\\InprocServer32", nullptr, L"%s"},
    {L"CLSID\\%s\\InprocServer32", L"ThreadingModel", L"Apartment"},
    {L"CLSID\\%s\\DefaultIcon", nullptr, L"%s,0"},
    {L"norvella.Connect", nullptr, L"Connect Class"},
    {L"norvella.Connect\\CLSID", nullptr, kConnectClsidText},
};

// The template with its "%s" filled; false when the result would not fit.
bool FormatRowText(tarvixlib::CMyStringW& out, const wchar_t* format, const wchar_t* argument) {
  int n = tarvixlib::FormatToString(out, format, argument);
  return n > 0 && static_cast<size_t>(n) < kMaxText;  // no row is empty: 0 is a failure
}

}  // namespace

HRESULT RegisterAddin(const wchar_t* libraryPath, const RegistrationRoots& roots) {
  if (!libraryPath || !*libraryPath) return SELFREG_E_CLASS;
  for (const ClassRow& row : kClassRows) {
    tarvixlib::CMyStringW key, value;
    if (!FormatRowText(key, row.key, kConnectClsidText)) return SELFREG_E_CLASS;
    tarvixlib::CUniqueRegKey handle = registry::CreateKeyW(roots.classes, key.GetString(), KEY_WRITE);
    if (!handle) return SELFREG_E_CLASS;
    if (!FormatRowText(value, row.value, libraryPath)) return SELFREG_E_CLASS;
    registry::SetStringW(handle.Get(), row.valueName, value.GetString());
  }

  tarvixlib::CMyStringW outlookKey;
  outlookKey.AssignWideFromAnsi(kOutlookAddinKey);
  tarvixlib::CUniqueRegKey addin =
      registry::CreateKeyW(roots.machine, outlookKey.GetString(), KEY_WRITE);
  if (!addin) return SELFREG_E_CLASS;

  // Read afresh: a name changed since the table first loaded it counts.
  tarvixlib::CMyStringA productName;
  if (registry::CMyRegistryEntryString* entry = registry::Registry().GetStringEntry(registry::kProductName)) {
    if (entry->Load()) productName.Assign(entry->Value());
  }
  tarvixlib::CMyStringW name;
  name.AssignWideFromAnsi(productName.GetString());
  name.Append(L" Add-in");
  registry::SetStringW(addin.Get(), L"Description", name.GetString());
  registry::SetStringW(addin.Get(), L"FriendlyName", name.GetString());
  const DWORD loadAtStartup = 3;
  RegSetValueExW(addin.Get(), L"LoadBehavior", 0, REG_DWORD,
                 reinterpret_cast<const BYTE*>(&loadAtStartup), sizeof loadAtStartup);
  return S_OK;
}

HRESULT UnregisterAddin(const RegistrationRoots& roots) {
  tarvixlib::CMyStringA classKey;
  classKey.Format("CLSID\\%S", kConnectClsidText);
  tarvixlib::CMyStringA progIdKey;
  progIdKey.AssignAnsiFromWide(kConnectProgId);
  registry::DeleteKeyTree(roots.classes, classKey.GetString(), nullptr);
  registry::DeleteKeyTree(roots.classes, progIdKey.GetString(), nullptr);
  registry::DeleteKeyTree(roots.machine, kOutlookAddinKey, nullptr);
  return S_OK;
}

}  // namespace mapilib
