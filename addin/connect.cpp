#include "addin/connect.h"

#include <atomic>
#include <cwchar>
#include <string>

#include "addin/latebinding.h"
#include "addin/mapiloader.h"
#include "addin/module.h"
#include "addin/scanmessage.h"
#include "foundation/asciitext.h"
#include "foundation/winhandles.h"
#include "registry/registry.h"

namespace mapilib {

using tarvixlib::CComPtr;
using tarvixlib::CMyStringW;
using tarvixlib::CUniqueBstr;
namespace registry = tarvixlib::registry;

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

// ---- lifecycle and event routing ----

namespace {

// The message class rule: Outlook's mail classes, S/MIME ones included.
bool IsMailClass(const wchar_t* messageClass) {
  return messageClass && std::wcsncmp(messageClass, L"IPM.Note", 8) == 0;
}

// A registry switch: the value as text, empty when it is missing, too long
// or unreadable (the read's result is not looked at).
bool SwitchIs(const char* value, const char* text) {
  char buffer[CConnect::kSwitchSize] = {};
  uint32_t size = CConnect::kSwitchSize;
  registry::ReadStringSize(HKEY_CURRENT_USER, registry::kProductKey, value, buffer, &size);
  buffer[CConnect::kSwitchSize - 1] = 0;
  return tarvixlib::AsciiEqualsNoCase(buffer, text);
}

// The mail item behind an item object; null when it is none.
CComPtr<IDispatch> AsMailItem(IDispatch* item) {
  CComPtr<IDispatch> mail;
  if (item) item->QueryInterface(IID_OutlookMailItem, mail.OutVoid());
  return mail;
}

// The item's MessageClass, empty when it cannot be read.
CMyStringW MessageClassOf(IDispatch* mail) {
  CVariant value;
  if (SUCCEEDED(GetProperty(mail, L"MessageClass", value)) && value.Text())
    return CMyStringW(value.Text());
  return CMyStringW();
}

// MAPIOBJECT: the item's MAPI message; null when there is none.
CComPtr<IUnknown> MapiObjectOf(IDispatch* mail) {
  CVariant value;
  CComPtr<IUnknown> message;
  if (FAILED(GetProperty(mail, L"MAPIOBJECT", value))) return message;
  const VARIANT& v = value.Get();
  if ((v.vt == VT_UNKNOWN || v.vt == VT_DISPATCH) && v.punkVal) message = CComPtr<IUnknown>(v.punkVal);
  return message;
}

// An event argument as an object, whether Outlook passed it by value or by
// reference.
IDispatch* ObjectArg(const VARIANT& arg) {
  if (arg.vt == VT_DISPATCH) return arg.pdispVal;
  if (arg.vt == (VT_DISPATCH | VT_BYREF) && arg.ppdispVal) return *arg.ppdispVal;
  return nullptr;
}

}  // namespace

const char* const kLegacyProbeKeys[] = {
    "Software\\Microsoft\\Office\\15.0\\Common\\LanguageResources",
    "Software\\Microsoft\\Office\\14.0\\Common\\LanguageResources",
    "Software\\Microsoft\\Office\\12.0\\Common\\LanguageResources",
    "Software\\Microsoft\\Office\\11.0\\Common\\LanguageResources",
};

bool CConnect::LegacyOffice() {
  auto language = [](const char* key) {
    uint32_t value = registry::ReadDwordDefault(HKEY_CURRENT_USER, key, "InstallLanguage", 0);
    if (value == 0) value = registry::ReadDwordDefault(HKEY_CURRENT_USER, key, "SKULanguage", 0);
    return value;
  };
  if (language(kLegacyProbeKeys[3]) == 0) return false;
  for (int i = 0; i < 3; ++i)
    if (language(kLegacyProbeKeys[i]) != 0) return false;
  return true;
}

CConnect::CConnect() : junkFolderName_(LegacyOffice() ? "Junk-E-Mail" : "Junk E-mail") {
  for (int i = 0; i < kSinkCount; ++i) {
    cookies_[i] = kNoCookie;
    sinks_[i] = tarvixlib::CComObjectMake<CEventSink>(this, kSinkTable[i]);
  }
}

CConnect::~CConnect() {
  // A source may still hold a sink: it must not reach this object.
  for (auto& sink : sinks_) sink->Orphan();
}

HRESULT CConnect::Advise(int index) {
  if (cookies_[index] != kNoCookie) return E_FAIL;
  IDispatch* source = sources_[index].Get();
  if (!source) return E_POINTER;
  CComPtr<IConnectionPointContainer> container;
  HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, container.OutVoid());
  if (FAILED(hr)) return hr;
  CComPtr<IConnectionPoint> point;
  hr = container->FindConnectionPoint(*kSinkTable[index].events, point.Out());
  if (FAILED(hr)) return hr;
  DWORD cookie = 0;
  hr = point->Advise(static_cast<IDispatch*>(sinks_[index].Get()), &cookie);
  if (SUCCEEDED(hr)) cookies_[index] = cookie;
  return hr;
}

