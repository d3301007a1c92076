#include "addin/eventsinks.h"

#include "addin/connect.h"
#include "addin/outlookids.h"

namespace mapilib {

const IID IID_OutlookApplication = outlookids::kApplication;
const IID IID_OutlookMailItem = outlookids::kMailItem;
const IID IID_OutlookApplicationEvents = outlookids::kApplicationEvents;
const IID IID_OutlookExplorerEvents = outlookids::kExplorerEvents;

const SinkEntry kSinkTable[kSinkCount] = {
    {1, &IID_OutlookApplicationEvents, 0xF002, &CConnect::OnItemSend},
    {2, &IID_OutlookApplicationEvents, 0xFAB5, &CConnect::OnNewMailEx},
    {3, &IID_OutlookApplicationEvents, 0xFBA7, &CConnect::OnItemLoad},
    {4, &IID_OutlookExplorerEvents, 0xF007, &CConnect::OnSelectionChange},
};

HRESULT CEventSink::GetTypeInfoCount(UINT* count) noexcept {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT CEventSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT CEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID* ids) noexcept {
  if (ids) *ids = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT CEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                           EXCEPINFO*, UINT*) noexcept {
  if (id != entry_.dispid || !owner_) return S_OK;
  // Keep the add-in object alive while its handler runs: a nested event
  // may disconnect it.
  tarvixlib::CComPtr<IUnknown> hold(static_cast<IConnect*>(owner_));
  try {
    (owner_->*entry_.handler)(params);
  } catch (...) {
    // A handler's failure (out of memory, say) never reaches Outlook.
  }
  return S_OK;
}

void* CEventSink::QueryOther(REFIID iid) noexcept {
  return IsEqualIID(iid, *entry_.events) ? static_cast<IDispatch*>(this) : nullptr;
}

}  // namespace mapilib
