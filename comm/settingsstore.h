// Session variables: names to text values, names compared without regard
// to letter case. Names and values are stored trimmed of blanks and tabs.
#pragma once

#include "foundation/hashtable.h"
#include "foundation/mystring.h"

namespace tarvixlib {
namespace comm {

class CSettingsStore {
public:
  CSettingsStore() : values_(64, /*exactCase=*/false) {}
  virtual ~CSettingsStore() = default;
  CSettingsStore(const CSettingsStore&) = delete;
  CSettingsStore& operator=(const CSettingsStore&) = delete;

  // False for a name that is empty once trimmed, or when memory is short.
  virtual bool SetValue(const char* name, const char* value);
  bool SetBool(const char* name, bool value) { return SetValue(name, value ? "yes" : "no"); }
  // The stored value, or null.
  virtual const char* GetValue(const char* name) const;
  // Whether the value is "yes" (any case); a missing name counts as the
  // default.
  bool IsYes(const char* name, bool defaultYes) const;
  bool Remove(const char* name);
  size_t Count() const { return values_.Count(); }

private:
  CMyObjectHashTableT<const char*, CMyStringA> values_;
};

}  // namespace comm
}  // namespace tarvixlib