void CConnect::Unadvise(int index) {
  if (cookies_[index] == kNoCookie) return;
  CComPtr<IConnectionPointContainer> container;
  CComPtr<IConnectionPoint> point;
  if (sources_[index] &&
      SUCCEEDED(sources_[index]->QueryInterface(IID_IConnectionPointContainer,
                                                container.OutVoid())) &&
      SUCCEEDED(container->FindConnectionPoint(*kSinkTable[index].events, point.Out())))
    point->Unadvise(cookies_[index]);
  cookies_[index] = kNoCookie;
}

void CConnect::StoreExplorer(IDispatch* explorer) {
  explorer_ = CComPtr<IDispatch>(explorer);
  sources_[kSinkSelectionChange] = explorer_;
}

HRESULT CConnect::OnConnection(IDispatch* application, ext_ConnectMode, IDispatch*,
                               SAFEARRAY**) noexcept {
  CComPtr<IDispatch> app;
  if (!application ||
      FAILED(application->QueryInterface(IID_OutlookApplication, app.OutVoid())) || !app)
    return S_OK;  // not Outlook: stay inactive

  CVariant version;
  activeVersion_ = 0;
  if (SUCCEEDED(GetProperty(app.Get(), L"Version", version)) && version.Text()) {
    wchar_t major[3] = {0, 0, 0};
    std::wcsncpy(major, version.Text(), 2);
    activeVersion_ = std::wcstol(major, nullptr, 10);
  }
  if (activeVersion_ < kFirstActiveVersion) {
    activeVersion_ = 0;
    return S_OK;
  }

  // The junk folder's display name; it keeps its default when Outlook
  // cannot tell it.
  CUniqueBstr mapi(SysAllocString(L"MAPI"));
  CVariant session, folder, name;
  if (SUCCEEDED(CallMethod(app.Get(), L"GetNamespace", {TextArg(mapi.Get())}, &session)) &&
      SUCCEEDED(CallMethod(session.Dispatch(), L"GetDefaultFolder", {LongArg(kJunkFolder)},
                           &folder)) &&
      SUCCEEDED(GetProperty(folder.Dispatch(), L"Name", name)) && name.Text())
    junkFolderName_.AssignAnsiFromWide(name.Text());

  if (SwitchIs(kDeactivateValue, "true")) {
    activeVersion_ = 0;
    return S_OK;
  }
  if (SwitchIs(kOnNewValue, "false")) newMailSinkWanted_ = false;

  application_ = app;
  sources_[kSinkItemSend] = sources_[kSinkNewMailEx] = sources_[kSinkItemLoad] = app;
  CVariant explorer;
  if (SUCCEEDED(CallMethod(app.Get(), L"ActiveExplorer", {}, &explorer)))
    StoreExplorer(explorer.Dispatch());

  HRESULT hr = Advise(kSinkItemSend);
  if (FAILED(hr)) return hr;
  if (newMailSinkWanted_) {
    hr = Advise(kSinkNewMailEx);
    if (FAILED(hr)) return hr;
  }
  hr = Advise(kSinkItemLoad);
  if (FAILED(hr)) return hr;
  explorerSinkAdvised_ = explorer_ && SUCCEEDED(Advise(kSinkSelectionChange));

  mapi::MAPIInitialize(nullptr);  // its result does not matter here
  return S_OK;
}

HRESULT CConnect::OnDisconnection(ext_DisconnectMode, SAFEARRAY**) noexcept {
  if (activeVersion_ == 0) return S_OK;
  Unadvise(kSinkItemSend);
  if (newMailSinkWanted_) Unadvise(kSinkNewMailEx);
  Unadvise(kSinkItemLoad);
  if (explorerSinkAdvised_) Unadvise(kSinkSelectionChange);
  explorerSinkAdvised_ = false;
  mapi::MAPIUninitialize();
  return S_OK;
}

HRESULT CConnect::OnAddInsUpdate(SAFEARRAY**) noexcept { return S_OK; }

HRESULT CConnect::OnStartupComplete(SAFEARRAY**) noexcept {
  return activeVersion_ != 0 ? S_OK : E_NOTIMPL;
}

HRESULT CConnect::OnBeginShutdown(SAFEARRAY**) noexcept { return S_OK; }

namespace {
std::atomic<CConnect::ForegroundSource> g_foreground{nullptr};
}  // namespace

void CConnect::SetForegroundSourceForTests(ForegroundSource source) { g_foreground = source; }

bool CConnect::KnowParentWindow() {
  if (!parentWindow_) {
    ForegroundSource source = g_foreground.load();
    parentWindow_ = source ? source() : GetForegroundWindow();
  }
  return parentWindow_ != nullptr;
}

