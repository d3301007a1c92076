// vexal-client.exe in a wine prefix of its own where no engine is
// registered (CTest runs these with TARVIX_WINEPREFIX set to that prefix
// and one at a time): the connection failure, and the stand-in's own
// registration and unregistration.
#include <gtest/gtest.h>

#include <string>

#include "client_process.h"

using consoletest::CTempFile;
using consoletest::RunClient;
using consoletest::SClientRun;

namespace {

const wchar_t kClient[] = VEXAL_CLIENT_PATH;
const wchar_t kStandin[] = STANDIN_DLL_PATH;

const char kNoEngine[] =
    "The class string was improperly formatted.\n\n"
    "\tProbably the Tarvix service is not running!\n\n"
    "ERROR connecting to the COM object.\n";

// Loads the stand-in and calls one of its registration exports.
HRESULT CallRegistration(const char* name) {
  HMODULE module = LoadLibraryW(kStandin);
  if (!module) return HRESULT_FROM_WIN32(GetLastError());
  using Fn = HRESULT(STDAPICALLTYPE*)();
  Fn fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  HRESULT hr = fn ? fn() : E_NOINTERFACE;
  FreeLibrary(module);
  return hr;
}

// Unregisters the stand-in when the test ends, whatever happened.
struct SUnregisterAtEnd {
  ~SUnregisterAtEnd() { CallRegistration("DllUnregisterServer"); }
};

TEST(ConsoleNoEngine, ClassStringMessageAndExitCodeOne) {
  for (const wchar_t* arguments : {L"-Detect", L"-EngineVersion -Callback /detect"}) {
    SClientRun run = RunClient(kClient, arguments, {}, {});
    ASSERT_TRUE(run.finished) << run.problem;
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.output, kNoEngine);
  }
}

TEST(ConsoleNoEngine, UsageNeedsNoEngine) {
  SClientRun run = RunClient(kClient, L"-ScanFile", {}, {});
  ASSERT_TRUE(run.finished) << run.problem;
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_NE(run.output.find("  -ScanFile <Filename>   : Launch a single file scan.\n\n"),
            std::string::npos);
}

TEST(ConsoleNoEngine, StandinRegistersAndUnregistersItself) {
  SUnregisterAtEnd unregister;
  ASSERT_EQ(CallRegistration("DllRegisterServer"), S_OK);
  CTempFile scenario(L"r6scenario", "DetectionOfProduct 0 false\n");
  SClientRun run = RunClient(kClient, L"-Detect", {{L"TARVIX_R6_SCENARIO", scenario.Path()}}, {});
  ASSERT_TRUE(run.finished) << run.problem;
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output, "  Product is installed: NO\n");

  ASSERT_EQ(CallRegistration("DllUnregisterServer"), S_OK);
  run = RunClient(kClient, L"-Detect", {{L"TARVIX_R6_SCENARIO", scenario.Path()}}, {});
  ASSERT_TRUE(run.finished) << run.problem;
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_EQ(run.output, kNoEngine);
}

}  // namespace
