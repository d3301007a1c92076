// Registry settings: plain access functions and typed entries with the
// product's fixed table of entries (Windows only).
//
// Every function opens and closes its key itself. `view` is ORed into every
// access mask (KEY_WOW64_64KEY, 0x100, selects the 64-bit view). Reads open
// with KEY_READ, writes create the key with KEY_WRITE. Text is narrow ANSI.
// Failures are reported as false, 0 or "not present"; nothing is logged.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/mystring.h"
#include "foundation/winhandles.h"

namespace tarvixlib {
namespace registry {

// The product's own key, under HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER.
constexpr char kProductKey[] = "SOFTWARE\\Zelvok\\tarvix";

constexpr uint32_t kDefaultView = 0;
constexpr uint32_t kView64 = KEY_WOW64_64KEY;  // 0x100

using StringList = std::vector<CMyStringA>;

// True and the value only for a REG_DWORD of exactly 4 bytes.
bool ReadDword(HKEY key, const char* valueName, uint32_t* value);
// The value, or `defaultValue` when the key cannot be opened or the value is
// missing or of another type or size.
uint32_t ReadDwordDefault(HKEY root, const char* path, const char* valueName,
                          uint32_t defaultValue, uint32_t view = kDefaultView);
// True only for a REG_SZ that fits `bufferSize` bytes with its terminator;
// the buffer is emptied first.
bool ReadString(HKEY root, const char* path, const char* valueName, char* buffer,
                size_t bufferSize, uint32_t view = kDefaultView);
// For a REG_SZ: its size in bytes (with the terminator), also stored in
// *size; the value is copied, terminated, when it fits *size bytes (buffer
// may be null to measure). 0 for anything else.
uint32_t ReadStringSize(HKEY root, const char* path, const char* valueName, char* buffer,
                        uint32_t* size, uint32_t view = kDefaultView);
// True for a REG_MULTI_SZ; the list is replaced by its non-empty strings.
bool ReadStringList(HKEY root, const char* path, const char* valueName, StringList& list,
                    uint32_t view = kDefaultView);

bool WriteDword(HKEY root, const char* path, const char* valueName, uint32_t value,
                uint32_t view = kDefaultView);
// REG_SZ with its terminating zero.
bool WriteString(HKEY root, const char* path, const char* valueName, const char* value,
                 uint32_t view = kDefaultView);
// REG_MULTI_SZ: each non-empty string and its zero, then one more zero; an
// empty list is written as two zero bytes. (An empty string inside the list
// would end it early, so empty strings are left out.)
bool WriteStringList(HKEY root, const char* path, const char* valueName, const StringList& list,
                     uint32_t view = kDefaultView);
// Always reports success.
bool DeleteValue(HKEY root, const char* path, const char* valueName, uint32_t view = kDefaultView);
// Deletes every sub-key (with its whole tree) except the one named `spared`
// (compared without regard to case; null spares none), then the key itself,
// which stays when a spared sub-key remains. True when the key could be
// opened.
bool DeleteKeyTree(HKEY root, const char* path, const char* spared, uint32_t view = kDefaultView);

// Wide-text access for COM registration, whose values hold file paths that
// need not fit the ANSI code page.
// An opened or newly created key, or an empty owner.
CUniqueRegKey CreateKeyW(HKEY root, const wchar_t* path, REGSAM access);
// Sets a REG_SZ with its terminating zero on an open key.
bool SetStringW(HKEY key, const wchar_t* valueName, const wchar_t* value);

// ---- typed entries ----

enum EntryType : uint32_t {
  kTypeKey = 0,
  kTypeKeyWithValue = 1,
  kTypeString = 2,
  kTypeStringList = 3,
  kTypeDword = 4,
};

class CMyRegistryEntryBase {
public:
  virtual ~CMyRegistryEntryBase() = default;
  // Without force an entry that is present is not written (false); with
  // force it always is. True when written.
  virtual bool Store(bool force) = 0;
  // Reads the item; returns (and sets) the present flag.
  virtual bool Load() = 0;
  // Only a present entry can be removed; it is then not present.
  virtual bool Remove() = 0;

  bool IsPresent() const { return present_ != 0; }
  uint32_t Type() const { return type_; }
  HKEY Root() const { return root_; }
  const char* Path() const { return path_.GetString(); }
  uint32_t View() const { return view_; }

protected:
  CMyRegistryEntryBase(HKEY root, const char* path, uint32_t view, uint32_t type)
      : root_(root), path_(path), view_(view), type_(type) {}

