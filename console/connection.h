// Connecting to the service's automation object, with one message per
// failure reason.
#pragma once

#include <windows.h>

#include "console/r6engine.h"

namespace tarvixconsole {

// Owner of one COM interface pointer (released once).
template <typename I>
class CComOwner {
public:
  CComOwner() = default;
  CComOwner(const CComOwner&) = delete;
  CComOwner& operator=(const CComOwner&) = delete;
  ~CComOwner() { Reset(); }
  I* Get() const { return m_ptr; }
  I* operator->() const { return m_ptr; }
  explicit operator bool() const { return m_ptr != nullptr; }
  // Releases what it holds and hands out the slot for a new pointer.
  I** Out() {
    Reset();
    return &m_ptr;
  }
  void Reset() {
    if (m_ptr) {
      I* ptr = m_ptr;
      m_ptr = nullptr;
      ptr->Release();
    }
  }

private:
  I* m_ptr = nullptr;
};

using CR6EnginePtr = CComOwner<IR6Engine>;

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
