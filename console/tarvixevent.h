// The callback sink the client registers while it waits for callbacks.
#pragma once

#include "console/r6engine.h"
#include "foundation/comobject.h"

namespace tarvixconsole {

// Prints each virus-found event. A counted COM object (make it with
// CComObjectMake): the automation object holds its own reference while the
// sink is registered and may keep it a while after. Calls arrive on
// whatever thread the object uses; the sink prints without locking.
class CTarvixEvent final : public tarvixlib::CComObject<ITarvixEvent> {
public:
  // Prints the event's values in the order 7, 0..6; E_FAIL when the value 6
  // could not be read, else S_OK.
  HRESULT STDMETHODCALLTYPE OnVirusFound(ITarvixEventInfo* info) noexcept override;
};

}  // namespace tarvixconsole
