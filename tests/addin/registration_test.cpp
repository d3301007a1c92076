// Self-registration of norvella_x64.dll in this build's wine prefix: the
// keys and values it writes (read back as a table), the product name in
// the Outlook add-in key, unregistration of the three trees, the failure
// rules (through scratch roots), regsvr32, and creation by ProgID.
#include <gtest/gtest.h>

#include <windows.h>
#include <olectl.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "addin/norvella.h"
#include "addin/registration.h"
#include "foundation/comobject.h"
#include "foundation/comptr.h"
#include "foundation/winhandles.h"
#include "registry/registry.h"

namespace mapilib {
namespace {

namespace registry = tarvixlib::registry;
using tarvixlib::CComPtr;
using tarvixlib::CUniqueRegKey;

constexpr wchar_t kClsidKey[] = L"CLSID\\{D57E5681-D0E1-4337-8125-DD613A2BACF9}";
constexpr wchar_t kAddinKey[] = L"Software\\Microsoft\\Office\\Outlook\\Addins\\norvella.Connect";
constexpr wchar_t kTypeLibKey[] = L"TypeLib\\{E7160C09-9144-4524-A95F-BD73B714DDEF}";
constexpr char kScratch[] = "Software\\TarvixTests\\AddinRegistration";

// A value as text: REG_SZ as its characters (the stored terminator
// checked), REG_DWORD as "dword:N", missing as "(missing)".
std::wstring ReadValue(HKEY root, const wchar_t* path, const wchar_t* name) {
  CUniqueRegKey key;
  if (RegOpenKeyExW(root, path, 0, KEY_READ, key.Out()) != ERROR_SUCCESS) return L"(no key)";
  DWORD type = 0;
  BYTE data[2048];
  DWORD size = sizeof data - 2;
  if (RegQueryValueExW(key.Get(), name, nullptr, &type, data, &size) != ERROR_SUCCESS)
    return L"(missing)";
  if (type == REG_DWORD && size == 4) return L"dword:" + std::to_wstring(*reinterpret_cast<DWORD*>(data));
  if (type != REG_SZ) return L"(type " + std::to_wstring(type) + L")";
  const wchar_t* text = reinterpret_cast<const wchar_t*>(data);
  size_t chars = size / sizeof(wchar_t);
  if (chars == 0 || text[chars - 1] != L'\0') return L"(not terminated)";
  return std::wstring(text, chars - 1);
}

bool KeyExists(HKEY root, const wchar_t* path) {
  CUniqueRegKey key;
  return RegOpenKeyExW(root, path, 0, KEY_READ, key.Out()) == ERROR_SUCCESS;
}

// Names of the subkeys (or of the values) of a key, sorted.
std::set<std::wstring> Names(HKEY root, const wchar_t* path, bool values) {
  std::set<std::wstring> names;
  CUniqueRegKey key;
  if (RegOpenKeyExW(root, path, 0, KEY_READ, key.Out()) != ERROR_SUCCESS) return names;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    LONG r = values ? RegEnumValueW(key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr)
                    : RegEnumKeyExW(key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (r != ERROR_SUCCESS) break;
    names.insert(name);
  }
  return names;
}
std::set<std::wstring> SubkeyNames(HKEY root, const wchar_t* path) { return Names(root, path, false); }
std::set<std::wstring> ValueNames(HKEY root, const wchar_t* path) { return Names(root, path, true); }

// The DLL's path as Windows sees it.
std::wstring DllPath() { return NORVELLA_DLL_PATH; }

struct Row {
  const wchar_t* key;
  const wchar_t* name;  // null: default value
  std::wstring value;
};

// Every row of the class registration for a library at `path`.
std::vector<Row> ClassRows(const std::wstring& path) {
  return {
      {kClsidKey, nullptr, L"ZELVOK Scanner Add-In"},
      {L"CLSID\\{D57E5681-D0E1-4337-8125-DD613A2BACF9}\\InprocServer32", nullptr, path},
      {L"CLSID\\{D57E5681-D0E1-4337-8125-DD613A2BACF9}\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {L"CLSID\\{D57E5681-D0E1-4337-8125-DD613A2BACF9}\\DefaultIcon", nullptr, path + L",0"},
      {L"norvella.Connect", nullptr, L"Connect Class"},
      {L"norvella.Connect\\CLSID", nullptr, L"{D57E5681-D0E1-4337-8125-DD613A2BACF9}"},
  };
}

void ExpectClassRows(HKEY root, const std::wstring& path) {
  for (const Row& row : ClassRows(path)) {
    EXPECT_EQ(ReadValue(root, row.key, row.name), row.value)
        << row.key << " " << (row.name ? row.name : L"(default)");
  }
}

void ExpectNothingRegistered(HKEY classes, HKEY machine) {
  EXPECT_FALSE(KeyExists(classes, kClsidKey));
  EXPECT_FALSE(KeyExists(classes, L"norvella.Connect"));
  EXPECT_FALSE(KeyExists(machine, kAddinKey));
}

// Runs a program of the prefix and waits for it; its exit code or -1.
long RunProgram(std::wstring commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info))
    return -1;
  tarvixlib::CUniqueHandle process(info.hProcess), thread(info.hThread);
  if (WaitForSingleObject(process.Get(), 60000) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process.Get(), &code);
  return static_cast<long>(code);
}

class AddinRegistrationTest : public ::testing::Test {
protected:
  using Fn = HRESULT(STDAPICALLTYPE*)();

