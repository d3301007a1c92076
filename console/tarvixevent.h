// The callback sink the client registers while it waits for callbacks.
#pragma once

#include "console/r6engine.h"

namespace tarvixconsole {

// Prints each virus-found event. Lives on the stack for the whole wait and
// counts no references: AddRef and Release return 0, QueryInterface hands
// out the sink itself for any interface. Calls arrive on whatever thread
// the object uses; the sink prints without locking.
class CTarvixEvent : public ITarvixEvent {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 0; }
  ULONG STDMETHODCALLTYPE Release() override { return 0; }
  // Prints the event's values in the order 7, 0..6; E_FAIL when the value 6
  // could not be read, else S_OK.
  HRESULT STDMETHODCALLTYPE OnVirusFound(ITarvixEventInfo* info) override;
};

}  // namespace tarvixconsole
