#include "addin/connect.h"

#include "addin/module.h"

namespace mapilib {

using tarvixlib::CComPtr;

HRESULT CConnect::Create(IUnknown* outer, REFIID iid, void** result) {
  return tarvixlib::CComAggregatableCreate<CConnect>(outer, iid, result);
}

void* CConnect::QueryOther(REFIID iid) noexcept {
  return IsEqualIID(iid, IID_IDispatch) ? static_cast<IDispatch*>(static_cast<IConnect*>(this))
                                        : nullptr;
}

HRESULT CConnect::ConnectTypeInfo(ITypeInfo** info) noexcept {
  *info = nullptr;
  if (!typeInfo_) {
    wchar_t path[MAX_PATH];
    if (!NorvellaModule().ModulePath(path, MAX_PATH)) return TYPE_E_CANTLOADLIBRARY;
    CComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, library.Out());
    if (FAILED(hr)) return hr;
    hr = library->GetTypeInfoOfGuid(IID_IConnect, typeInfo_.Out());
    if (FAILED(hr)) return hr;
  }
  return typeInfo_.QueryTo(IID_ITypeInfo, reinterpret_cast<void**>(info));
}

HRESULT CConnect::GetTypeInfoCount(UINT* count) noexcept {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT CConnect::GetTypeInfo(UINT index, LCID, ITypeInfo** info) noexcept {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return ConnectTypeInfo(info);
}

HRESULT CConnect::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                DISPID* ids) noexcept {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  CComPtr<ITypeInfo> info;
  HRESULT hr = ConnectTypeInfo(info.Out());
  if (FAILED(hr)) return hr;
  return DispGetIDsOfNames(info.Get(), names, count, ids);
}

HRESULT CConnect::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, UINT* argumentError) noexcept {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  CComPtr<ITypeInfo> info;
  HRESULT hr = ConnectTypeInfo(info.Out());
  if (FAILED(hr)) return hr;
  return DispInvoke(static_cast<IConnect*>(this), info.Get(), id, flags, params, result, exception,
                    argumentError);
}

// The event routing is not built yet (see connect.h): these keep the
// application for it and report success.
HRESULT CConnect::OnConnection(IDispatch* application, ext_ConnectMode, IDispatch*,
                               SAFEARRAY**) noexcept {
  application_ = CComPtr<IDispatch>(application);
  return S_OK;
}

HRESULT CConnect::OnDisconnection(ext_DisconnectMode, SAFEARRAY**) noexcept { return S_OK; }

HRESULT CConnect::OnAddInsUpdate(SAFEARRAY**) noexcept { return S_OK; }

HRESULT CConnect::OnStartupComplete(SAFEARRAY**) noexcept { return S_OK; }

HRESULT CConnect::OnBeginShutdown(SAFEARRAY**) noexcept { return S_OK; }

}  // namespace mapilib
