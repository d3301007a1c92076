// vexal-client.exe in a wine prefix of its own where no engine is
// registered (CTest runs these with TARVIX_WINEPREFIX set to that prefix
// and one at a time): the connection failure, and the stand-in's own
// registration, unregistration and unloading.
#include <gtest/gtest.h>

#include <string>

#include "client_process.h"
#include "console/r6engine.h"
#include "foundation/comptr.h"
#include "foundation/winhandles.h"

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

using tarvixlib::CComPtr;
using tarvixlib::CUniqueModule;
using tarvixlib::ModuleTraits;
using ExportFn = HRESULT(STDAPICALLTYPE*)();

// Loads the stand-in and calls one of its registration exports.
HRESULT CallRegistration(const char* name) {
  CUniqueModule module(LoadLibraryW(kStandin));
  if (!module) return HRESULT_FROM_WIN32(GetLastError());
  ExportFn fn = ModuleTraits::Proc<ExportFn>(module.Get(), name);
  return fn ? fn() : E_NOINTERFACE;
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

// The library may go only when no object of it lives and no client locked
// it: its class factory and its engines count as living objects.
TEST(ConsoleNoEngine, StandinCanUnloadOnlyWithoutLivingObjects) {
  CUniqueModule module(LoadLibraryW(kStandin));
  ASSERT_TRUE(module);
  using GetClassFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto getClass = ModuleTraits::Proc<GetClassFn>(module.Get(), "DllGetClassObject");
  auto canUnload = ModuleTraits::Proc<ExportFn>(module.Get(), "DllCanUnloadNow");
  ASSERT_TRUE(getClass && canUnload);
  CLSID clsid;
  ASSERT_EQ(CLSIDFromString(L"{6e1b7c90-3a2d-4f5e-9b8a-2c4d6e8f0a12}", &clsid), S_OK);
  EXPECT_EQ(canUnload(), S_OK);

  CComPtr<IClassFactory> factory;
  ASSERT_EQ(getClass(clsid, IID_IClassFactory, factory.OutVoid()), S_OK);
  EXPECT_EQ(canUnload(), S_OK) << "a held factory alone does not keep the server (LockServer does)";
  CComPtr<IR6Engine> engine;
  ASSERT_EQ(factory->CreateInstance(nullptr, __uuidof(IR6Engine), engine.OutVoid()), S_OK);
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(engine.Get(), IID_IUnknown, &none), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(none, nullptr);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory.Reset();
  EXPECT_EQ(canUnload(), S_FALSE) << "an engine lives";
  engine.Reset();
  EXPECT_EQ(canUnload(), S_FALSE) << "locked";
  ASSERT_EQ(getClass(clsid, IID_IClassFactory, factory.OutVoid()), S_OK);
  ASSERT_EQ(factory->LockServer(FALSE), S_OK);
  factory.Reset();
  EXPECT_EQ(canUnload(), S_OK);
}

}  // namespace
