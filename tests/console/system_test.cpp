// Ctrl-C handling, the connection failure messages and the slot layout of
// the automation interface.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "console/connection.h"
#include "console/ctrlhandler.h"
#include "console/tarvixevent.h"
#include "console_test_util.h"

using namespace tarvixconsole;
using consoletest::CCaptureWriter;

namespace {

TEST(ConsoleCtrlC, FirstPressHandledLaterOnesLeftToTheSystem) {
  ResetCtrlHandlerState();
  CCaptureWriter capture;
  EXPECT_FALSE(WasCtrlCPressed());
  EXPECT_EQ(ConsoleCtrlHandler(CTRL_C_EVENT), TRUE);
  EXPECT_TRUE(WasCtrlCPressed());
  EXPECT_EQ(capture.Text(), "\r\n Ctrl-C pressed, exiting...\r\n");
  capture.Clear();
  EXPECT_EQ(ConsoleCtrlHandler(CTRL_BREAK_EVENT), FALSE);
  EXPECT_EQ(ConsoleCtrlHandler(CTRL_C_EVENT), FALSE);
  EXPECT_EQ(capture.Text(),
            "\r\n Ctrl-C pressed again, hard exit...\r\n\r\n Ctrl-C pressed again, hard exit...\r\n");
  ResetCtrlHandlerState();
}

TEST(ConsoleCtrlC, BreakCountsAsAPressOtherEventsAreNotHandled) {
  ResetCtrlHandlerState();
  CCaptureWriter capture;
  for (DWORD event : {DWORD(CTRL_CLOSE_EVENT), DWORD(CTRL_LOGOFF_EVENT),
                      DWORD(CTRL_SHUTDOWN_EVENT), DWORD(77)})
    EXPECT_EQ(ConsoleCtrlHandler(event), FALSE) << event;
  EXPECT_EQ(capture.Text(), "");
  EXPECT_FALSE(WasCtrlCPressed());
  EXPECT_EQ(ConsoleCtrlHandler(CTRL_BREAK_EVENT), TRUE);
  EXPECT_TRUE(WasCtrlCPressed());
  ResetCtrlHandlerState();
}

struct SMessageCase {
  void (*print)(HRESULT);
  HRESULT hr;
  const char* expected;
};

TEST(ConsoleConnection, FailureMessages) {
  const SMessageCase cases[] = {
      {PrintCoInitializeFailure, RPC_E_CHANGED_MODE,
       "No COM! (CoInitialize failed)  (0x80010106)\n"},
      {PrintProgIdFailure, static_cast<HRESULT>(0x800401F3),
       "The class string was improperly formatted.\n\n\tProbably the Tarvix service is not "
       "running!\n\n"},
      {PrintProgIdFailure, static_cast<HRESULT>(0x80040151),
       "The class identifier corresponding to the class string was not found in the registry.\n"},
      {PrintProgIdFailure, E_FAIL, "CLSIDFromString: ERROR (0x80004005).\n"},
      {PrintIidFailure, E_INVALIDARG, "IIDFromString: Invalid Argument.\n"},
      {PrintIidFailure, E_OUTOFMEMORY, "IIDFromString: Out of memory.\n"},
      {PrintIidFailure, CO_E_IIDSTRING, "IIDFromString: ERROR (0x800401f4).\n"},
      {PrintCreateFailure, REGDB_E_CLASSNOTREG,
       "Specified class is not registered in the registration database.\n"},
      {PrintCreateFailure, CLASS_E_NOAGGREGATION,
       "This class cannot be created as part of an aggregate.\n"},
      {PrintCreateFailure, E_NOINTERFACE,
       "The specified class does not implement the requested interface.\n"},
      {PrintCreateFailure, E_POINTER, "The ppv parameter is NULL.\n"},
      {PrintCreateFailure, E_FAIL,
       "CoCreateInstance failed (0x80004005). Check if the service is running.\n\n"},
  };
  for (const SMessageCase& c : cases) {
    CCaptureWriter capture;
    c.print(c.hr);
    EXPECT_EQ(capture.Text(), c.expected) << std::hex << c.hr;
  }
}

// Calls slot `slot` of the object's table with seven pointer arguments to
// zeroed scratch space (x64: the caller owns the argument area, so methods
// with fewer arguments ignore the rest); `second`, when given, replaces the
// second one (a sink must be a real COM object: the engine takes a
// reference to it). Enough to see which method sits in each slot: every
// method records its name.
HRESULT CallSlot(IUnknown* object, int slot, void* second = nullptr) {
  using Method = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, void*, void*, void*, void*, void*, void*,
                                             void*);
  static unsigned char scratch[7][64];
  memset(scratch, 0, sizeof(scratch));
  Method* table = *reinterpret_cast<Method**>(object);
  return table[slot](object, scratch[0], second ? second : scratch[1], scratch[2], scratch[3],
                     scratch[4], scratch[5], scratch[6]);
}

TEST(ConsoleInterfaceLayout, SlotsHoldTheMethodsInContractOrder) {
  const char* const kSlots[] = {
      "DetectionOfProduct",    "ActivateAnUpdate",       "IsProtectionEnabled",
      "EnableProtection",      "IsUpdateInProgress",     "IsProductScanning",
      "DisableProtection",     "DataFileSignatureCount", "DataFileVersion",
      "DataFileTime",          "EngineVersion",          "RetrieveLastScan",
      "GetUpdateServer",       "GetGUILanguage",         "Reserved17",
      "Reserved18",            "LaunchAFileScan",        "ActivateMainGUI",
      "LaunchAScan",           "StopAScan",              "DeleteInfection",
      "DeleteInfectionKeepBackup", "IgnoreInfection",    "RestoreInfection",
      "ClearThreatHistory",    "RefreshThreatHistory",   "RewindThreatHistory",
      "GetThreatHistoryEntry", "GetAntispamInfo",        "SwapVirusDatabase",
      "SwapAntispamDatabase",  "VerifyAuthenticity",     "RegisterCallback",
      "UnregisterCallback"};
  static_assert(sizeof(kSlots) / sizeof(kSlots[0]) == 34, "slots 3 to 36");
  // An empty scenario: nothing is written through the scratch pointers.
  tarvixlib::CComPtr<tarvixstandin::CStandinEngine> engine = consoletest::MakeEngine("ActivateMainGUI 7\n");
  tarvixlib::CComPtr<tarvixconsole::CTarvixEvent> sink =
      tarvixlib::CComObjectMake<tarvixconsole::CTarvixEvent>();
  constexpr int kRegisterCallbackSlot = 35;
  for (int slot = 3; slot <= 36; ++slot)
    CallSlot(engine.Get(), slot,
             slot == kRegisterCallbackSlot ? static_cast<ITarvixEvent*>(sink.Get()) : nullptr);
  std::vector<std::string> calls = engine->GetCalls();
  ASSERT_EQ(calls.size(), 34u);
  for (int i = 0; i < 34; ++i)
    EXPECT_EQ(calls[i].substr(0, calls[i].find(' ')), kSlots[i]) << "slot " << i + 3;
  EXPECT_EQ(CallSlot(engine.Get(), 20), 7);  // ActivateMainGUI answers its scenario
  EXPECT_EQ(CallSlot(engine.Get(), 17), E_NOTIMPL);
}

}  // namespace