  HKEY root_;
  CMyStringA path_;
  uint8_t present_ = 0;
  uint32_t view_;
  uint32_t type_;
};

// A key: present when it can be opened.
class CMyRegistryEntryKey : public CMyRegistryEntryBase {
public:
  CMyRegistryEntryKey(HKEY root, const char* path, uint32_t view = kDefaultView)
      : CMyRegistryEntryBase(root, path, view, kTypeKey) {}
  bool Store(bool force) override;  // opens or creates the key; present flag unchanged
  bool Load() override;
  bool Remove() override;           // deletes the key tree

protected:
  CMyRegistryEntryKey(HKEY root, const char* path, uint32_t view, uint32_t type)
      : CMyRegistryEntryBase(root, path, view, type) {}
};

// A key with its default value.
class CMyRegistryEntryKeyWithValue : public CMyRegistryEntryKey {
public:
  CMyRegistryEntryKeyWithValue(HKEY root, const char* path, uint32_t view = kDefaultView)
      : CMyRegistryEntryKey(root, path, view, kTypeKeyWithValue) {}
  bool Store(bool force) override;  // refuses an empty value
  bool Load() override;
  const char* Value() const { return value_.GetString(); }
  void SetValue(const char* value) { value_.Assign(value); }

private:
  CMyStringA value_;
};

class CMyRegistryEntryValue : public CMyRegistryEntryBase {
public:
  const char* ValueName() const { return valueName_.GetString(); }
  bool Remove() override;  // deletes the value

protected:
  CMyRegistryEntryValue(HKEY root, const char* path, const char* valueName, uint32_t view,
                        uint32_t type)
      : CMyRegistryEntryBase(root, path, view, type), valueName_(valueName) {}
  virtual void ResetValue() = 0;

  CMyStringA valueName_;
};

// A REG_SZ read through a 260-byte buffer: a longer value is not present.
class CMyRegistryEntryString : public CMyRegistryEntryValue {
public:
  static constexpr size_t kBufferSize = 260;
  CMyRegistryEntryString(HKEY root, const char* path, const char* valueName,
                         uint32_t view = kDefaultView)
      : CMyRegistryEntryValue(root, path, valueName, view, kTypeString) {}
  bool Store(bool force) override;  // refuses an empty value
  bool Load() override;
  const char* Value() const { return value_.GetString(); }
  void SetValue(const char* value) { value_.Assign(value); }

protected:
  void ResetValue() override { value_.Empty(); }

private:
  CMyStringA value_;
};

class CMyRegistryEntryStringList : public CMyRegistryEntryValue {
public:
  CMyRegistryEntryStringList(HKEY root, const char* path, const char* valueName,
                             uint32_t view = kDefaultView)
      : CMyRegistryEntryValue(root, path, valueName, view, kTypeStringList) {}
  bool Store(bool force) override;  // refuses an empty list
  bool Load() override;
  const StringList& Value() const { return value_; }
  void SetValue(const StringList& value) { value_ = value; }

protected:
  void ResetValue() override { value_.clear(); }

private:
  StringList value_;
};

class CMyRegistryEntryDword : public CMyRegistryEntryValue {
public:
  CMyRegistryEntryDword(HKEY root, const char* path, const char* valueName,
                        uint32_t view = kDefaultView)
      : CMyRegistryEntryValue(root, path, valueName, view, kTypeDword) {}
  bool Store(bool force) override;
  bool Load() override;
  uint32_t Value() const { return value_; }
  void SetValue(uint32_t value) { value_ = value; }

protected:
  void ResetValue() override { value_ = 0; }

private:
  uint32_t value_ = 0;
};

// ---- the product's entry table ----

enum EntryId : int {
  kSafeModeMinimal,
  kSafeModeNetwork,
  kLegacySafeModeMinimal,
  kLegacySafeModeNetwork,
  kUserProductKey,
  kServiceGroupOrder,
  kOfflineFilesDatabaseLocation,
  kOfflineFilesEnabled,
  kStartupEntry,
  kSecurityCentreRegistration,
  kProductType,
  kProductName,
  kInstallationPath,
  kUpdateRestartRequest,
  kServiceStarted,
  kEntryCount
};

// One row of the table.
struct EntryDefinition {
  EntryId id;
  uint32_t type;
  HKEY root;
  const char* path;
  const char* valueName;  // null for keys
  uint32_t view;
};
const EntryDefinition& GetEntryDefinition(EntryId id);

// The process-wide owner of the table's entries (CSingleton<CMyRegistry>).
// Each entry is created and loaded on its first request and published with
// release ordering; callers request a given entry for the first time from
// one thread only. Destroying the owner deletes the entries.
class CMyRegistry {
public:
  CMyRegistry() = default;
  ~CMyRegistry();
  CMyRegistry(const CMyRegistry&) = delete;
  CMyRegistry& operator=(const CMyRegistry&) = delete;

  // Null for an identifier outside the table or when memory is short.
  CMyRegistryEntryBase* GetEntry(EntryId id);
  // The entry only when it is a string entry.
  CMyRegistryEntryString* GetStringEntry(EntryId id);
  // Copies a string entry's value when the entry is present.
  bool ReadStringEntry(EntryId id, CMyStringA& out);

private:
  std::atomic<CMyRegistryEntryBase*> entries_[kEntryCount] = {};
};

// The process-wide table.
CMyRegistry& Registry();

}  // namespace registry
}  // namespace tarvixlib
