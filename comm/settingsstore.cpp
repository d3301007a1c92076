#include "comm/settingsstore.h"

#include <new>

namespace tarvixlib {
namespace comm {

namespace {
const char kBlanks[] = " \t";

bool EqualsNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char ca = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a + 32) : *a;
    char cb = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b + 32) : *b;
    if (ca != cb) return false;
    if (!ca) return true;
  }
}

CMyStringA Trimmed(const char* text) {
  CMyStringA s(text ? text : "");
  s.Trim(kBlanks);
  return s;
}
}  // namespace

bool CSettingsStore::SetValue(const char* name, const char* value) {
  CMyStringA key = Trimmed(name);
  if (key.IsEmpty()) return false;
  CMyStringA* stored = new (std::nothrow) CMyStringA(Trimmed(value));
  if (!stored) return false;
  if (!values_.Set(key.GetString(), stored)) {
    delete stored;
    return false;
  }
  return true;
}

const char* CSettingsStore::GetValue(const char* name) const {
  CMyStringA key = Trimmed(name);
  CMyStringA* value = nullptr;
  if (key.IsEmpty() || !values_.Get(key.GetString(), &value) || !value) return nullptr;
  return value->GetString();
}

bool CSettingsStore::IsYes(const char* name, bool defaultYes) const {
  const char* value = GetValue(name);
  if (!value) return defaultYes;
  return EqualsNoCase(value, "yes");
}

bool CSettingsStore::Remove(const char* name) {
  CMyStringA key = Trimmed(name);
  return !key.IsEmpty() && values_.Remove(key.GetString());
}

}  // namespace comm
}  // namespace tarvixlib
