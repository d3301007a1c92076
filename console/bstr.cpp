#include "console/bstr.h"

#include <cstdlib>

#include "foundation/textconv.h"

namespace tarvixconsole {

tarvixlib::CUniqueBstr BstrFromAnsi(const char* text) {
  if (!text) return tarvixlib::CUniqueBstr();
  int length = tarvixlib::AnsiToWide(nullptr, text, 0);  // without terminator
  if (length < 0) length = 0;
  tarvixlib::CUniqueBstr result(SysAllocStringLen(nullptr, static_cast<UINT>(length)));  // adds the terminator
  if (!result) abort();
  BSTR wide = result.Get();
  wide[0] = L'\0';
  if (length > 0 && tarvixlib::AnsiToWide(wide, text, length + 1) <= 0) wide[0] = L'\0';
  return result;
}

tarvixlib::CMyStringA AnsiFromBstr(BSTR text) {
  tarvixlib::CMyStringA ansi;
  if (text && text[0]) ansi.AssignAnsiFromWide(text);
  return ansi;
}

}  // namespace tarvixconsole
