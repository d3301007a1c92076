// The add-in's service side against the stand-in security service: the
// application details load from the service's built-in answers (language
// file and icon from the image folder its main path names), the pipe
// watcher registers its listener, and the listener serves what the service
// pushes: the notifications act on the details, NOP and unknown commands
// are answered, and after CLOSE_CONNECTION or a hang-up the watcher
// registers anew.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "mapilib/appdetails.h"
#include "mapilib/pipewatcher.h"
#include "service_process.h"

namespace mapilib {
namespace {

using commtest::CServiceProcess;
using commtest::UniquePipeName;

// No language chosen by the user; the system speaks German.
class CGermanSystem : public CLanguageSettings {
public:
  bool ReadLanguage(bool, CMyStringA&) override { return false; }
  uint32_t ReadForceMachineLanguage() override { return 0; }
  bool WriteLanguage(bool, const char*) override { return true; }
  bool WriteForceMachineLanguage(uint32_t) override { return true; }
  uint16_t SystemUiLanguage() override { return 0x0407; }
};

// Polls until the condition holds (at most ms).
template <typename Condition>
bool Eventually(Condition condition, DWORD ms) {
  DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > ms) return false;
    Sleep(10);
  }
  return true;
}

TEST(AddinAgainstServiceTest, LoadsRegistersAndServesEveryKindOfPush) {
  std::string pipe = UniquePipeName("addin");
  CServiceProcess service;
  ASSERT_TRUE(service.Start(pipe, ""));
  {
    commtest::Client client(pipe);
    CGermanSystem language;
    HINSTANCE instance = nullptr;
    CAppDetails details(&client.comm, &instance, nullptr, pipe.c_str(), language);
    CPipeWatcher::Timing timing;
    timing.livenessPollMs = 100;  // a lost listener is noticed at once
    details.Watcher()->SetTiming(timing);

    ASSERT_TRUE(details.Load()) << service.Output();
    EXPECT_STREQ(details.GetProductLongName(), L"Tarvix Internet Security");
    EXPECT_STREQ(details.GetHomepage(), L"https://www.zelvok.example/tarvix");
    std::wstring mainPath = details.GetMainPath();
    EXPECT_EQ(mainPath.substr(mainPath.size() - 6), L"\\main\\");
    EXPECT_STREQ(details.Language().CurrentLanguage(), "de") << "omlang.de came from the image folder";
    EXPECT_NE(details.GetBigIcon(), nullptr);
    MapiSettings settings;
    bool closeWindow = false;
    details.GetSettings(&settings, &closeWindow);
    EXPECT_EQ(settings.SCANEMAIL, 1u);
    EXPECT_EQ(settings.BUILDNR, 4242u);
    EXPECT_EQ(settings.DISCLR, 1u);
    EXPECT_EQ(settings.SPAMCHECK, 1u);
    EXPECT_TRUE(closeWindow);
    ASSERT_TRUE(service.WaitFor("] listener registered", 10000)) << service.Output();

    auto push = [&](const std::string& line, const std::string& report) {
      EXPECT_TRUE(service.WriteInput(line + "\n"));
      EXPECT_TRUE(service.WaitFor(report, 10000)) << line << "\n" << service.Output();
    };
    push("push NOP", "] pushed NOP -> 100 1536");
    push("push stop_application", "] pushed stop_application -> no answer");
    EXPECT_TRUE(Eventually([&] { return !details.SettingsValid(); }, 5000));
    EXPECT_FALSE(details.Load()) << "stopped: no scans";
    size_t queries = service.Count("GET_MAPISETTINGS -> 100");
    push("push STATUS_CHANGED E=10", "] pushed STATUS_CHANGED E=10 -> no answer");
    EXPECT_TRUE(Eventually([&] { return details.SettingsValid(); }, 5000));
    EXPECT_EQ(service.Count("GET_MAPISETTINGS -> 100"), queries + 1);
    push("push MAKE_TEA KIND=green CUPS=2", "] pushed MAKE_TEA KIND=green CUPS=2 -> 101 Unknown command");
    push("push AUTOUPDATE_POSTMESSAGE URL=https://u.example/x",
         "] pushed AUTOUPDATE_POSTMESSAGE URL=https://u.example/x -> no answer");

    // The add-in ends the listener when told to; the watcher registers anew.
    push("push CLOSE_CONNECTION", "] pushed CLOSE_CONNECTION -> 100 1536");
    EXPECT_TRUE(service.WaitFor("] listener closed by the add-in", 5000)) << service.Output();
    EXPECT_TRUE(service.WaitForCount("] listener registered", 2, 10000)) << service.Output();
    // So it does when the service hangs up.
    push("push hangup", "] listener closed by the service");
    EXPECT_TRUE(service.WaitForCount("] listener registered", 3, 10000)) << service.Output();
    EXPECT_TRUE(Eventually([&] { return details.SettingsValid(); }, 5000))
        << "a new registration reloads the settings";
    EXPECT_TRUE(service.WriteInput("push NOP\n"));
    EXPECT_TRUE(service.WaitForCount("] pushed NOP -> 100 1536", 2, 10000)) << service.Output();
  }
  EXPECT_TRUE(service.Stop());
  EXPECT_EQ(service.ExitCode(), 0u) << service.Output();
}

}  // namespace
}  // namespace mapilib