void CConnect::OnItemSend(DISPPARAMS* params) {
  KnowParentWindow();
  // ItemSend(Item, Cancel): DISPPARAMS holds Cancel first.
  if (!params || params->cArgs != 2) return;
  VARIANT& cancel = params->rgvarg[0];
  CComPtr<IDispatch> mail = AsMailItem(ObjectArg(params->rgvarg[1]));
  if (!mail) return;
  CVariant saved;
  if (FAILED(GetProperty(mail.Get(), L"Saved", saved))) return;
  if (!saved.Bool() && FAILED(CallMethod(mail.Get(), L"Save", {}, nullptr))) return;
  CComPtr<IUnknown> message = MapiObjectOf(mail.Get());
  if (!message || !parentWindow_) return;
  CMyStringW messageClass = MessageClassOf(mail.Get());
  bool threat = ScanMessage(junkFolderName_, message.Get(), parentWindow_, false, messageClass,
                            false);
  if (cancel.vt == (VT_BOOL | VT_BYREF) && cancel.pboolVal)
    *cancel.pboolVal = threat ? VARIANT_TRUE : VARIANT_FALSE;
}

void CConnect::OnNewMailEx(DISPPARAMS* params) {
  KnowParentWindow();
  if (!params || params->cArgs != 1) return;
  const VARIANT& list = params->rgvarg[0];
  const wchar_t* ids = list.vt == VT_BSTR                                   ? list.bstrVal
                       : list.vt == (VT_BSTR | VT_BYREF) && list.pbstrVal ? *list.pbstrVal
                                                                            : nullptr;
  if (!ids || !*ids || !application_) return;
  CVariant explorer, session;
  if (FAILED(CallMethod(application_.Get(), L"ActiveExplorer", {}, &explorer)) ||
      !explorer.Dispatch() || FAILED(GetProperty(explorer.Dispatch(), L"Session", session)) ||
      !session.Dispatch())
    return;
  std::wstring all(ids);
  for (size_t start = 0; start <= all.size();) {
    size_t comma = all.find(L',', start);
    if (comma == std::wstring::npos) comma = all.size();
    std::wstring id = all.substr(start, comma - start);
    start = comma + 1;
    if (id.empty()) continue;
    CUniqueBstr entryId(SysAllocStringLen(id.data(), static_cast<UINT>(id.size())));
    CVariant item;
    if (FAILED(CallMethod(session.Dispatch(), L"GetItemFromID", {TextArg(entryId.Get())}, &item)))
      continue;
    CComPtr<IDispatch> mail = AsMailItem(item.Dispatch());
    if (!mail) continue;
    CMyStringW messageClass = MessageClassOf(mail.Get());
    if (!IsMailClass(messageClass)) continue;
    CComPtr<IUnknown> message = MapiObjectOf(mail.Get());
    if (message && parentWindow_)
      ScanMessage(junkFolderName_, message.Get(), parentWindow_, true, messageClass, true);
  }
}

void CConnect::OnItemLoad(DISPPARAMS*) {
  if (activeVersion_ == 0) return;
  if (!explorer_ && application_) {
    CVariant explorer;
    if (SUCCEEDED(CallMethod(application_.Get(), L"ActiveExplorer", {}, &explorer)))
      StoreExplorer(explorer.Dispatch());
  }
  if (explorerSinkAdvised_ || !explorer_) return;
  explorerSinkAdvised_ = SUCCEEDED(Advise(kSinkSelectionChange));
}

void CConnect::OnSelectionChange(DISPPARAMS*) {
  KnowParentWindow();
  CVariant selection, count;
  if (!explorer_ || FAILED(GetProperty(explorer_.Get(), L"Selection", selection)) ||
      FAILED(GetProperty(selection.Dispatch(), L"Count", count)))
    return;
  VARIANT number;
  VariantInit(&number);
  if (FAILED(VariantChangeType(&number, const_cast<VARIANT*>(&count.Get()), 0, VT_I4)) ||
      number.lVal < 1)
    return;
  CVariant item;
  if (FAILED(CallMethod(selection.Dispatch(), L"Item", {LongArg(1)}, &item))) return;
  CComPtr<IDispatch> mail = AsMailItem(item.Dispatch());
  if (!mail) return;
  CMyStringW messageClass = MessageClassOf(mail.Get());
  CVariant sent;
  if (!IsMailClass(messageClass) || FAILED(GetProperty(mail.Get(), L"Sent", sent)) || !sent.Bool())
    return;
  CComPtr<IUnknown> message = MapiObjectOf(mail.Get());
  if (message && parentWindow_)
    ScanMessage(junkFolderName_, message.Get(), parentWindow_, true, messageClass, false);
}

}  // namespace mapilib
