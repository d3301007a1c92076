#include "console/bstr.h"

#include <cstdlib>

#include "foundation/textconv.h"

namespace tarvixconsole {

void CBstr::AssignAnsi(const char* text) {
  Reset();
  if (!text) return;
  int length = tarvixlib::AnsiToWide(nullptr, text, 0);  // without terminator
  if (length < 0) length = 0;
  m_text = SysAllocStringLen(nullptr, static_cast<UINT>(length));  // adds the terminator
  if (!m_text) abort();
  m_text[0] = L'\0';
  if (length > 0 && tarvixlib::AnsiToWide(m_text, text, length + 1) <= 0) m_text[0] = L'\0';
}

tarvixlib::CMyStringA CBstr::ToAnsi() const {
  tarvixlib::CMyStringA text;
  if (m_text && m_text[0]) text.AssignAnsiFromWide(m_text);
  return text;
}

}  // namespace tarvixconsole