  void SetUp() override {
    productName_ = ReadProductName(&hadProductName_);
    Clean();
    library_ = tarvixlib::CUniqueModule(LoadLibraryW(NORVELLA_DLL_PATH));
    ASSERT_TRUE(library_);
    register_ = tarvixlib::ModuleTraits::Proc<Fn>(library_.Get(), "DllRegisterServer");
    unregister_ = tarvixlib::ModuleTraits::Proc<Fn>(library_.Get(), "DllUnregisterServer");
    ASSERT_NE(register_, nullptr);
    ASSERT_NE(unregister_, nullptr);
  }
  void TearDown() override {
    library_.Reset();
    Clean();
    if (hadProductName_) {
      registry::WriteString(HKEY_LOCAL_MACHINE, registry::kProductKey, "ProductName",
                            productName_.c_str(), registry::kView64);
    } else {
      registry::DeleteValue(HKEY_LOCAL_MACHINE, registry::kProductKey, "ProductName", registry::kView64);
    }
  }
  static void Clean() {
    UnregisterAddin();
    registry::DeleteKeyTree(HKEY_CURRENT_USER, kScratch, nullptr);
  }
  static std::string ReadProductName(bool* present) {
    char buffer[1024];
    *present = registry::ReadString(HKEY_LOCAL_MACHINE, registry::kProductKey, "ProductName",
                                    buffer, sizeof buffer, registry::kView64);
    return *present ? buffer : "";
  }
  static void SetProductName(const char* name) {
    if (name) {
      ASSERT_TRUE(registry::WriteString(HKEY_LOCAL_MACHINE, registry::kProductKey, "ProductName",
                                        name, registry::kView64));
    } else {
      registry::DeleteValue(HKEY_LOCAL_MACHINE, registry::kProductKey, "ProductName", registry::kView64);
    }
  }

  tarvixlib::CUniqueModule library_;
  Fn register_ = nullptr;
  Fn unregister_ = nullptr;
  std::string productName_;
  bool hadProductName_ = false;
};

TEST_F(AddinRegistrationTest, RegisterWritesTheClassTableAndTheOutlookKey) {
  SetProductName("ZELVOK ombrix");
  ASSERT_EQ(register_(), S_OK);
  ExpectClassRows(HKEY_CLASSES_ROOT, DllPath());
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kAddinKey, L"Description"), L"ZELVOK ombrix Add-in");
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kAddinKey, L"FriendlyName"), L"ZELVOK ombrix Add-in");
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kAddinKey, L"LoadBehavior"), L"dword:3");

  // Nothing beyond the table: no ProgID key under the class, no versioned
  // ProgID, no type library key, no per-user add-in key.
  EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, kClsidKey),
            (std::set<std::wstring>{L"DefaultIcon", L"InprocServer32"}));
  EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, L"norvella.Connect"), (std::set<std::wstring>{L"CLSID"}));
  EXPECT_EQ(ValueNames(HKEY_CLASSES_ROOT, L"norvella.Connect"), (std::set<std::wstring>{L""}));
  EXPECT_EQ(ValueNames(HKEY_LOCAL_MACHINE, kAddinKey),
            (std::set<std::wstring>{L"Description", L"FriendlyName", L"LoadBehavior"}));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"norvella.Connect.1"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kAddinKey));
}

// The product name as the Outlook key shows it; the name is read afresh at
// each registration.
TEST_F(AddinRegistrationTest, DescriptionFollowsTheProductName) {
  struct Case {
    const char* productName;  // null: no value
    const wchar_t* expected;
  };
  const std::string tooLong(300, 'x');  // beyond the entry's 260-byte buffer
  const Case cases[] = {
      {"Tarvix Total", L"Tarvix Total Add-in"},
      {nullptr, L" Add-in"},
      {tooLong.c_str(), L" Add-in"},
      {"Z", L"Z Add-in"},
  };
  for (const Case& c : cases) {
    SetProductName(c.productName);
    ASSERT_EQ(register_(), S_OK);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kAddinKey, L"Description"), c.expected);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kAddinKey, L"FriendlyName"), c.expected);
  }
}

