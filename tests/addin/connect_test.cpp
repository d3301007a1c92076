// The add-in object against the stand-in Outlook object model, in-process:
// when it becomes active, the junk folder's name, the registry switches,
// the sinks it connects and the scans its handlers ask for (seen through
// the ScanMessage hook). The handlers scan only once a foreground window
// has been seen; the tests say which window is in front.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "addin/connect.h"
#include "addin/scanmessage.h"
#include "outlookmodel.h"
#include "registry/registry.h"

namespace mapilib {
namespace {

using tarvixlib::CComPtr;
using namespace tarvixstandin::outlook;
namespace registry = tarvixlib::registry;

// What ScanMessage was asked.
struct ScanCall {
  std::string junk;
  IUnknown* message;
  HWND parent;
  bool incoming;
  std::wstring messageClass;
  bool force;
};
std::vector<ScanCall> g_scans;
IUnknown* g_threat = nullptr;  // the message the hook finds a threat in

bool RecordScan(const char* junk, IUnknown* message, HWND parent, bool incoming,
                const wchar_t* messageClass, bool force) {
  g_scans.push_back({junk, message, parent, incoming, messageClass, force});
  return message == g_threat;
}

class CPlainMessage final : public tarvixlib::CComObject<IUnknown> {};

HWND const kMainWindow = reinterpret_cast<HWND>(0x10010);
HWND g_foreground = nullptr;  // what the foreground source reports

const char* const kOfficeKeys[] = {
    "Software\\Microsoft\\Office\\11.0\\Common\\LanguageResources",
    "Software\\Microsoft\\Office\\12.0\\Common\\LanguageResources",
    "Software\\Microsoft\\Office\\14.0\\Common\\LanguageResources",
    "Software\\Microsoft\\Office\\15.0\\Common\\LanguageResources",
};

class ConnectTest : public ::testing::Test {
protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    g_scans.clear();
    g_threat = nullptr;
    SetScanMessageHookForTests(RecordScan);
    ShowForegroundWindow(nullptr);  // none until a test shows one
    ClearRegistry();
  }
  void TearDown() override {
    if (connect_) {
      connect_->OnDisconnection(ext_dm_HostShutdown, nullptr);
      connect_ = {};
    }
    model_.reset();
    SetScanMessageHookForTests(nullptr);
    CConnect::SetForegroundSourceForTests(nullptr);
    ClearRegistry();
    CoUninitialize();
  }
  static void ClearRegistry() {
    registry::DeleteValue(HKEY_CURRENT_USER, registry::kProductKey, CConnect::kDeactivateValue);
    registry::DeleteValue(HKEY_CURRENT_USER, registry::kProductKey, CConnect::kOnNewValue);
    for (const char* key : kOfficeKeys) {
      registry::DeleteValue(HKEY_CURRENT_USER, key, "InstallLanguage");
      registry::DeleteValue(HKEY_CURRENT_USER, key, "SKULanguage");
    }
  }

  COutlookModel& Model(const wchar_t* version = L"16.0.0.5000",
                       const wchar_t* junk = L"Junk E-mail") {
    if (!model_) model_ = std::make_unique<COutlookModel>(version, junk);
    return *model_;
  }
  void AddMail(const wchar_t* id, const wchar_t* messageClass = L"IPM.Note", bool sent = true) {
    MailSpec spec;
    spec.id = id;
    spec.messageClass = messageClass;
    spec.sent = sent;
    spec.mapiObject = CComPtr<IUnknown>::Attach(new CPlainMessage());
    Model().AddMail(spec);
  }
  IUnknown* MessageOf(const wchar_t* id) { return Model().Spec(id)->mapiObject.Get(); }

  // A new add-in object, connected to the model's application.
  HRESULT Connect() {
    connect_ = {};
    CComPtr<_IDTExtensibility2> extensibility;
    EXPECT_EQ(CConnect::Create(nullptr, IID__IDTExtensibility2, extensibility.OutVoid()), S_OK);
    connect_ = CComPtr<CConnect>(static_cast<CConnect*>(extensibility.Get()));
    return connect_->OnConnection(Model().Application(), ext_cm_Startup, nullptr, nullptr);
  }
  // A window in front, as Outlook's main window would be (the handlers only
  // keep and pass the handle on, so any value stands for one).
  void ShowForegroundWindow(HWND window = kMainWindow) {
    g_foreground = window;
    CConnect::SetForegroundSourceForTests(Foreground);
  }
  static HWND Foreground() { return g_foreground; }

