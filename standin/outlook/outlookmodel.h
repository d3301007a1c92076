// The stand-in Outlook object model: the few objects an add-in reaches
// through late binding (IDispatch by name), the connection points it
// advises its event sinks on, and the events Outlook fires at them.
//
//   application  Version, GetNamespace("MAPI"), ActiveExplorer; events
//                {0006304E-...}: ItemSend, NewMailEx, ItemLoad
//   namespace    GetDefaultFolder(23) (the junk folder: Name),
//                GetItemFromID(id)
//   explorer     Session, Selection (Count, Item(n)); events
//                {0006304F-...}: SelectionChange
//   mail item    Saved, Save, MAPIOBJECT, MessageClass, Sent
//
// The application answers _Application and each mail item _MailItem, both
// as the object's IDispatch. Everything runs on the thread that made the
// model (an apartment-threaded host).
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oaidl.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/comobject.h"
#include "foundation/comptr.h"

namespace tarvixstandin {
namespace outlook {

using tarvixlib::CComPtr;

extern const IID IID_Application;        // _Application
extern const IID IID_MailItem;           // _MailItem
extern const IID IID_ApplicationEvents;  // ApplicationEvents
extern const IID IID_ExplorerEvents;     // ExplorerEvents

constexpr DISPID kDispItemSend = 0xF002;
constexpr DISPID kDispNewMailEx = 0xFAB5;
constexpr DISPID kDispItemLoad = 0xFBA7;
constexpr DISPID kDispSelectionChange = 0xF007;
constexpr long kFolderJunk = 23;

class CConnectionPoint;

// A late-bound object: members found by name (letter case ignored), each a
// function of the call. With an event interface it is also a connection
// point container with one connection point for that interface.
class CDispatchObject : public tarvixlib::CComObject<IDispatch, IConnectionPointContainer> {
public:
  // flags: DISPATCH_METHOD / DISPATCH_PROPERTYGET / ...; args in call order
  // (the first argument first, unlike DISPPARAMS).
  using Member = std::function<HRESULT(WORD flags, const std::vector<VARIANT*>& args,
                                       VARIANT* result)>;

  explicit CDispatchObject(const wchar_t* what);
  ~CDispatchObject() override;

  void AddMember(const wchar_t* name, Member member);
  // A property that reads a value made on each call.
  void AddGetter(const wchar_t* name, std::function<HRESULT(VARIANT* result)> get);
  // Further interface ids this object answers with its IDispatch; with
  // `when`, only while that flag is set.
  void AnswerAs(const IID& iid, const bool* when = nullptr) { answers_.push_back({iid, when}); }
  // Makes this object an event source for `events`.
  void AddEvents(const IID& events);
  // Calls each advised sink: Invoke(dispid, DISPATCH_METHOD) with args as
  // given (the first argument first). The number of sinks called.
  int Fire(DISPID dispid, std::vector<VARIANT> args);
  // Sinks advised now.
  size_t SinkCount() const;
  const std::wstring& What() const { return what_; }
  // Calls of each member by name, for the report.
  int Calls(const wchar_t* name) const;

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) noexcept override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT* argError) noexcept override;
  // IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) noexcept override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid,
                                                IConnectionPoint** point) noexcept override;

protected:
  void* QueryOther(REFIID iid) noexcept override;

private:
  struct Entry {
    std::wstring name;
    Member member;
    int calls = 0;
  };
  std::wstring what_;
  std::vector<Entry> members_;
  struct Answer {
    IID iid;
    const bool* when;
  };
  std::vector<Answer> answers_;
  CComPtr<CConnectionPoint> events_;
};

// One connection point: Advise asks the sink for the event interface.
class CConnectionPoint final : public tarvixlib::CComObject<IConnectionPoint> {
public:
  CConnectionPoint(const IID& events, IConnectionPointContainer* container)
      : events_(events), container_(container) {}

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) noexcept override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(
      IConnectionPointContainer** container) noexcept override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) noexcept override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) noexcept override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) noexcept override;

  int Fire(DISPID dispid, std::vector<VARIANT>& args);
  size_t SinkCount() const { return sinks_.size(); }
  // The container is the object that owns this point: not counted.
  void Orphan() { container_ = nullptr; }
  int Advises() const { return advises_; }
  int Unadvises() const { return unadvises_; }

private:
  IID events_;
  IConnectionPointContainer* container_;
  std::map<DWORD, CComPtr<IDispatch>> sinks_;
  DWORD nextCookie_ = 1;
  int advises_ = 0;
  int unadvises_ = 0;
};

// One mail as Outlook shows it.
struct MailSpec {
  std::wstring id;  // the entry id GetItemFromID finds it by
  std::wstring messageClass = L"IPM.Note";
  bool sent = true;
  bool saved = true;
  bool answersMailItem = true;  // false: the item is no _MailItem
  bool saveFails = false;
  CComPtr<IUnknown> mapiObject;  // MAPIOBJECT; none: the read fails
};

// The model: one application, its namespace, junk folder, an explorer that
// may come later, and the mail items.
class COutlookModel {
public:
  explicit COutlookModel(const wchar_t* version = L"16.0.0.5000",
                         const wchar_t* junkName = L"Junk E-mail");
  ~COutlookModel();
  COutlookModel(const COutlookModel&) = delete;
  COutlookModel& operator=(const COutlookModel&) = delete;

  IDispatch* Application() { return application_.Get(); }
  CDispatchObject& ApplicationObject() { return *application_.Get(); }
  // The explorer (none until ShowExplorer).
  CDispatchObject* Explorer() { return explorer_.Get(); }
  void ShowExplorer();
  // Namespace or junk folder lookups fail (what a broken profile shows).
  void SetNamespaceFails(bool fails) { namespaceFails_ = fails; }

  void AddMail(const MailSpec& spec);
  CDispatchObject* Item(const std::wstring& id);
  MailSpec* Spec(const std::wstring& id);
  // The explorer's selection, first selected first.
  void Select(const std::vector<std::wstring>& ids) { selection_ = ids; }

  // The objects of this model someone else still holds a reference to
  // (after an add-in was unloaded: what it failed to release), by name.
  std::vector<std::wstring> HeldObjects();
  // The mail whose MAPIOBJECT is `message`, or "".
  std::wstring MailOf(const void* message);

  // Events, as Outlook fires them. ItemSend passes the item and a cancel
  // flag by reference and gives back what the sinks left in it.
  bool FireItemSend(const std::wstring& id, int* sinks = nullptr);
  int FireNewMailEx(const std::wstring& idList);
  int FireItemLoad(const std::wstring& id);
  int FireSelectionChange();

private:
  CComPtr<CDispatchObject> MakeMailItem(MailSpec* spec);

  std::wstring version_;
  std::wstring junkName_;
  bool namespaceFails_ = false;
  CComPtr<CDispatchObject> application_;
  CComPtr<CDispatchObject> namespace_;
  CComPtr<CDispatchObject> junkFolder_;
  CComPtr<CDispatchObject> explorer_;
  std::vector<std::unique_ptr<MailSpec>> specs_;
  std::map<std::wstring, CComPtr<CDispatchObject>> items_;
  std::vector<std::wstring> selection_;
};

}  // namespace outlook
}  // namespace tarvixstandin
