// The application details against a command client that answers from a
// table: what a full load sends, what it keeps, and the state table of
// loaded and valid settings.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/mystream.h"
#include "mapilib/appdetails.h"
#include "mapilib/listener.h"
#include "tableclient.h"

namespace mapilib {
namespace {

using tarvixlib::CMyStreamBuf;

class CNoSettings : public CLanguageSettings {
public:
  bool ReadLanguage(bool, CMyStringA&) override { return false; }
  uint32_t ReadForceMachineLanguage() override { return 0; }
  bool WriteLanguage(bool, const char*) override { return true; }
  bool WriteForceMachineLanguage(uint32_t) override { return true; }
  uint16_t SystemUiLanguage() override { return 0x0409; }
};

const char kStatus[] = "100 0\nVER_SERVICE:7\nMAIN_PATH_W:C:\\Pr\xC3\xBC" "fen\\\n.\n";
const char kSpec[] = "100 0\nPRODUCT_LONG:Tarvix \xC3\xA9 Mail\nContactHomepage:https://t.test/\n.\n";
const char kSettings[] =
    "100 0\nSCANEMAIL:yes\nSHOWWINDOW:yes\nBUILDNR:4711\nLANGUAGE:7\nDISCLR:2\nSPAMCHECK:yes\n"
    "SPAMACTION:1\nCLOSEWIN:yes\n.\n";

class AppDetailsTest : public ::testing::Test {
protected:
  void SetUp() override {
    client_.Reply("GET_TARVIXSTATUS", kStatus);
    client_.Reply("GET_SPECIFICATION_VALUE", kSpec);
    client_.Reply("GET_MAPISETTINGS", kSettings);
  }
  std::unique_ptr<CAppDetails> Make() {
    return std::make_unique<CAppDetails>(&client_, &instance_, nullptr, nullptr, language_);
  }
  CTableClient client_;
  CNoSettings language_;
  HINSTANCE instance_ = nullptr;
};

TEST_F(AppDetailsTest, AFullLoadSendsThreeQueriesOnceAndKeepsWhatItNeeds) {
  auto details = Make();
  EXPECT_TRUE(details->Load());
  EXPECT_EQ(client_.Sent(), (std::vector<std::string>{"GET_TARVIXSTATUS", "GET_SPECIFICATION_VALUE",
                                                    "GET_MAPISETTINGS"}));
  EXPECT_STREQ(details->GetMainPath(), L"C:\\Pr\u00FCfen\\");
  EXPECT_STREQ(details->GetProductLongName(), L"Tarvix \u00E9 Mail");
  EXPECT_STREQ(details->GetHomepage(), L"https://t.test/");
  EXPECT_STREQ(details->Language().FilePath(), "C:\\Pr\xFC" "fen\\..\\image\\")
      << "the main path in the ANSI code page, then ..\\image\\";
  MapiSettings settings;
  bool closeWindow = false;
  EXPECT_TRUE(details->GetSettings(&settings, &closeWindow));
  EXPECT_EQ(settings.SCANEMAIL, 1u);
  EXPECT_EQ(settings.SHOWWINDOW, 1u);
  EXPECT_EQ(settings.BUILDNR, 4711u);
  EXPECT_EQ(settings.DISCLR, 2u);
  EXPECT_EQ(settings.DISCLS, 0u);
  EXPECT_EQ(settings.SPAMCHECK, 1u);
  EXPECT_EQ(settings.SPAMACTION, 1u);
  EXPECT_EQ(settings.SAVETOQU, 0u);
  EXPECT_TRUE(closeWindow);

  client_.Clear();
  EXPECT_TRUE(details->Load());
  EXPECT_TRUE(client_.Sent().empty()) << "loaded and valid: nothing is sent";
}

TEST_F(AppDetailsTest, AFailedStatusQueryLoadsNothing) {
  client_.Reply("GET_TARVIXSTATUS", "");
  auto details = Make();
  EXPECT_FALSE(details->Load());
  EXPECT_EQ(client_.Sent(), std::vector<std::string>{"GET_TARVIXSTATUS"});
  EXPECT_FALSE(details->IsLoaded());
  client_.Reply("GET_TARVIXSTATUS", kStatus);
  EXPECT_TRUE(details->Load()) << "the next call tries again from the start";
}

TEST_F(AppDetailsTest, AFailedSpecificationQueryKeepsTheNamesAndGoesOn) {
  client_.Reply("GET_SPECIFICATION_VALUE", "2 0\n.\n");
  auto details = Make();
  EXPECT_TRUE(details->Load());
  EXPECT_STREQ(details->GetProductLongName(), L"");
  EXPECT_STREQ(details->GetHomepage(), L"");
}

TEST_F(AppDetailsTest, AFailedSettingsQueryRepeatsTheWholeLoad) {
  client_.Reply("GET_MAPISETTINGS", "");
  auto details = Make();
  EXPECT_FALSE(details->Load());
  EXPECT_FALSE(details->IsLoaded());
  client_.Clear();
  client_.Reply("GET_MAPISETTINGS", kSettings);
  EXPECT_TRUE(details->Load());
  EXPECT_EQ(client_.Sent().size(), 3u);
}

TEST_F(AppDetailsTest, InvalidateThenReloadFollowTheStateTable) {
  auto details = Make();
  ASSERT_TRUE(details->Load());
  details->Invalidate();
  client_.Clear();
  EXPECT_FALSE(details->Load()) << "loaded and invalid";
  EXPECT_TRUE(client_.Sent().empty());
  client_.Reply("GET_MAPISETTINGS", "");
  EXPECT_FALSE(details->ReloadSettings());
  EXPECT_FALSE(details->Load()) << "a failed reload changes nothing";
  client_.Reply("GET_MAPISETTINGS", kSettings);
  EXPECT_TRUE(details->ReloadSettings());
  client_.Clear();
  EXPECT_TRUE(details->Load());
  EXPECT_TRUE(client_.Sent().empty()) << "valid again without a full load";
}

TEST_F(AppDetailsTest, AMainPathWithoutItsSeparatorStillNamesTheImageFolder) {
  client_.Reply("GET_TARVIXSTATUS", "100 0\nMAIN_PATH_W:C:\\Tarvix\n.\n");
  auto details = Make();
  details->Load();
  EXPECT_STREQ(details->Language().FilePath(), "C:\\Tarvix\\..\\image\\");
}

TEST_F(AppDetailsTest, AStatusWithoutMainPathLeavesTheRelativeFolder) {
  client_.Reply("GET_TARVIXSTATUS", "100 0\n.\n");
  auto details = Make();
  EXPECT_TRUE(details->Load());
  EXPECT_STREQ(details->GetMainPath(), L"");
  EXPECT_STREQ(details->Language().FilePath(), "..\\image\\");
}

TEST_F(AppDetailsTest, ListenerCommandsActOnTheDetails) {
  auto details = Make();
  ASSERT_TRUE(details->Load());
  CListenerCommandSet set(details.get());
  EXPECT_NE(set.Find("NOP"), nullptr);
  EXPECT_NE(set.Find("close_connection"), nullptr);

  auto serve = [&](const char* name, const std::string& block) {
    CMyStreamBuf in, out;
    in.Write(block.data(), block.size());
    in.Seek(0, nullptr, 0);
    set.Dispatch(name, in, out, nullptr, true);
    std::string written(static_cast<size_t>(out.Size()), '\0');
    out.Seek(0, nullptr, 0);
    out.Read(&written[0], written.size());
    return written;
  };
  EXPECT_EQ(serve("stop_application", ".\n"), "") << "lower case is recognised; no answer";
  EXPECT_FALSE(details->SettingsValid());
  client_.Clear();
  EXPECT_EQ(serve("STATUS_CHANGED", ".\n"), "");
  EXPECT_EQ(client_.Sent(), std::vector<std::string>{"GET_MAPISETTINGS"});
  EXPECT_TRUE(details->SettingsValid());
  EXPECT_EQ(serve("NOP", ".\n"), "100 1536\n.\n");
}

TEST_F(AppDetailsTest, IconsComeFromTheImageFolderAndAreKept) {
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, sizeof exe);
  std::string dir(exe);
  dir = dir.substr(0, dir.find_last_of('\\') + 1);
  std::string status = "100 0\nMAIN_PATH_W:" + dir + "main\\\n.\n";
  client_.Reply("GET_TARVIXSTATUS", status);
  auto details = Make();
  HICON small = details->GetSmallIcon();
  ASSERT_NE(small, nullptr) << dir << "image\\big_main_icon.ico";
  EXPECT_EQ(details->GetSmallIcon(), small);
  HICON big = details->GetBigIcon();
  ASSERT_NE(big, nullptr);
  ICONINFO info;
  ASSERT_TRUE(GetIconInfo(big, &info));
  BITMAP bitmap;
  GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
  EXPECT_EQ(bitmap.bmWidth, 32);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
}

}  // namespace
}  // namespace mapilib
