// The conversions the client makes at the COM border, between ANSI text and
// BSTRs owned by tarvixlib::CUniqueBstr.
//
//   tarvixlib::CUniqueBstr name = BstrFromAnsi(fileName);
//   tarvixlib::CUniqueBstr date;
//   engine->RetrieveLastScan(CBstrInput(name), date.Out());
//   tarvixlib::CMyStringA text = AnsiFromBstr(date.Get());
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "foundation/mystring.h"
#include "foundation/winhandles.h"

namespace tarvixconsole {

// ANSI code page text to a new BSTR; null gives a null BSTR. Running out of
// memory here ends the process: no operation can go on without it.
tarvixlib::CUniqueBstr BstrFromAnsi(const char* text);

// The text of a BSTR in the ANSI code page; a null or empty string gives "".
tarvixlib::CMyStringA AnsiFromBstr(BSTR text);

// The address the object's input strings are passed by. The object only
// reads through it; it points at a copy of the handle, so an object that
// wrote there anyway could not make the owner free the wrong string.
class CBstrInput {
public:
  explicit CBstrInput(const tarvixlib::CUniqueBstr& text) : m_text(text.Get()) {}
  operator BSTR*() { return &m_text; }

private:
  BSTR m_text;
};

}  // namespace tarvixconsole
