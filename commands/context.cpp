#include "commands/context.h"

#include <cstring>
#include <new>

#include "foundation/asciitext.h"

namespace tarvixlib {
namespace commands {

namespace {

CMyStringA Trimmed(const char* text) {
  CMyStringA s(text);
  s.Trim(" \t");
  return s;
}

}  // namespace

CCommandContext::CCommandContext() : variables_(64, /*exactCase=*/false, /*owned=*/true) {}

CCommandContext::~CCommandContext() = default;

bool CCommandContext::SetVariable(const char* name, const char* value) {
  CMyStringA key = Trimmed(name);
  if (key.IsEmpty()) return false;
  auto* stored = new (std::nothrow) CMyStringA(Trimmed(value));
  if (!stored) return false;
  if (!variables_.Set(key.GetString(), stored)) {
    delete stored;
    return false;
  }
  return true;
}

const char* CCommandContext::GetVariable(const char* name) const {
  CMyStringA key = Trimmed(name);
  CMyStringA* value = nullptr;
  return variables_.Get(key.GetString(), &value) && value ? value->GetString() : nullptr;
}

bool CCommandContext::IsYes(const char* name, bool defaultYes) const {
  const char* value = GetVariable(name);
  if (!value) return defaultYes;
  return AsciiEqualsNoCase(value, "yes");
}

void CCommandContext::ClearVariables() { variables_.Clear(); }

}  // namespace commands
}  // namespace tarvixlib
