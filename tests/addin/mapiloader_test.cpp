// The MAPI loader under wine: the client library is found through the
// registry and the installer lookup (replaced by a recording function), its
// slots come first, the system's mapi32.dll fills the rest.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "addin/mapiloader.h"
#include "foundation/winhandles.h"
#include "registry/registry.h"

namespace mapilib {
namespace {

namespace registry = tarvixlib::registry;

constexpr char kMail[] = "Software\\Clients\\Mail";
constexpr char kClient[] = "Software\\Clients\\Mail\\Norvella Test Mail";

std::string FakeLibraryPath() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string exe(path, n);
  return exe.substr(0, exe.find_last_of("\\/") + 1) + "fakemapiclient.dll";
}

// The installer lookup: records each call; answers per qualifier.
struct Lookup {
  std::vector<std::string> calls;
  std::string pathFor[3];  // qualifier "app", "office", none; "" = fail
};
Lookup g_lookup;

BOOL STDAPICALLTYPE RecordingLookup(LPCSTR component, LPSTR qualifier, LPSTR path, DWORD length,
                                    BOOL install) {
  std::string q = qualifier ? qualifier : "(none)";
  g_lookup.calls.push_back(std::string(component) + " " + q + (install ? " install" : ""));
  int index = !qualifier ? 2 : std::strcmp(qualifier, "app") == 0 ? 0 : 1;
  const std::string& answer = g_lookup.pathFor[index];
  if (answer == "fail") return FALSE;
  lstrcpynA(path, answer.c_str(), static_cast<int>(length));
  return TRUE;
}

FARPROC Slot(const char* name) {
  for (const MAPIFuncEntry& entry : g_MAPIFuncs)
    if (std::strcmp(entry.name, name) == 0) return *entry.slot;
  return nullptr;
}

class MapiLoaderTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetMAPILoaderForTests();
    SetComponentPathFunctionForTests(RecordingLookup);
    g_lookup = Lookup();
    registry::DeleteKeyTree(HKEY_LOCAL_MACHINE, kMail, nullptr);
  }
  void TearDown() override {
    registry::DeleteKeyTree(HKEY_LOCAL_MACHINE, kMail, nullptr);
    SetComponentPathFunctionForTests(nullptr);
    ResetMAPILoaderForTests();
  }
  static void RegisterClient(bool app, bool office) {
    ASSERT_TRUE(registry::WriteString(HKEY_LOCAL_MACHINE, kMail, nullptr, "Norvella Test Mail"));
    ASSERT_TRUE(registry::WriteString(HKEY_LOCAL_MACHINE, kClient, "MSIComponentID", "{C0FFEE}"));
    if (app) {
      ASSERT_TRUE(registry::WriteString(HKEY_LOCAL_MACHINE, kClient, "MSIApplicationLCID", "app"));
    }
    if (office) {
      ASSERT_TRUE(registry::WriteString(HKEY_LOCAL_MACHINE, kClient, "MSIOfficeLCID", "office"));
    }
  }
};

