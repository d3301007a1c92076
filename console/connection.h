// Connecting to the service's automation object, with one message per
// failure reason.
#pragma once

#include <windows.h>

#include "console/r6engine.h"
#include "foundation/comptr.h"

namespace tarvixconsole {

using CR6EnginePtr = tarvixlib::CComPtr<IR6Engine>;

// The calling thread's COM apartment (single-threaded); uninitialised when
// it goes out of scope, if initialising succeeded.
class CComApartment {
public:
  CComApartment() = default;
  CComApartment(const CComApartment&) = delete;
  CComApartment& operator=(const CComApartment&) = delete;
  ~CComApartment() {
    if (m_initialized) CoUninitialize();
  }
  HRESULT Initialize() {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    m_initialized = SUCCEEDED(hr);
    return hr;
  }

private:
  bool m_initialized = false;
};

// The failure messages of the connection steps.
void PrintCoInitializeFailure(HRESULT hr);
void PrintProgIdFailure(HRESULT hr);
void PrintIidFailure(HRESULT hr);
void PrintCreateFailure(HRESULT hr);

// Initialises COM in `apartment` and creates the automation object as an
// in-process server. On failure prints the reason and "ERROR connecting to
// the COM object." and returns false.
bool ConnectToEngine(CComApartment& apartment, CR6EnginePtr& engine);

}  // namespace tarvixconsole