TEST_F(AddinRegistrationTest, UnregisterRemovesTheThreeTreesAndSucceedsTwice) {
  ASSERT_EQ(register_(), S_OK);
  // Subkeys someone else added go with their tree.
  CUniqueRegKey extra = registry::CreateKeyW(
      HKEY_CLASSES_ROOT, L"CLSID\\{D57E5681-D0E1-4337-8125-DD613A2BACF9}\\Extra\\Deeper", KEY_WRITE);
  ASSERT_TRUE(extra);
  extra.Reset();
  CUniqueRegKey sibling = registry::CreateKeyW(
      HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Office\\Outlook\\Addins\\Other.Addin", KEY_WRITE);
  ASSERT_TRUE(sibling);
  sibling.Reset();

  EXPECT_EQ(unregister_(), S_OK);
  ExpectNothingRegistered(HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE);
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Office\\Outlook\\Addins\\Other.Addin"))
      << "only the add-in's own key goes";
  EXPECT_EQ(unregister_(), S_OK) << "missing keys are skipped";
  registry::DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Office\\Outlook\\Addins\\Other.Addin",
                          nullptr);
}

// The failure rules, against scratch roots under HKEY_CURRENT_USER.
class AddinRegistrationFailureTest : public AddinRegistrationTest {
protected:
  void SetUp() override {
    AddinRegistrationTest::SetUp();
    classes_ = Scratch("classes", KEY_ALL_ACCESS);
    machine_ = Scratch("machine", KEY_ALL_ACCESS);
  }
  CUniqueRegKey Scratch(const char* name, REGSAM access) {
    std::string path = std::string(kScratch) + "\\" + name;
    CUniqueRegKey key;
    RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, access, nullptr, key.Out(), nullptr);
    return key;
  }
  RegistrationRoots Roots() const { return {classes_.Get(), machine_.Get()}; }

  CUniqueRegKey classes_;
  CUniqueRegKey machine_;
};

TEST_F(AddinRegistrationFailureTest, ScratchRootsTakeTheWholeRegistration) {
  SetProductName("P");
  ASSERT_EQ(RegisterAddin(L"C:\\addin\\norvella_x64.dll", Roots()), S_OK);
  ExpectClassRows(classes_.Get(), L"C:\\addin\\norvella_x64.dll");
  EXPECT_EQ(ReadValue(machine_.Get(), kAddinKey, L"Description"), L"P Add-in");
  EXPECT_EQ(ReadValue(machine_.Get(), kAddinKey, L"LoadBehavior"), L"dword:3");
  EXPECT_EQ(UnregisterAddin(Roots()), S_OK);
  ExpectNothingRegistered(classes_.Get(), machine_.Get());
}

// A library path whose row would not fit 260 characters ends the
// registration at the first row that holds it (the InprocServer32 value);
// the row before stays, and nothing is cut short.
TEST_F(AddinRegistrationFailureTest, PathTooLongForARowStopsThere) {
  struct Case {
    size_t pathLength;
    HRESULT expected;
  };
  // "%s" is the path; "%s,0" adds two: 257 + 2 = 259 still fits.
  const Case cases[] = {{257, S_OK}, {258, SELFREG_E_CLASS}, {259, SELFREG_E_CLASS}, {600, SELFREG_E_CLASS}};
  for (const Case& c : cases) {
    std::wstring path = L"C:\\" + std::wstring(c.pathLength - 3, L'a');
    ASSERT_EQ(path.size(), c.pathLength);
    EXPECT_EQ(RegisterAddin(path.c_str(), Roots()), c.expected) << c.pathLength;
    if (c.expected == S_OK) {
      ExpectClassRows(classes_.Get(), path);
    } else if (c.pathLength >= 260) {
      EXPECT_EQ(ReadValue(classes_.Get(), kClsidKey, nullptr), L"ZELVOK Scanner Add-In");
      EXPECT_EQ(ReadValue(classes_.Get(), L"CLSID\\{D57E5681-D0E1-4337-8125-DD613A2BACF9}\\InprocServer32",
                          nullptr),
                L"(missing)");
      EXPECT_FALSE(KeyExists(classes_.Get(), L"norvella.Connect"));
      EXPECT_FALSE(KeyExists(machine_.Get(), kAddinKey));
    } else {
      // 258 fits the server row but not "%s,0": the icon row stops it.
      EXPECT_EQ(ReadValue(classes_.Get(), L"CLSID\\{D57E5681-D0E1-4337-8125-DD613A2BACF9}\\InprocServer32",
                          L"ThreadingModel"),
                L"Apartment");
      EXPECT_EQ(ReadValue(classes_.Get(), L"CLSID\\{D57E5681-D0E1-4337-8125-DD613A2BACF9}\\DefaultIcon",
                          nullptr),
                L"(missing)");
      EXPECT_FALSE(KeyExists(classes_.Get(), L"norvella.Connect"));
      EXPECT_FALSE(KeyExists(machine_.Get(), kAddinKey));
    }
    UnregisterAddin(Roots());
  }
  EXPECT_EQ(RegisterAddin(L"", Roots()), SELFREG_E_CLASS);
  EXPECT_EQ(RegisterAddin(nullptr, Roots()), SELFREG_E_CLASS);
}