TEST_F(MapiLoaderTest, TableHoldsEveryNameInOrderWithSharedSlots) {
  const char* expected[] = {
      "LAUNCHWIZARD", "MAPIAllocateBuffer", "MAPIAllocateMore", "MAPIFreeBuffer",
      "HrGetOneProp@12", "HrGetOneProp", "MAPIInitialize", "MAPIUninitialize", "FreeProws@4",
      "FreeProws", "PpropFindProp@12", "PpropFindProp", "ScDupPropset@16", "ScDupPropset",
      "ScCountProps@12", "ScCountProps", "ScCopyProps@16", "ScCopyProps", "OpenIMsgOnIStg@44",
      "OpenIMsgOnIStg", "MAPIGetDefaultMalloc@0", "MAPIGetDefaultMalloc", "OpenTnefStreamEx",
      "OpenStreamOnFile", "OpenStreamOnFileW", "CloseIMsgSession@4", "CloseIMsgSession",
      "OpenIMsgSession@12", "OpenIMsgSession", "HrQueryAllRows@24", "HrQueryAllRows",
      "MAPIOpenFormMgr", "RTFSync", "HrSetOneProp@8", "HrSetOneProp", "FreePadrlist@4",
      "FreePadrlist", "PropCopyMore@16", "PropCopyMore", "WrapCompressedRTFStream",
      "WrapStoreEntryID@24", "WrapStoreEntryID", "CreateIProp@24", "CreateIProp",
      "CreateTable@36", "CreateTable", "HrValidateParameters@8", "HrValidateParameters",
      "BuildDisplayTable@40", "BuildDisplayTable", "MNLS_lstrlenW", "MAPILogonEx",
      "MAPIAdminProfiles", "HrValidateIPMSubtree@20", "HrValidateIPMSubtree",
      "WrapCompressedRTFStreamEx", "MAPIOpenLocalFormContainer", "HrDispatchNotifications@4",
      "HrDispatchNotifications"};
  static_assert(sizeof expected / sizeof expected[0] == kMAPIFuncCount, "59 names");
  for (size_t i = 0; i < kMAPIFuncCount; ++i) {
    ASSERT_NE(g_MAPIFuncs[i].name, nullptr) << i;
    EXPECT_STREQ(g_MAPIFuncs[i].name, expected[i]) << i;
    // A decorated name shares its slot with the plain name after it.
    if (std::strchr(expected[i], '@')) {
      ASSERT_LT(i + 1, kMAPIFuncCount);
      EXPECT_EQ(g_MAPIFuncs[i].slot, g_MAPIFuncs[i + 1].slot) << expected[i];
    }
  }
}

TEST_F(MapiLoaderTest, QualifiersAreTriedInOrderUntilAPathComes) {
  RegisterClient(true, true);
  struct Case {
    const char* why;
    std::string app, office, none;
    std::vector<std::string> calls;
    std::string path;
  };
  std::vector<Case> cases = {
      {"application qualifier answers", "C:\\a.dll", "C:\\o.dll", "C:\\n.dll",
       {"{C0FFEE} app install"}, "C:\\a.dll"},
      {"failed, then office", "fail", "C:\\o.dll", "C:\\n.dll",
       {"{C0FFEE} app install", "{C0FFEE} office install"}, "C:\\o.dll"},
      {"empty paths go on to no qualifier", "", "", "C:\\n.dll",
       {"{C0FFEE} app install", "{C0FFEE} office install", "{C0FFEE} (none) install"}, "C:\\n.dll"},
      {"nothing anywhere", "fail", "fail", "fail",
       {"{C0FFEE} app install", "{C0FFEE} office install", "{C0FFEE} (none) install"}, ""},
  };
  for (const Case& c : cases) {
    g_lookup = Lookup();
    g_lookup.pathFor[0] = c.app;
    g_lookup.pathFor[1] = c.office;
    g_lookup.pathFor[2] = c.none;
    char path[MAX_PATH] = "junk";
    GetMAPIPath(nullptr, path, sizeof path);
    EXPECT_EQ(g_lookup.calls, c.calls) << c.why;
    EXPECT_EQ(std::string(path), c.path) << c.why;
  }
}

TEST_F(MapiLoaderTest, WithoutAnApplicationQualifierTheOfficeOneIsFirst) {
  RegisterClient(false, true);
  g_lookup.pathFor[1] = "C:\\o.dll";
  char path[MAX_PATH];
  GetMAPIPath(nullptr, path, sizeof path);
  EXPECT_EQ(g_lookup.calls, std::vector<std::string>{"{C0FFEE} office install"});
  EXPECT_STREQ(path, "C:\\o.dll");
}