  std::unique_ptr<COutlookModel> model_;
  CComPtr<CConnect> connect_;
};

TEST_F(ConnectTest, TheVersionDecidesWhetherTheAddinIsActive) {
  struct {
    const wchar_t* version;
    long active;
  } const cases[] = {
      {L"16.0.0.5000", 16}, {L"15.0.4420.1017", 15}, {L"14", 14},
      {L"9.0.0.2711", 0},   {L"13.5", 0},           {L"", 0},
  };
  for (const auto& c : cases) {
    model_.reset();
    Model(c.version).ShowExplorer();
    EXPECT_EQ(Connect(), S_OK) << c.version;
    EXPECT_EQ(connect_->ActiveVersion(), c.active) << c.version;
    EXPECT_EQ(connect_->OnStartupComplete(nullptr), c.active ? S_OK : E_NOTIMPL) << c.version;
    EXPECT_EQ(Model().ApplicationObject().SinkCount(), c.active ? 3u : 0u) << c.version;
    EXPECT_EQ(Model().Explorer()->SinkCount(), c.active ? 1u : 0u) << c.version;
    EXPECT_EQ(connect_->OnDisconnection(ext_dm_HostShutdown, nullptr), S_OK);
    EXPECT_EQ(Model().ApplicationObject().SinkCount(), 0u) << "every sink is disconnected";
    EXPECT_EQ(Model().Explorer()->SinkCount(), 0u);
    for (int i = 0; i < kSinkCount; ++i) EXPECT_EQ(connect_->Cookie(i), CConnect::kNoCookie);
  }
}

TEST_F(ConnectTest, AnApplicationThatIsNotOutlookLeavesItInactive) {
  CComPtr<_IDTExtensibility2> object;
  ASSERT_EQ(CConnect::Create(nullptr, IID__IDTExtensibility2, object.OutVoid()), S_OK);
  auto* connect = static_cast<CConnect*>(object.Get());
  auto other = tarvixlib::CComObjectMake<CDispatchObject>(L"not outlook");
  EXPECT_EQ(connect->OnConnection(other.Get(), ext_cm_Startup, nullptr, nullptr), S_OK);
  EXPECT_EQ(connect->ActiveVersion(), 0);
  EXPECT_EQ(connect->OnStartupComplete(nullptr), E_NOTIMPL);
}

TEST_F(ConnectTest, TheJunkFolderNameComesFromOutlookOrTheLegacyProbe) {
  Model(L"16.0", L"Junk-E-Mail-Ordner");
  ASSERT_EQ(Connect(), S_OK);
  EXPECT_STREQ(connect_->JunkFolderName(), "Junk-E-Mail-Ordner");

  // Without a namespace the name keeps its default, which the Office
  // language resources choose.
  struct {
    std::vector<int> keysSet;  // indexes into kOfficeKeys
    const char* name;
  } const cases[] = {
      {{}, "Junk E-mail"},
      {{0}, "Junk-E-Mail"},
      {{0, 2}, "Junk E-mail"},
      {{1}, "Junk E-mail"},
  };
  for (const auto& c : cases) {
    ClearRegistry();
    for (int k : c.keysSet)
      registry::WriteDword(HKEY_CURRENT_USER, kOfficeKeys[k], k == 0 ? "SKULanguage" : "InstallLanguage",
                           1031);
    connect_->OnDisconnection(ext_dm_HostShutdown, nullptr);
    model_.reset();
    Model().SetNamespaceFails(true);
    ASSERT_EQ(Connect(), S_OK);
    EXPECT_STREQ(connect_->JunkFolderName(), c.name) << c.keysSet.size();
  }
}

TEST_F(ConnectTest, TheRegistrySwitchesTurnTheAddinOrNewMailScansOff) {
  struct {
    const char* deactivate;
    const char* onNew;
    long active;
    size_t applicationSinks;
  } const cases[] = {
      {"TRUE", nullptr, 0, 0},       {"true ", nullptr, 16, 3}, {"truely", nullptr, 16, 3},
      {nullptr, "False", 16, 2},     {nullptr, "no", 16, 3},    {"false", "FALSE", 16, 2},
  };
  for (const auto& c : cases) {
    ClearRegistry();
    if (c.deactivate)
      registry::WriteString(HKEY_CURRENT_USER, registry::kProductKey, CConnect::kDeactivateValue,
                            c.deactivate);
    if (c.onNew)
      registry::WriteString(HKEY_CURRENT_USER, registry::kProductKey, CConnect::kOnNewValue,
                            c.onNew);
    model_.reset();
    ASSERT_EQ(Connect(), S_OK);
    EXPECT_EQ(connect_->ActiveVersion(), c.active) << (c.deactivate ? c.deactivate : "-");
    EXPECT_EQ(Model().ApplicationObject().SinkCount(), c.applicationSinks)
        << (c.onNew ? c.onNew : "-");
    connect_->OnDisconnection(ext_dm_HostShutdown, nullptr);
    EXPECT_EQ(Model().ApplicationObject().SinkCount(), 0u);
  }
}

TEST_F(ConnectTest, ConnectingTwiceWithoutDisconnectingFails) {
  ASSERT_EQ(Connect(), S_OK);
  EXPECT_EQ(connect_->OnConnection(Model().Application(), ext_cm_Startup, nullptr, nullptr),
            E_FAIL);
}

TEST_F(ConnectTest, NothingIsScannedBeforeAForegroundWindowWasSeen) {
  AddMail(L"out");
  ASSERT_EQ(Connect(), S_OK);
  g_threat = MessageOf(L"out");
  EXPECT_FALSE(Model().FireItemSend(L"out")) << "cancel untouched";
  EXPECT_TRUE(g_scans.empty());
  EXPECT_EQ(connect_->ParentWindow(), nullptr);

  // The next event tries again, and the first window seen is kept.
  ShowForegroundWindow();
  EXPECT_TRUE(Model().FireItemSend(L"out"));
  EXPECT_EQ(connect_->ParentWindow(), kMainWindow);
  ShowForegroundWindow(reinterpret_cast<HWND>(0x20020));
  Model().FireItemSend(L"out");
  ASSERT_EQ(g_scans.size(), 2u);
  EXPECT_EQ(g_scans[1].parent, kMainWindow);
}

TEST_F(ConnectTest, ASendIsSavedScannedAndCancelledOnAThreat) {
  AddMail(L"clean");
  AddMail(L"infected");
  AddMail(L"unsaved");
  Model().Spec(L"unsaved")->saved = false;
  AddMail(L"nosave");
  Model().Spec(L"nosave")->saved = false;
  Model().Spec(L"nosave")->saveFails = true;
  AddMail(L"notmail");
  Model().Spec(L"notmail")->answersMailItem = false;
  AddMail(L"nomapi");
  Model().Spec(L"nomapi")->mapiObject = {};
  ShowForegroundWindow();
  ASSERT_EQ(Connect(), S_OK);
  g_threat = MessageOf(L"infected");

  EXPECT_FALSE(Model().FireItemSend(L"clean"));
  EXPECT_TRUE(Model().FireItemSend(L"infected"));
  EXPECT_FALSE(Model().FireItemSend(L"unsaved"));
  EXPECT_TRUE(Model().Spec(L"unsaved")->saved) << "an unsaved item is saved before the scan";
  for (const wchar_t* id : {L"nosave", L"notmail", L"nomapi"}) Model().FireItemSend(id);

  for (const ScanCall& s : g_scans)
    for (const wchar_t* id : {L"nosave", L"notmail", L"nomapi"})
      EXPECT_NE(s.message, MessageOf(id)) << "scanned " << std::string(id, id + wcslen(id));
  ASSERT_EQ(g_scans.size(), 3u) << "no scan when saving, the mail item or MAPIOBJECT fails";
  EXPECT_EQ(g_scans[0].message, MessageOf(L"clean"));
  EXPECT_EQ(g_scans[1].message, MessageOf(L"infected"));
  EXPECT_EQ(g_scans[2].message, MessageOf(L"unsaved"));
  for (const ScanCall& s : g_scans) {
    EXPECT_EQ(s.junk, "Junk E-mail");
    EXPECT_EQ(s.parent, kMainWindow);
    EXPECT_FALSE(s.incoming);
    EXPECT_FALSE(s.force);
    EXPECT_EQ(s.messageClass, L"IPM.Note");
  }
}

TEST_F(ConnectTest, NewMailScansEachMailOfTheListForcibly) {
  AddMail(L"a");
  AddMail(L"b", L"IPM.Note.SMIME");
  AddMail(L"meeting", L"IPM.Schedule.Meeting.Request");
  Model().ShowExplorer();
  ShowForegroundWindow();
  ASSERT_EQ(Connect(), S_OK);
  Model().FireNewMailEx(L"a,,meeting,unknown,b");
  Model().FireNewMailEx(L"");
  ASSERT_EQ(g_scans.size(), 2u);
  EXPECT_EQ(g_scans[0].message, MessageOf(L"a"));
  EXPECT_EQ(g_scans[1].message, MessageOf(L"b"));
  EXPECT_EQ(g_scans[1].messageClass, L"IPM.Note.SMIME");
  for (const ScanCall& s : g_scans) {
    EXPECT_TRUE(s.incoming);
    EXPECT_TRUE(s.force);
  }
}

TEST_F(ConnectTest, NewMailNeedsAnExplorerAndTheSwitch) {
  AddMail(L"a");
  ShowForegroundWindow();
  ASSERT_EQ(Connect(), S_OK);
  Model().FireNewMailEx(L"a");
  EXPECT_TRUE(g_scans.empty()) << "no explorer: no session to look the ids up in";

  connect_->OnDisconnection(ext_dm_HostShutdown, nullptr);
  registry::WriteString(HKEY_CURRENT_USER, registry::kProductKey, CConnect::kOnNewValue, "false");
  Model().ShowExplorer();
  ASSERT_EQ(Connect(), S_OK);
  Model().FireNewMailEx(L"a");
  EXPECT_TRUE(g_scans.empty()) << "new mail is not scanned on arrival";
  Model().Select({L"a"});
  Model().FireSelectionChange();
  EXPECT_EQ(g_scans.size(), 1u) << "selection scans still happen";
  Model().FireItemSend(L"a");
  EXPECT_EQ(g_scans.size(), 2u) << "and so do sends";
}

TEST_F(ConnectTest, ASelectionScansOnlyItsFirstSentMail) {
  struct {
    std::vector<std::wstring> selection;
    const wchar_t* scanned;  // null: nothing
  } const cases[] = {
      {{L"m1", L"m2", L"m3", L"m4", L"m5"}, L"m1"},
      {{L"draft", L"m2"}, nullptr},
      {{L"meeting"}, nullptr},
      {{}, nullptr},
      {{L"smime"}, L"smime"},
  };
  for (const wchar_t* id : {L"m1", L"m2", L"m3", L"m4", L"m5"}) AddMail(id);
  AddMail(L"draft", L"IPM.Note", /*sent=*/false);
  AddMail(L"meeting", L"IPM.Schedule.Meeting.Request");
  AddMail(L"smime", L"IPM.Note.SMIME.MultipartSigned");
  Model().ShowExplorer();
  ShowForegroundWindow();
  ASSERT_EQ(Connect(), S_OK);
  for (const auto& c : cases) {
    g_scans.clear();
    Model().Select(c.selection);
    Model().FireSelectionChange();
    if (!c.scanned) {
      EXPECT_TRUE(g_scans.empty()) << c.selection.size();
      continue;
    }
    ASSERT_EQ(g_scans.size(), 1u);
    EXPECT_EQ(g_scans[0].message, MessageOf(c.scanned));
    EXPECT_TRUE(g_scans[0].incoming);
    EXPECT_FALSE(g_scans[0].force);
  }
}

TEST_F(ConnectTest, AnExplorerThatComesLaterIsWiredAtTheFirstItemLoad) {
  AddMail(L"a");
  ShowForegroundWindow();
  ASSERT_EQ(Connect(), S_OK);
  EXPECT_FALSE(connect_->ExplorerSinkAdvised());
  Model().ShowExplorer();
  Model().FireItemLoad(L"a");
  EXPECT_TRUE(connect_->ExplorerSinkAdvised());
  EXPECT_EQ(Model().Explorer()->SinkCount(), 1u);
  Model().FireItemLoad(L"a");
  EXPECT_EQ(Model().Explorer()->SinkCount(), 1u) << "wired once";
  Model().Select({L"a"});
  Model().FireSelectionChange();
  EXPECT_EQ(g_scans.size(), 1u);
  connect_->OnDisconnection(ext_dm_HostShutdown, nullptr);
  EXPECT_EQ(Model().Explorer()->SinkCount(), 0u);
}

TEST_F(ConnectTest, ASinkThatOutlivesTheAddinObjectIsHarmless) {
  AddMail(L"a");
  ShowForegroundWindow();
  ASSERT_EQ(Connect(), S_OK);
  connect_ = {};  // released without disconnecting: the sources keep the sinks
  EXPECT_EQ(Model().ApplicationObject().SinkCount(), 3u);
  EXPECT_FALSE(Model().FireItemSend(L"a"));
  EXPECT_TRUE(g_scans.empty());
}

}  // namespace
}  // namespace mapilib