// Keys that cannot be created: a lasting key cannot go below a volatile
// one. Registration stops at the first such key; the rows before it stay.
TEST_F(AddinRegistrationFailureTest, KeyThatCannotBeCreatedStopsRegistration) {
  auto makeVolatile = [](HKEY root, const wchar_t* path) {
    CUniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_VOLATILE, KEY_WRITE, nullptr,
                              key.Out(), nullptr),
              ERROR_SUCCESS);
  };
  const std::wstring path = L"C:\\addin.dll";
  const std::vector<Row> rows = ClassRows(path);

  // The very first key.
  makeVolatile(classes_.Get(), L"CLSID");
  EXPECT_EQ(RegisterAddin(path.c_str(), Roots()), SELFREG_E_CLASS);
  EXPECT_FALSE(KeyExists(classes_.Get(), kClsidKey));
  EXPECT_FALSE(KeyExists(classes_.Get(), L"norvella.Connect"));
  EXPECT_FALSE(KeyExists(machine_.Get(), kAddinKey));
  RegDeleteKeyW(classes_.Get(), L"CLSID");

  // The ProgID's CLSID subkey, the last row: the five before it stay.
  makeVolatile(classes_.Get(), L"norvella.Connect");
  EXPECT_EQ(RegisterAddin(path.c_str(), Roots()), SELFREG_E_CLASS);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(ReadValue(classes_.Get(), rows[i].key, rows[i].name), rows[i].value) << i;
  }
  EXPECT_FALSE(KeyExists(classes_.Get(), L"norvella.Connect\\CLSID"));
  EXPECT_FALSE(KeyExists(machine_.Get(), kAddinKey));
  UnregisterAddin(Roots());

  // The Outlook add-in key, after every class row.
  makeVolatile(machine_.Get(), L"Software");
  EXPECT_EQ(RegisterAddin(path.c_str(), Roots()), SELFREG_E_CLASS);
  ExpectClassRows(classes_.Get(), path);
  EXPECT_FALSE(KeyExists(machine_.Get(), kAddinKey));
}

// regsvr32 as Outlook's installer would run it, then creation by ProgID as
// Outlook does it, then /u.
TEST_F(AddinRegistrationTest, Regsvr32RegistersForCreationByProgIdAndUnregisters) {
  std::wstring path = DllPath();
  library_.Reset();  // COM loads it on its own
  ASSERT_EQ(RunProgram(L"regsvr32.exe /s \"" + path + L"\""), 0);
  ExpectClassRows(HKEY_CLASSES_ROOT, path);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kAddinKey, L"LoadBehavior"), L"dword:3");

  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  {
    CLSID clsid = {};
    ASSERT_EQ(CLSIDFromProgID(L"norvella.Connect", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Connect));
    CComPtr<_IDTExtensibility2> addin;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__IDTExtensibility2,
                               addin.OutVoid()),
              S_OK);
    EXPECT_EQ(addin->OnConnection(nullptr, ext_cm_Startup, nullptr, nullptr), S_OK);
    EXPECT_EQ(addin->OnStartupComplete(nullptr), E_NOTIMPL) << "no Outlook: inactive";
    EXPECT_EQ(addin->OnBeginShutdown(nullptr), S_OK);
    EXPECT_EQ(addin->OnDisconnection(ext_dm_HostShutdown, nullptr), S_OK);
    CComPtr<IConnect> connect;
    EXPECT_EQ(addin.As(connect), S_OK);
  }
  CoUninitialize();

  ASSERT_EQ(RunProgram(L"regsvr32.exe /s /u \"" + path + L"\""), 0);
  ExpectNothingRegistered(HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE);
  CLSID clsid = {};
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  EXPECT_EQ(CLSIDFromProgID(L"norvella.Connect", &clsid), CO_E_CLASSSTRING);
  CoUninitialize();
}

}  // namespace
}  // namespace mapilib
