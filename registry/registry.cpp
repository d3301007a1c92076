#include "registry/registry.h"

#include <cstring>
#include <new>

#include "foundation/singleton.h"
#include "foundation/winhandles.h"

namespace tarvixlib {
namespace registry {

namespace {

// An open key, or an empty owner when it cannot be opened.
CUniqueRegKey OpenKey(HKEY root, const char* path, REGSAM access) {
  HKEY key = nullptr;
  if (!root || RegOpenKeyExA(root, path ? path : "", 0, access, &key) != ERROR_SUCCESS)
    return CUniqueRegKey();
  return CUniqueRegKey(key);
}

// An opened or newly created key, or an empty owner.
CUniqueRegKey CreateKey(HKEY root, const char* path, REGSAM access) {
  HKEY key = nullptr;
  if (!root || RegCreateKeyExA(root, path ? path : "", 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                               nullptr, &key, nullptr) != ERROR_SUCCESS)
    return CUniqueRegKey();
  return CUniqueRegKey(key);
}

bool SetValue(HKEY root, const char* path, const char* valueName, DWORD type, const void* data,
              DWORD size, uint32_t view) {
  CUniqueRegKey key = CreateKey(root, path, KEY_WRITE | view);
  if (!key) return false;
  return RegSetValueExA(key.Get(), valueName, 0, type, static_cast<const BYTE*>(data), size) ==
         ERROR_SUCCESS;
}

// Reads a REG_SZ into buffer (size bytes) and terminates it; false for any
// other type or a value that does not fit with its terminator.
bool QueryString(HKEY key, const char* valueName, char* buffer, size_t size) {
  if (!buffer || size == 0) return false;
  buffer[0] = '\0';
  DWORD type = 0;
  DWORD bytes = static_cast<DWORD>(size > MAXDWORD ? MAXDWORD : size);
  LONG r = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
  if (r != ERROR_SUCCESS || type != REG_SZ) {
    buffer[0] = '\0';
    return false;
  }
  // Stored data need not end in a zero: make room for one.
  if (bytes > 0 && buffer[bytes - 1] == '\0') return true;
  if (bytes >= size) {
    buffer[0] = '\0';
    return false;
  }
  buffer[bytes] = '\0';
  return true;
}

}  // namespace

bool ReadDword(HKEY key, const char* valueName, uint32_t* value) {
  DWORD type = 0, data = 0, size = sizeof data;
  if (!key || RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(&data),
                               &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != 4)
    return false;
  if (value) *value = data;
  return true;
}

uint32_t ReadDwordDefault(HKEY root, const char* path, const char* valueName,
                          uint32_t defaultValue, uint32_t view) {
  CUniqueRegKey key = OpenKey(root, path, KEY_READ | view);
  uint32_t value = 0;
  if (!key || !ReadDword(key.Get(), valueName, &value))
    return defaultValue;
  return value;
}

bool ReadString(HKEY root, const char* path, const char* valueName, char* buffer,
                size_t bufferSize, uint32_t view) {
  if (buffer && bufferSize) buffer[0] = '\0';
  CUniqueRegKey key = OpenKey(root, path, KEY_READ | view);
  return key &&
         QueryString(key.Get(), valueName, buffer, bufferSize);
}

uint32_t ReadStringSize(HKEY root, const char* path, const char* valueName, char* buffer,
                        uint32_t* size, uint32_t view) {
  if (!size) return 0;
  CUniqueRegKey key = OpenKey(root, path, KEY_READ | view);
  if (!key) return 0;
  DWORD type = 0, needed = 0;
  if (RegQueryValueExA(key.Get(), valueName, nullptr, &type, nullptr, &needed) != ERROR_SUCCESS ||
      type != REG_SZ)
    return 0;
  if (buffer && *size > 0) {
    if (!QueryString(key.Get(), valueName, buffer, *size)) buffer[0] = '\0';
  }
  *size = needed;
  return needed;
}

bool ReadStringList(HKEY root, const char* path, const char* valueName, StringList& list,
                    uint32_t view) {
  CUniqueRegKey key = OpenKey(root, path, KEY_READ | view);
  if (!key) return false;
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExA(key.Get(), valueName, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ)
    return false;
  // Two spare zero bytes, so that data without its terminators still ends.
  std::vector<char> data(bytes + 2, '\0');
  DWORD got = bytes;
  if (RegQueryValueExA(key.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                       &got) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ)
    return false;
  StringList result;
  for (size_t at = 0; at < got;) {
    size_t length = std::strlen(data.data() + at);
    if (length) result.emplace_back(data.data() + at);
    at += length + 1;
  }
  list.swap(result);
  return true;
}

bool WriteDword(HKEY root, const char* path, const char* valueName, uint32_t value, uint32_t view) {
  DWORD data = value;
  return SetValue(root, path, valueName, REG_DWORD, &data, sizeof data, view);
}

bool WriteString(HKEY root, const char* path, const char* valueName, const char* value,
                 uint32_t view) {
  if (!value) value = "";
  size_t bytes = std::strlen(value) + 1;
  if (bytes > MAXDWORD) return false;
  return SetValue(root, path, valueName, REG_SZ, value, static_cast<DWORD>(bytes), view);
}

// The whole list is encoded, however long (a fixed work buffer would have to
// cut it).
bool WriteStringList(HKEY root, const char* path, const char* valueName, const StringList& list,
                     uint32_t view) {
  std::vector<char> data;
  for (const CMyStringA& s : list) {
    if (s.IsEmpty()) continue;
    data.insert(data.end(), s.GetString(), s.GetString() + s.GetLength() + 1);
  }
  data.push_back('\0');
  if (data.size() == 1) data.push_back('\0');  // an empty list: two zero bytes
  if (data.size() > MAXDWORD) return false;
  return SetValue(root, path, valueName, REG_MULTI_SZ, data.data(),
                  static_cast<DWORD>(data.size()), view);
}

bool DeleteValue(HKEY root, const char* path, const char* valueName, uint32_t view) {
  CUniqueRegKey key = OpenKey(root, path, KEY_WRITE | view);
  if (key) RegDeleteValueA(key.Get(), valueName);
  return true;
}

bool DeleteKeyTree(HKEY root, const char* path, const char* spared, uint32_t view) {
  CUniqueRegKey key = OpenKey(root, path, KEY_READ | KEY_WRITE | view);
  if (!key) return false;
  char name[1001];
  for (DWORD index = 0;;) {
    DWORD length = sizeof name;
    LONG r = RegEnumKeyExA(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_MORE_DATA) {  // a longer name than handled here: leave it
      ++index;
      continue;
    }
    if (r != ERROR_SUCCESS) break;
    if (spared && lstrcmpiA(name, spared) == 0) {
      ++index;
      continue;
    }
    // The same index names the next sub-key once this one is gone; a sub-key
    // that cannot be deleted is stepped over instead of tried for ever.
    DeleteKeyTree(key.Get(), name, nullptr, view);
    if (OpenKey(key.Get(), name, KEY_READ | view)) ++index;
  }
  key.Reset();
  RegDeleteKeyExA(root, path ? path : "", view, 0);
  return true;
}

CUniqueRegKey CreateKeyW(HKEY root, const wchar_t* path, REGSAM access) {
  CUniqueRegKey key;
  if (!root || RegCreateKeyExW(root, path ? path : L"", 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                               nullptr, key.Out(), nullptr) != ERROR_SUCCESS)
    return CUniqueRegKey();
  return key;
}

bool SetStringW(HKEY key, const wchar_t* valueName, const wchar_t* value) {
  if (!key || !value) return false;
  size_t bytes = (wcslen(value) + 1) * sizeof(wchar_t);
  if (bytes > MAXDWORD) return false;
  return RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                        static_cast<DWORD>(bytes)) == ERROR_SUCCESS;
}

// ---- entries ----

bool CMyRegistryEntryKey::Load() {
  present_ = OpenKey(root_, Path(), KEY_READ | view_) ? 1 : 0;
  return IsPresent();
}

bool CMyRegistryEntryKey::Store(bool force) {
  if (!force && IsPresent()) return false;
  return static_cast<bool>(CreateKey(root_, Path(), KEY_WRITE | view_));
}

bool CMyRegistryEntryKey::Remove() {
  if (!IsPresent()) return false;
  DeleteKeyTree(root_, Path(), nullptr, view_);
  present_ = OpenKey(root_, Path(), KEY_READ | view_) ? 1 : 0;
  return !IsPresent();
}

bool CMyRegistryEntryKeyWithValue::Load() {
  char buffer[CMyRegistryEntryString::kBufferSize];
  if (ReadString(root_, Path(), nullptr, buffer, sizeof buffer, view_)) {
    value_.Assign(buffer);
    present_ = 1;
  } else {
    present_ = 0;
  }
  return IsPresent();
}

bool CMyRegistryEntryKeyWithValue::Store(bool force) {
  if (!force && IsPresent()) return false;
  if (value_.IsEmpty()) return false;
  if (!WriteString(root_, Path(), nullptr, value_.GetString(), view_)) return false;
  present_ = 1;
  return true;
}

bool CMyRegistryEntryValue::Remove() {
  if (!IsPresent()) return false;
  DeleteValue(root_, Path(), ValueName(), view_);
  present_ = 0;
  ResetValue();
  return true;
}

bool CMyRegistryEntryString::Load() {
  char buffer[kBufferSize];
  if (ReadString(root_, Path(), ValueName(), buffer, sizeof buffer, view_)) {
    value_.Assign(buffer);
    present_ = 1;
  } else {
    present_ = 0;
  }
  return IsPresent();
}

bool CMyRegistryEntryString::Store(bool force) {
  if (!force && IsPresent()) return false;
  if (value_.IsEmpty()) return false;
  if (!WriteString(root_, Path(), ValueName(), value_.GetString(), view_)) return false;
  present_ = 1;
  return true;
}

bool CMyRegistryEntryStringList::Load() {
  StringList list;
  if (ReadStringList(root_, Path(), ValueName(), list, view_)) {
    value_.swap(list);
    present_ = 1;
  } else {
    present_ = 0;
  }
  return IsPresent();
}

bool CMyRegistryEntryStringList::Store(bool force) {
  if (!force && IsPresent()) return false;
  if (value_.empty()) return false;
  if (!WriteStringList(root_, Path(), ValueName(), value_, view_)) return false;
  present_ = 1;
  return true;
}

bool CMyRegistryEntryDword::Load() {
  CUniqueRegKey key = OpenKey(root_, Path(), KEY_READ | view_);
  uint32_t value = 0;
  if (key && ReadDword(key.Get(), ValueName(), &value)) {
    value_ = value;
    present_ = 1;
  } else {
    present_ = 0;
  }
  return IsPresent();
}

bool CMyRegistryEntryDword::Store(bool force) {
  if (!force && IsPresent()) return false;
  if (!WriteDword(root_, Path(), ValueName(), value_, view_)) return false;
  present_ = 1;
  return true;
}

// ---- the table ----

namespace {

const char kNetCache[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\NetCache";

const EntryDefinition kTable[kEntryCount] = {
    {kSafeModeMinimal, kTypeKey, HKEY_LOCAL_MACHINE,
     "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Minimal\\Tarvix", nullptr, kDefaultView},
    {kSafeModeNetwork, kTypeKey, HKEY_LOCAL_MACHINE,
     "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Network\\Tarvix", nullptr, kDefaultView},
    {kLegacySafeModeMinimal, kTypeKey, HKEY_LOCAL_MACHINE,
     "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Minimal\\NTKORVA", nullptr, kDefaultView},
    {kLegacySafeModeNetwork, kTypeKey, HKEY_LOCAL_MACHINE,
     "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Network\\NTKORVA", nullptr, kDefaultView},
    {kUserProductKey, kTypeKey, HKEY_CURRENT_USER, kProductKey, nullptr, kDefaultView},
    {kServiceGroupOrder, kTypeStringList, HKEY_LOCAL_MACHINE,
     "System\\CurrentControlSet\\Control\\ServiceGroupOrder", "List", kDefaultView},
    {kOfflineFilesDatabaseLocation, kTypeString, HKEY_LOCAL_MACHINE, kNetCache, "DatabaseLocation",
     kView64},
    {kOfflineFilesEnabled, kTypeDword, HKEY_LOCAL_MACHINE, kNetCache, "Enabled", kView64},
    {kStartupEntry, kTypeString, HKEY_LOCAL_MACHINE,
     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "ZELVOK-Tarvix", kDefaultView},
    {kSecurityCentreRegistration, kTypeDword, HKEY_LOCAL_MACHINE, kProductKey, "RegisteredWithWsc",
     kDefaultView},
    {kProductType, kTypeDword, HKEY_LOCAL_MACHINE, kProductKey, "ProductType", kView64},
    {kProductName, kTypeString, HKEY_LOCAL_MACHINE, kProductKey, "ProductName", kView64},
    {kInstallationPath, kTypeString, HKEY_LOCAL_MACHINE, kProductKey, "MainPath", kView64},
    {kUpdateRestartRequest, kTypeDword, HKEY_LOCAL_MACHINE, kProductKey, "RestartUpdate",
     kDefaultView},
    {kServiceStarted, kTypeDword, HKEY_LOCAL_MACHINE, kProductKey, "ServiceStarted", kDefaultView},
};

CMyRegistryEntryBase* CreateEntry(const EntryDefinition& d) {
  switch (d.type) {
    case kTypeKey: return new (std::nothrow) CMyRegistryEntryKey(d.root, d.path, d.view);
    case kTypeKeyWithValue: return new (std::nothrow) CMyRegistryEntryKeyWithValue(d.root, d.path, d.view);
    case kTypeString: return new (std::nothrow) CMyRegistryEntryString(d.root, d.path, d.valueName, d.view);
    case kTypeStringList:
      return new (std::nothrow) CMyRegistryEntryStringList(d.root, d.path, d.valueName, d.view);
    case kTypeDword: return new (std::nothrow) CMyRegistryEntryDword(d.root, d.path, d.valueName, d.view);
  }
  return nullptr;
}

}  // namespace

const EntryDefinition& GetEntryDefinition(EntryId id) { return kTable[id]; }

CMyRegistry::~CMyRegistry() {
  for (auto& slot : entries_) delete slot.exchange(nullptr);
}

CMyRegistryEntryBase* CMyRegistry::GetEntry(EntryId id) {
  if (id < 0 || id >= kEntryCount) return nullptr;
  CMyRegistryEntryBase* entry = entries_[id].load(std::memory_order_acquire);
  if (entry) return entry;
  entry = CreateEntry(kTable[id]);
  if (!entry) return nullptr;
  entry->Load();
  entries_[id].store(entry, std::memory_order_release);
  return entry;
}

CMyRegistryEntryString* CMyRegistry::GetStringEntry(EntryId id) {
  CMyRegistryEntryBase* entry = GetEntry(id);
  return entry && entry->Type() == kTypeString ? static_cast<CMyRegistryEntryString*>(entry)
                                               : nullptr;
}

bool CMyRegistry::ReadStringEntry(EntryId id, CMyStringA& out) {
  CMyRegistryEntryString* entry = GetStringEntry(id);
  if (!entry || !entry->IsPresent()) return false;
  out.Assign(entry->Value());
  return true;
}

CMyRegistry& Registry() { return CSingleton<CMyRegistry>::Instance(); }

}  // namespace registry
}  // namespace tarvixlib
