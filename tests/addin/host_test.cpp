// The registered add-in in the stand-in Outlook, as Outlook loads it: the
// library registered by regsvr32, found through the add-in keys, created by
// its ProgID and connected; the host's script fires the events.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "kit/childprocess.h"
#include "kit/names.h"
#include "registry/registry.h"

namespace {

namespace registry = tarvixlib::registry;

constexpr char kAddinKey[] = "Software\\Microsoft\\Office\\Outlook\\Addins\\norvella.Connect";

// Runs a program to its end; its output, and its exit code in *code.
std::string RunToEnd(const std::string& commandLine, DWORD* code) {
  testkit::CChildProcess child;
  if (!child.Start(commandLine)) return "<not started>";
  child.Stop(60000);
  *code = child.ExitCode();
  return child.Output();
}

class HostTest : public ::testing::Test {
protected:
  void SetUp() override {
    DWORD code = 1;
    RunToEnd("regsvr32.exe /s \"" NORVELLA_DLL_PATH_A "\"", &code);
    ASSERT_EQ(code, 0u);
  }
  void TearDown() override {
    DWORD code = 1;
    RunToEnd("regsvr32.exe /s /u \"" NORVELLA_DLL_PATH_A "\"", &code);
    EXPECT_EQ(code, 0u);
  }
  // Runs the host over the script; its output.
  std::string Host(const std::string& script, DWORD* code) {
    std::string path = testkit::TempPath("host-script");
    EXPECT_TRUE(testkit::WriteFileText(path, script));
    std::string out = RunToEnd("\"" OUTLOOK_STANDIN_PATH "\" \"" + path + "\"", code);
    DeleteFileA(path.c_str());
    return out;
  }
};

TEST_F(HostTest, TheRegisteredAddinIsLoadedConnectedAndUnloaded) {
  DWORD code = 1;
  std::string out = Host(
      "explorer\n"
      "mail m1\n"
      "mail meeting class=IPM.Schedule.Meeting.Request\n"
      "connect\n"
      "foreground on\n"
      "send m1\n"
      "newmail m1,,meeting\n"
      "select m1 meeting\n"
      "load m1\n"
      "disconnect\n",
      &code);
  EXPECT_EQ(code, 0u) << out;
  EXPECT_EQ(out.find("no window"), std::string::npos) << "the host's main window is in front\n"
                                                      << out;
  for (const char* line :
       {"add-in norvella.Connect: OnConnection 0x00000000, OnStartupComplete 0x00000000, "
        "application sinks 3, explorer sinks 1",
        "send m1: sent (3 sink(s))", "newmail m1,,meeting: 3 sink(s)",
        "select 2 item(s): 1 sink(s)", "load m1: 3 sink(s)",
        "add-in norvella.Connect: OnDisconnection 0x00000000, application sinks left 0",
        "objects the add-in still holds: none"})
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  // The three scanning events reached the scan with their arguments, in
  // order; the meeting request and the second selected item did not.
  std::string scans;
  for (size_t at = out.find("  ScanMessage "); at != std::string::npos;
       at = out.find("  ScanMessage ", at + 1)) {
    size_t parent = out.find(" incoming=", at);
    size_t junk = out.find(" junk=", at);
    scans += out.substr(at + 14, out.find(':', at) - at - 14) + out.substr(parent, junk - parent) +
             "\n";
  }
  EXPECT_EQ(scans,
            "m1 incoming=0 force=0 class=IPM.Note\n"
            "m1 incoming=1 force=1 class=IPM.Note\n"
            "m1 incoming=1 force=0 class=IPM.Note\n")
      << out;
  EXPECT_NE(out.find("junk=Junk E-mail"), std::string::npos) << out;
}

TEST_F(HostTest, AnOldOutlookLeavesTheAddinInactive) {
  DWORD code = 1;
  std::string out = Host("version 12.0.6423.1000\nexplorer\nconnect\ndisconnect\n", &code);
  EXPECT_EQ(code, 0u) << out;
  EXPECT_NE(out.find("OnConnection 0x00000000, OnStartupComplete 0x80004001, application sinks "
                     "0, explorer sinks 0"),
            std::string::npos)
      << out;
}

TEST_F(HostTest, AnAddinNotLoadedAtStartupIsLeftAlone) {
  ASSERT_TRUE(registry::WriteDword(HKEY_LOCAL_MACHINE, kAddinKey, "LoadBehavior", 2));
  DWORD code = 0;
  std::string out = Host("connect\n", &code);
  EXPECT_EQ(code, 3u) << out;
  EXPECT_NE(out.find("no add-in loaded"), std::string::npos) << out;
}

}  // namespace
