#include "outlookmodel.h"

#include <olectl.h>

#include <cwctype>

#include "addin/outlookids.h"
#include "foundation/winhandles.h"

namespace tarvixstandin {
namespace outlook {

const IID IID_Application = outlookids::kApplication;
const IID IID_MailItem = outlookids::kMailItem;
const IID IID_ApplicationEvents = outlookids::kApplicationEvents;
const IID IID_ExplorerEvents = outlookids::kExplorerEvents;

namespace {

bool SameName(const std::wstring& a, const wchar_t* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  return i == a.size() && b[i] == 0;
}

void SetBool(VARIANT* v, bool value) {
  if (!v) return;
  VariantInit(v);
  v->vt = VT_BOOL;
  v->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void SetText(VARIANT* v, const std::wstring& text) {
  if (!v) return;
  VariantInit(v);
  v->vt = VT_BSTR;
  v->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

void SetObject(VARIANT* v, IDispatch* object) {
  if (!v) return;
  VariantInit(v);
  v->vt = VT_DISPATCH;
  v->pdispVal = object;
  if (object) object->AddRef();
}

// The value of an argument as a long (by value or by reference).
bool ArgLong(VARIANT* arg, long* value) {
  VARIANT copy;
  VariantInit(&copy);
  if (FAILED(VariantChangeType(&copy, arg, 0, VT_I4))) return false;
  *value = copy.lVal;
  return true;
}

bool ArgText(VARIANT* arg, std::wstring* text) {
  VARIANT copy;
  VariantInit(&copy);
  if (FAILED(VariantChangeType(&copy, arg, 0, VT_BSTR))) return false;
  *text = copy.bstrVal ? std::wstring(copy.bstrVal, SysStringLen(copy.bstrVal)) : L"";
  VariantClear(&copy);
  return true;
}

}  // namespace

// ---- CDispatchObject ----

CDispatchObject::CDispatchObject(const wchar_t* what) : what_(what) {}

CDispatchObject::~CDispatchObject() {
  if (events_) events_->Orphan();
}

void CDispatchObject::AddMember(const wchar_t* name, Member member) {
  members_.push_back(Entry{name, std::move(member)});
}

void CDispatchObject::AddGetter(const wchar_t* name, std::function<HRESULT(VARIANT*)> get) {
  AddMember(name, [get](WORD flags, const std::vector<VARIANT*>&, VARIANT* result) -> HRESULT {
    if (!(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    return get(result);
  });
}

void CDispatchObject::AddEvents(const IID& events) {
  if (events_) events_->Orphan();
  events_ = tarvixlib::CComObjectMake<CConnectionPoint>(
      events, static_cast<IConnectionPointContainer*>(this));
}

int CDispatchObject::Fire(DISPID dispid, std::vector<VARIANT> args) {
  return events_ ? events_->Fire(dispid, args) : 0;
}

size_t CDispatchObject::SinkCount() const { return events_ ? events_->SinkCount() : 0; }

int CDispatchObject::Calls(const wchar_t* name) const {
  for (const Entry& e : members_)
    if (SameName(e.name, name)) return e.calls;
  return 0;
}

HRESULT CDispatchObject::GetTypeInfoCount(UINT* count) noexcept {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT CDispatchObject::GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept { return E_NOTIMPL; }

HRESULT CDispatchObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                       DISPID* ids) noexcept {
  if (!names || !ids || count == 0) return E_INVALIDARG;
  HRESULT hr = S_OK;
  for (UINT n = 0; n < count; ++n) ids[n] = DISPID_UNKNOWN;
  for (size_t i = 0; i < members_.size(); ++i)
    if (names[0] && SameName(members_[i].name, names[0])) ids[0] = static_cast<DISPID>(i + 1);
  if (ids[0] == DISPID_UNKNOWN || count > 1) hr = DISP_E_UNKNOWNNAME;  // no named arguments
  return hr;
}

HRESULT CDispatchObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                VARIANT* result, EXCEPINFO*, UINT* argError) noexcept {
  if (id < 1 || static_cast<size_t>(id) > members_.size()) return DISP_E_MEMBERNOTFOUND;
  std::vector<VARIANT*> args;
  if (params) {
    if (params->cNamedArgs > 0 && !(flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)))
      return DISP_E_NONAMEDARGS;
    for (UINT i = params->cArgs; i > 0; --i) args.push_back(&params->rgvarg[i - 1]);
  }
  if (argError) *argError = 0;
  Entry& entry = members_[static_cast<size_t>(id - 1)];
  ++entry.calls;
  return entry.member(flags, args, result);
}

HRESULT CDispatchObject::EnumConnectionPoints(IEnumConnectionPoints** points) noexcept {
  if (points) *points = nullptr;
  return E_NOTIMPL;
}

HRESULT CDispatchObject::FindConnectionPoint(REFIID iid, IConnectionPoint** point) noexcept {
  if (!point) return E_POINTER;
  *point = nullptr;
  IID own;
  if (!events_ || FAILED(events_->GetConnectionInterface(&own)) || !IsEqualIID(own, iid))
    return CONNECT_E_NOCONNECTION;
  *point = events_.Get();
  (*point)->AddRef();
  return S_OK;
}

void* CDispatchObject::QueryOther(REFIID iid) noexcept {
  for (const Answer& answer : answers_)
    if (IsEqualIID(answer.iid, iid) && (!answer.when || *answer.when))
      return static_cast<IDispatch*>(this);
  return nullptr;
}

// ---- CConnectionPoint ----

HRESULT CConnectionPoint::GetConnectionInterface(IID* iid) noexcept {
  if (!iid) return E_POINTER;
  *iid = events_;
  return S_OK;
}

HRESULT CConnectionPoint::GetConnectionPointContainer(
    IConnectionPointContainer** container) noexcept {
  if (!container) return E_POINTER;
  *container = container_;
  if (!container_) return E_UNEXPECTED;
  container_->AddRef();
  return S_OK;
}

HRESULT CConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) noexcept {
  if (!sink || !cookie) return E_POINTER;
  *cookie = 0;
  // Outlook asks the sink for the event interface itself.
  CComPtr<IDispatch> events;
  if (FAILED(sink->QueryInterface(events_, reinterpret_cast<void**>(events.Out()))) || !events)
    return CONNECT_E_CANNOTCONNECT;
  *cookie = nextCookie_++;
  sinks_[*cookie] = events;
  ++advises_;
  return S_OK;
}

HRESULT CConnectionPoint::Unadvise(DWORD cookie) noexcept {
  if (sinks_.erase(cookie) == 0) return CONNECT_E_NOCONNECTION;
  ++unadvises_;
  return S_OK;
}

HRESULT CConnectionPoint::EnumConnections(IEnumConnections** connections) noexcept {
  if (connections) *connections = nullptr;
  return E_NOTIMPL;
}

int CConnectionPoint::Fire(DISPID dispid, std::vector<VARIANT>& args) {
  // DISPPARAMS holds the last argument first.
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                       static_cast<UINT>(reversed.size()), 0};
  // A sink may unadvise while it runs: call a copy of the list.
  std::vector<CComPtr<IDispatch>> sinks;
  for (auto& [cookie, sink] : sinks_) sinks.push_back(sink);
  for (const CComPtr<IDispatch>& sink : sinks)
    sink->Invoke(dispid, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
  return static_cast<int>(sinks.size());
}

// ---- COutlookModel ----

COutlookModel::COutlookModel(const wchar_t* version, const wchar_t* junkName)
    : version_(version), junkName_(junkName) {
  using tarvixlib::CComObjectMake;
  application_ = CComObjectMake<CDispatchObject>(L"application");
  namespace_ = CComObjectMake<CDispatchObject>(L"namespace");
  junkFolder_ = CComObjectMake<CDispatchObject>(L"junk folder");
  application_->AnswerAs(IID_Application);
  application_->AddEvents(IID_ApplicationEvents);

  application_->AddGetter(L"Version", [this](VARIANT* r) {
    SetText(r, version_);
    return S_OK;
  });
  application_->AddMember(L"GetNamespace", [this](WORD, const std::vector<VARIANT*>& args,
                                                  VARIANT* r) -> HRESULT {
    std::wstring type;
    if (args.size() != 1 || !ArgText(args[0], &type)) return DISP_E_BADPARAMCOUNT;
    if (namespaceFails_ || !SameName(type, L"MAPI")) return E_FAIL;
    SetObject(r, namespace_.Get());
    return S_OK;
  });
  application_->AddMember(L"ActiveExplorer", [this](WORD, const std::vector<VARIANT*>&,
                                                    VARIANT* r) -> HRESULT {
    SetObject(r, explorer_.Get());  // Nothing while there is no explorer
    return S_OK;
  });
  application_->AddGetter(L"Session", [this](VARIANT* r) -> HRESULT {
    SetObject(r, namespace_.Get());
    return S_OK;
  });

  namespace_->AddMember(L"GetDefaultFolder", [this](WORD, const std::vector<VARIANT*>& args,
                                                    VARIANT* r) -> HRESULT {
    long folder = 0;
    if (args.size() != 1 || !ArgLong(args[0], &folder)) return DISP_E_BADPARAMCOUNT;
    if (namespaceFails_ || folder != kFolderJunk) return E_FAIL;
    SetObject(r, junkFolder_.Get());
    return S_OK;
  });
  namespace_->AddMember(L"GetItemFromID", [this](WORD, const std::vector<VARIANT*>& args,
                                                 VARIANT* r) -> HRESULT {
    std::wstring id;
    if (args.empty() || args.size() > 2 || !ArgText(args[0], &id)) return DISP_E_BADPARAMCOUNT;
    CDispatchObject* item = Item(id);
    if (!item) return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0107);  // not found
    SetObject(r, item);
    return S_OK;
  });
  junkFolder_->AddGetter(L"Name", [this](VARIANT* r) {
    SetText(r, junkName_);
    return S_OK;
  });
}

COutlookModel::~COutlookModel() = default;

void COutlookModel::ShowExplorer() {
  if (explorer_) return;
  explorer_ = tarvixlib::CComObjectMake<CDispatchObject>(L"explorer");
  explorer_->AddEvents(IID_ExplorerEvents);
  explorer_->AddGetter(L"Session", [this](VARIANT* r) {
    SetObject(r, namespace_.Get());
    return S_OK;
  });
  explorer_->AddGetter(L"Selection", [this](VARIANT* r) {
    // A fresh selection object each time, as Outlook gives one.
    auto selection = tarvixlib::CComObjectMake<CDispatchObject>(L"selection");
    std::vector<std::wstring> ids = selection_;
    selection->AddGetter(L"Count", [ids](VARIANT* c) {
      VariantInit(c);
      c->vt = VT_I4;
      c->lVal = static_cast<long>(ids.size());
      return S_OK;
    });
    selection->AddMember(L"Item", [this, ids](WORD, const std::vector<VARIANT*>& args,
                                              VARIANT* item) -> HRESULT {
      long index = 0;
      if (args.size() != 1 || !ArgLong(args[0], &index)) return DISP_E_BADPARAMCOUNT;
      if (index < 1 || static_cast<size_t>(index) > ids.size()) return DISP_E_BADINDEX;
      SetObject(item, Item(ids[static_cast<size_t>(index - 1)]));
      return S_OK;
    });
    SetObject(r, selection.Get());
    return S_OK;
  });
}

void COutlookModel::AddMail(const MailSpec& spec) {
  specs_.push_back(std::make_unique<MailSpec>(spec));
  items_[spec.id] = MakeMailItem(specs_.back().get());
}

CDispatchObject* COutlookModel::Item(const std::wstring& id) {
  auto it = items_.find(id);
  return it == items_.end() ? nullptr : it->second.Get();
}

MailSpec* COutlookModel::Spec(const std::wstring& id) {
  for (auto& spec : specs_)
    if (spec->id == id) return spec.get();
  return nullptr;
}

namespace {

// References held beside the one the model keeps.
ULONG OtherReferences(IUnknown* object) {
  object->AddRef();
  return object->Release() - 1;
}

}  // namespace

std::vector<std::wstring> COutlookModel::HeldObjects() {
  std::vector<std::wstring> held;
  for (CDispatchObject* o : {application_.Get(), namespace_.Get(), junkFolder_.Get(), explorer_.Get()})
    if (o && OtherReferences(static_cast<IDispatch*>(o)) > 0) held.push_back(o->What());
  for (auto& [id, item] : items_)
    if (OtherReferences(static_cast<IDispatch*>(item.Get())) > 0) held.push_back(L"item " + id);
  for (auto& spec : specs_)
    if (spec->mapiObject && OtherReferences(spec->mapiObject.Get()) > 0)
      held.push_back(L"MAPIOBJECT of " + spec->id);
  return held;
}

std::wstring COutlookModel::MailOf(const void* message) {
  for (auto& spec : specs_)
    if (spec->mapiObject && static_cast<const void*>(spec->mapiObject.Get()) == message)
      return spec->id;
  return L"";
}

CComPtr<CDispatchObject> COutlookModel::MakeMailItem(MailSpec* spec) {
  auto item = tarvixlib::CComObjectMake<CDispatchObject>(spec->id.c_str());
  item->AnswerAs(IID_MailItem, &spec->answersMailItem);
  item->AddGetter(L"Saved", [spec](VARIANT* r) {
    SetBool(r, spec->saved);
    return S_OK;
  });
  item->AddMember(L"Save", [spec](WORD, const std::vector<VARIANT*>&, VARIANT*) -> HRESULT {
    if (spec->saveFails) return E_FAIL;
    spec->saved = true;
    return S_OK;
  });
  item->AddGetter(L"MessageClass", [spec](VARIANT* r) {
    SetText(r, spec->messageClass);
    return S_OK;
  });
  item->AddGetter(L"Sent", [spec](VARIANT* r) {
    SetBool(r, spec->sent);
    return S_OK;
  });
  item->AddGetter(L"MAPIOBJECT", [spec](VARIANT* r) -> HRESULT {
    if (!spec->mapiObject) return E_FAIL;
    VariantInit(r);
    r->vt = VT_UNKNOWN;
    r->punkVal = spec->mapiObject.Get();
    r->punkVal->AddRef();
    return S_OK;
  });
  return item;
}

bool COutlookModel::FireItemSend(const std::wstring& id, int* sinks) {
  CDispatchObject* item = Item(id);
  VARIANT_BOOL cancel = VARIANT_FALSE;
  std::vector<VARIANT> args(2);
  VariantInit(&args[0]);
  args[0].vt = VT_DISPATCH;
  args[0].pdispVal = item;  // the event holds no reference of its own
  VariantInit(&args[1]);
  args[1].vt = VT_BOOL | VT_BYREF;
  args[1].pboolVal = &cancel;
  int called = application_->Fire(kDispItemSend, args);
  if (sinks) *sinks = called;
  return cancel != VARIANT_FALSE;
}

int COutlookModel::FireNewMailEx(const std::wstring& idList) {
  std::vector<VARIANT> args(1);
  SetText(&args[0], idList);
  int called = application_->Fire(kDispNewMailEx, args);
  VariantClear(&args[0]);
  return called;
}

int COutlookModel::FireItemLoad(const std::wstring& id) {
  std::vector<VARIANT> args(1);
  VariantInit(&args[0]);
  args[0].vt = VT_DISPATCH;
  args[0].pdispVal = Item(id);
  return application_->Fire(kDispItemLoad, args);
}

int COutlookModel::FireSelectionChange() {
  return explorer_ ? explorer_->Fire(kDispSelectionChange, {}) : 0;
}

}  // namespace outlook
}  // namespace tarvixstandin
