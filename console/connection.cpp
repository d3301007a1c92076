#include "console/connection.h"

#include "console/consoleline.h"

namespace tarvixconsole {

namespace {

constexpr HRESULT kClassStringMalformed = static_cast<HRESULT>(0x800401F3);  // CO_E_CLASSSTRING
constexpr HRESULT kClassNotInRegistry = static_cast<HRESULT>(0x80040151);    // REGDB_E_WRITEREGDB

}  // namespace

void PrintCoInitializeFailure(HRESULT hr) {
  CMyConsoleLog::Instance().Message("No COM! (CoInitialize failed)  (0x%x)",
                                    static_cast<unsigned>(hr));
}

void PrintProgIdFailure(HRESULT hr) {
  CMyConsoleLog& log = CMyConsoleLog::Instance();
  if (hr == kClassStringMalformed)
    log.Message(
        "The class string was improperly formatted.\n\n\tProbably the Tarvix service is not "
        "running!\n");
  else if (hr == kClassNotInRegistry)
    log.Message("The class identifier corresponding to the class string was not found in the "
                "registry.");
  else
    log.Message("CLSIDFromString: ERROR (0x%x).", static_cast<unsigned>(hr));
}

void PrintIidFailure(HRESULT hr) {
  CMyConsoleLog& log = CMyConsoleLog::Instance();
  if (hr == E_INVALIDARG)
    log.Message("IIDFromString: Invalid Argument.");
  else if (hr == E_OUTOFMEMORY)
    log.Message("IIDFromString: Out of memory.");
  else
    log.Message("IIDFromString: ERROR (0x%x).", static_cast<unsigned>(hr));
}

void PrintCreateFailure(HRESULT hr) {
  CMyConsoleLog& log = CMyConsoleLog::Instance();
  if (hr == REGDB_E_CLASSNOTREG)
    log.Message("Specified class is not registered in the registration database.");
  else if (hr == CLASS_E_NOAGGREGATION)
    log.Message("This class cannot be created as part of an aggregate.");
  else if (hr == E_NOINTERFACE)
    log.Message("The specified class does not implement the requested interface.");
  else if (hr == E_POINTER)
    log.Message("The ppv parameter is NULL.");
  else
    log.Message("CoCreateInstance failed (0x%x). Check if the service is running.\n",
                static_cast<unsigned>(hr));
}

bool ConnectToEngine(CComApartment& apartment, CR6EnginePtr& engine) {
  bool connected = false;
  HRESULT hr = apartment.Initialize();
  if (FAILED(hr)) {
    PrintCoInitializeFailure(hr);
  } else {
    CLSID clsid;
    IID iid;
    hr = CLSIDFromProgID(TARVIX_R6ENGINE_PROGID, &clsid);
    if (FAILED(hr)) {
      PrintProgIdFailure(hr);
    } else if (FAILED(hr = IIDFromString(TARVIX_IID_IR6ENGINE_TEXT, &iid))) {
      PrintIidFailure(hr);
    } else {
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                            reinterpret_cast<void**>(engine.Out()));
      if (FAILED(hr) || !engine) {
        PrintCreateFailure(FAILED(hr) ? hr : E_POINTER);
      } else {
        connected = true;
      }
    }
  }
  if (!connected) CMyConsoleLog::Instance().Message("ERROR connecting to the COM object.");
  return connected;
}

}  // namespace tarvixconsole
