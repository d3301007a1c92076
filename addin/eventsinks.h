// The add-in's four event sinks, driven by one table: each sink is a
// dispatch object that Outlook's connection point knows by the event
// interface, and that hands the one event of its entry to its handler.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "foundation/comobject.h"

namespace mapilib {

class CConnect;

extern const IID IID_OutlookApplication;        // _Application
extern const IID IID_OutlookMailItem;           // _MailItem
extern const IID IID_OutlookApplicationEvents;  // ApplicationEvents
extern const IID IID_OutlookExplorerEvents;     // ExplorerEvents

enum SinkIndex { kSinkItemSend, kSinkNewMailEx, kSinkItemLoad, kSinkSelectionChange, kSinkCount };

struct SinkEntry {
  int sink;  // the sink identifier, 1 to 4
  const IID* events;
  DISPID dispid;
  // The handler; it receives the event's arguments as Outlook sent them.
  void (CConnect::*handler)(DISPPARAMS* params);
};

// The table: sinks 1 to 3 on the application, 4 on the explorer.
extern const SinkEntry kSinkTable[kSinkCount];

class CEventSink final : public tarvixlib::CComObject<IDispatch> {
public:
  CEventSink(CConnect* owner, const SinkEntry& entry) : owner_(owner), entry_(entry) {}
  // The add-in object went away: later events find no handler.
  void Orphan() noexcept { owner_ = nullptr; }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID,
                                          DISPID* ids) noexcept override;
  // The entry's event goes to its handler; any other member is ignored.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                   EXCEPINFO*, UINT*) noexcept override;

protected:
  // Outlook asks for the event interface itself.
  void* QueryOther(REFIID iid) noexcept override;

private:
  CConnect* owner_;
  const SinkEntry& entry_;
};

}  // namespace mapilib
