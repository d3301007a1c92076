// Owner of one BSTR, and the conversions the client makes at the COM border.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "foundation/mystring.h"

namespace tarvixconsole {

class CBstr {
public:
  CBstr() = default;
  CBstr(const CBstr&) = delete;
  CBstr& operator=(const CBstr&) = delete;
  ~CBstr() { Reset(); }

  BSTR Get() const { return m_text; }
  // Frees what it holds and presets the slot to null for an out argument.
  BSTR* Out() {
    Reset();
    return &m_text;
  }
  // Address of the held string, for input strings passed by address.
  BSTR* In() { return &m_text; }
  void Reset() {
    if (m_text) SysFreeString(m_text);
    m_text = nullptr;
  }
  // ANSI code page text to a BSTR; null gives a null BSTR. Running out of
  // memory here ends the process: no operation can go on without it.
  void AssignAnsi(const char* text);

  // The text in the ANSI code page; a null or empty string gives "".
  tarvixlib::CMyStringA ToAnsi() const;

private:
  BSTR m_text = nullptr;
};

}  // namespace tarvixconsole
