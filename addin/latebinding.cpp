#include "addin/latebinding.h"

#include <vector>

#include "foundation/winhandles.h"

namespace mapilib {

IDispatch* CVariant::Dispatch() const noexcept {
  if (value_.vt == VT_DISPATCH) return value_.pdispVal;
  if (value_.vt == (VT_DISPATCH | VT_BYREF) && value_.ppdispVal) return *value_.ppdispVal;
  return nullptr;
}

namespace {

HRESULT Invoke(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT>& args,
               CVariant* result) {
  if (!object) return E_POINTER;
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  // DISPPARAMS holds the last argument first.
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                       static_cast<UINT>(reversed.size()), 0};
  EXCEPINFO exception = {};
  UINT argError = 0;
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                      result ? result->Out() : nullptr, &exception, &argError);
  // The exception's texts are ours to free, whatever the call returned.
  tarvixlib::CUniqueBstr source(exception.bstrSource);
  tarvixlib::CUniqueBstr description(exception.bstrDescription);
  tarvixlib::CUniqueBstr helpFile(exception.bstrHelpFile);
  return hr;
}

}  // namespace

HRESULT GetProperty(IDispatch* object, const wchar_t* name, CVariant& result) {
  std::vector<VARIANT> none;
  return Invoke(object, name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, none, &result);
}

HRESULT CallMethod(IDispatch* object, const wchar_t* name, std::initializer_list<VARIANT> args,
                   CVariant* result) {
  std::vector<VARIANT> list(args);
  return Invoke(object, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, list, result);
}

VARIANT LongArg(long value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

VARIANT TextArg(BSTR text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = text;
  return v;
}

}  // namespace mapilib
