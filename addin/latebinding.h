// Outlook's objects called by name through IDispatch: the member's DISPID
// from GetIDsOfNames, then Invoke. Every call reports an HRESULT; an
// exception the object raises ends the call with DISP_E_EXCEPTION and its
// description freed.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <initializer_list>

namespace mapilib {

// A VARIANT cleared when it goes.
class CVariant {
public:
  CVariant() noexcept { VariantInit(&value_); }
  ~CVariant() { VariantClear(&value_); }
  CVariant(const CVariant&) = delete;
  CVariant& operator=(const CVariant&) = delete;

  VARIANT* Out() noexcept {
    VariantClear(&value_);
    return &value_;
  }
  const VARIANT& Get() const noexcept { return value_; }
  // The value as an object (an interface of it), or null.
  IDispatch* Dispatch() const noexcept;
  // VT_BOOL's value; false for anything else.
  bool Bool() const noexcept { return value_.vt == VT_BOOL && value_.boolVal != VARIANT_FALSE; }
  // VT_BSTR's text; null for anything else.
  const wchar_t* Text() const noexcept { return value_.vt == VT_BSTR ? value_.bstrVal : nullptr; }

private:
  VARIANT value_;
};

// Reads a property.
HRESULT GetProperty(IDispatch* object, const wchar_t* name, CVariant& result);
// Calls a method with the arguments in call order (the first one first).
HRESULT CallMethod(IDispatch* object, const wchar_t* name, std::initializer_list<VARIANT> args,
                   CVariant* result);
// Argument builders for CallMethod; the text is not copied.
VARIANT LongArg(long value);
VARIANT TextArg(BSTR text);

}  // namespace mapilib