TEST_F(MapiLoaderTest, ClientLibraryFirstThenTheSystemFillsTheRest) {
  RegisterClient(true, false);
  g_lookup.pathFor[0] = FakeLibraryPath();
  AutoLoadMAPI();
  HMODULE client = MailClientMAPIModule();
  ASSERT_NE(client, nullptr) << FakeLibraryPath();
  HMODULE system = SystemMAPIModule();
  ASSERT_NE(system, nullptr);
  // Plain-name-only export fills the shared slot; the wrapper calls it.
  EXPECT_EQ(Slot("HrGetOneProp"), GetProcAddress(client, "HrGetOneProp"));
  EXPECT_EQ(mapi::HrGetOneProp(nullptr, 0, nullptr), static_cast<HRESULT>(0x0FA4E001));
  EXPECT_EQ(mapi::MAPIInitialize(nullptr), static_cast<HRESULT>(0x0FA4E002));
  // What the client lacks comes from the system library.
  EXPECT_EQ(Slot("RTFSync"), GetProcAddress(system, "RTFSync"));
  EXPECT_NE(Slot("RTFSync"), nullptr);
  EXPECT_EQ(Slot("MAPILogonEx"), GetProcAddress(system, "MAPILogonEx"));

  // A second load changes nothing.
  std::vector<FARPROC> before;
  for (const MAPIFuncEntry& entry : g_MAPIFuncs) before.push_back(*entry.slot);
  size_t lookups = g_lookup.calls.size();
  AutoLoadMAPI();
  std::vector<FARPROC> after;
  for (const MAPIFuncEntry& entry : g_MAPIFuncs) after.push_back(*entry.slot);
  EXPECT_EQ(before, after);
  EXPECT_EQ(g_lookup.calls.size(), lookups) << "the client library is not searched again";
}

TEST_F(MapiLoaderTest, NoMailClientLeavesTheSystemLibraryAlone) {
  AutoLoadMAPI();
  EXPECT_EQ(MailClientMAPIModule(), nullptr);
  HMODULE system = SystemMAPIModule();
  ASSERT_NE(system, nullptr);
  EXPECT_TRUE(g_lookup.calls.empty());
  EXPECT_EQ(Slot("MAPIInitialize"), GetProcAddress(system, "MAPIInitialize"));
  EXPECT_EQ(Slot("HrGetOneProp"), GetProcAddress(system, "HrGetOneProp@12"))
      << "wine exports the decorated name";
  EXPECT_EQ(mapi::MAPIFreeBuffer(nullptr), 0u);
}

TEST_F(MapiLoaderTest, RegistryValuesOfOtherTypesOrEmptyAreMissing) {
  ASSERT_TRUE(registry::WriteString(HKEY_LOCAL_MACHINE, kMail, nullptr, "Norvella Test Mail"));
  ASSERT_TRUE(registry::WriteString(HKEY_LOCAL_MACHINE, kClient, "MSIComponentID", ""));
  BYTE binary[] = {1, 2, 3};
  {
    tarvixlib::CUniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kClient, 0, nullptr, 0, KEY_WRITE, nullptr,
                              key.Out(), nullptr), ERROR_SUCCESS);
    RegSetValueExA(key.Get(), "MSIApplicationLCID", 0, REG_BINARY, binary, sizeof binary);
  }
  ASSERT_TRUE(registry::WriteDword(HKEY_LOCAL_MACHINE, kClient, "MSIOfficeLCID", 1031));
  char *component, *app, *office;
  GetMapiMsiIds(nullptr, &component, &app, &office);
  EXPECT_EQ(component, nullptr) << "empty";
  EXPECT_EQ(app, nullptr) << "binary";
  EXPECT_EQ(office, nullptr) << "a number names no qualifier";
  char path[MAX_PATH];
  GetMAPIPath(nullptr, path, sizeof path);
  EXPECT_STREQ(path, "");
  EXPECT_TRUE(g_lookup.calls.empty()) << "no component, no lookup";
}

}  // namespace
}  // namespace mapilib
