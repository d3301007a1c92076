// vexal-client.exe end to end: the real program as a child process against
// the stand-in engine registered in this build's wine prefix (the CTest
// fixture registers it). Every option, the whole standard output and the
// exit code are compared.
//
// No test may power the machine off: the scenarios answer IsProductScanning
// with an error wherever "-ShutdownIfIdle" is given (checked below), so
// the client prints "VEXAL_IDLESHUTDOWN ERROR!" and never asks Windows.
// The power-off path itself is tested through the library with a recorder.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "client_process.h"
#include "foundation/asciitext.h"
#include "foundation/winhandles.h"
#include "golden_texts.h"

using consoletest::CTempFile;
using consoletest::RunClient;
using consoletest::SClientRun;
using consoletest::SClientStep;

namespace {

const wchar_t kClient[] = VEXAL_CLIENT_PATH;

// The answers of most runs.
const std::string kScenario =
    std::string("DetectionOfProduct 0 true\n"
    "IsProtectionEnabled 1 false\n"
    "VerifyAuthenticity 0 false\n"
    "IsUpdateInProgress 0 true\n"
    "IsProductScanning 0x80004005 false\n"
    "DataFileSignatureCount 0 \"4187215\"\n"
    "DataFileVersion 0 \"8.17.3\"\n"
    "DataFileTime 0 null\n"
    "EngineVersion 0 \"6.2 (100%)\"\n"
    "ActivateAnUpdate 0 true\n"
    "EnableProtection 0 true\n"
    "DisableProtection 0x80004005 false\n"
    "ActivateMainGUI 1\n"
    "LaunchAScan 0\n"
    "StopAScan 1\n"
    "RetrieveLastScan 0 \"\"\n"
    "GetUpdateServer 0 \"https://u1.example/\"\n"
    "GetUpdateServer 0 \"https://u2.example/\"\n"
    "GetGUILanguage 0 0x0409\n"
    "LaunchAFileScan 1 true \"E-1\" \"EICAR\"\n") +
    consoletest::kHistoryLineA +
    "GetThreatHistoryEntry 0 \"-1\" 9 \"Sig B\" null \"ID-B\" \"proc-b\" 12\n"
    "DeleteInfection 0\n"
    "DeleteInfectionKeepBackup 1\n"
    "IgnoreInfection 0\n"
    "RestoreInfection 0\n"
    "ClearThreatHistory 0\n"
    "SwapVirusDatabase 0\n"
    "SwapAntispamDatabase 0\n"
    "GetAntispamInfo 0 \"3.1\" \"t\" \"v\" \"42\"\n";

const char* const kEntryA = consoletest::kPrintedEntryA;
const char kEntryB[] =
    "Virus (ID 12):\n"
    "  File . . . . :  . \n"
    "  Sig-ID . . . : ID-B\n"
    "  Sig-Name . . : Sig B\n"
    "  Process. . . : proc-b\n"
    "  Time found . : TIME ERROR\n"
    "  Status . . . : Unknown state!\n"
    "\n";

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string Lower(std::string text) {
  tarvixlib::AsciiLowerInPlace(text.data(), text.size());
  return text;
}

// Refuses any run that could reach the power-off request.
bool ShutdownIsSafe(const std::string& arguments, const std::string& scenario) {
  if (Lower(arguments).find("shutdownifidle") == std::string::npos) return true;
  size_t pos = 0;
  bool any = false;
  while ((pos = scenario.find("IsProductScanning", pos)) != std::string::npos) {
    any = true;
    const std::string error = "IsProductScanning 0x80004005 ";
    if (scenario.compare(pos, error.size(), error) != 0) return false;
    pos += 17;
  }
  return any;
}

struct SCase {
  const char* name;
  const char* arguments;  // the command line after the program
  const char* expected;   // the whole standard output
  const char* scenario = nullptr;  // null: kScenario
};

// Test names and failure messages show the case name, not its bytes.
void PrintTo(const SCase& c, std::ostream* os) { *os << c.name; }

class ConsoleEndToEnd : public ::testing::TestWithParam<SCase> {};

TEST_P(ConsoleEndToEnd, OutputAndExitCode) {
  const SCase& c = GetParam();
  std::string scenarioText = c.scenario ? c.scenario : kScenario;
  ASSERT_TRUE(ShutdownIsSafe(c.arguments, scenarioText)) << "this run could power off";
  CTempFile scenario(L"r6scenario", scenarioText);
  SClientRun run = RunClient(kClient, Widen(c.arguments),
                             {{L"TARVIX_R6_SCENARIO", scenario.Path()}}, {});
  ASSERT_TRUE(run.finished) << run.problem;
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output, c.expected);
}

const SCase kCases[] = {
    {"Detect", "-Detect", "  Product is installed: YES\n"},
    {"DetectSlashLowerCase", "/detect", "  Product is installed: YES\n"},
    {"Verify", "-Verify", "One ore more files are not properly signed\n"},
    {"IsProtectionEnabled", "-IsProtectionEnabled", "  Protection is enabled: NO\n"},
    {"EnableProtection", "-EnableProtection", "  Protection has been enabled: YES\n"},
    {"DisableProtection", "-DisableProtection", "DisableProtection ERROR!\n"},
    {"IsScanning", "-IsScanning", "IsProductScanning ERROR!\n"},
    {"IsUpdateInProgress", "-IsUpdateInProgress", "  Update in progress: YES\n"},
    {"StartUpdate", "-StartUpdate", "  Starting update succeeded: YES\n"},
    {"EngineVersion", "-EngineVersion", "  Engine version: 6.2 (100%)\n"},
    {"VDBTime", "-VDBTime", "  Data file time:    \n"},
    {"VDBVersion", "-VDBVersion", "  Data file version: 8.17.3\n"},
    {"VDBSignatureCount", "-VDBSignatureCount", "  Data file signature count: 4187215\n"},
    {"ActivateGUI", "-ActivateGUI", "  Activating main GUI succeeded: YES\n"},
    {"GUILanguage", "-GUILanguage", "  GUI language: Unable to resolve language: 1033\n"},
    {"ShowUpdateServers", "-ShowUpdateServers",
     "Get update server URL:\n"
     "  Update Server #1   : https://u1.example/\n"
     "  Update Server #2   : https://u2.example/\n"
     "\n"},
    {"StartScan", "-StartScan removable", "  Launching the scan succeeded: YES\n"},
    {"StopScan", "-StopScan FULL", "  Stopping the scan succeeded: NO\n"},
    {"GetLastScan", "-GetLastScan QUICK", "Retrieve last scan:\n  Last scan: Never completed!\n"},
    {"ScanFile", "-ScanFile eicar.com",
     "Scanning single File:\n"
     "  Filename      : eicar.com\n"
     "  Virus found   : YES\n"
     "  Sig-ID        : E-1\n"
     "  Sig-Name      : EICAR\n"
     "\n"},
    {"ViruslistAll", "-Viruslist ALL", nullptr},  // expected built below
    {"Delete", "-Delete 5 -Delete 7",
     "Deleting Virus:\n"
     "  ID                     : 5\n"
     "  Deleted successfully   : YES\n"
     "\n"},
    {"DeleteAndSave", "-DeleteAndSave 6",
     "Creating backup and deleting virus:\n"
     "  ID                                    : 6\n"
     "  Deleted (but backuped) successfully   : NO\n"
     "\n"},
    {"Ignore", "-Ignore 8",
     "Temporarily ignoring virus:\n"
     "  ID                     : 8\n"
     "  Ignored successfully   : YES\n"
     "\n"},
    {"Restore", "-Restore 9",
     "Restoring file:\n"
     "  ID                      : 9\n"
     "  Restored successfully   : YES\n"
     "\n"},
    {"ClearViruslist", "-ClearViruslist",
     "Cleaning list and removing backups:\n"
     "  Viruslist cleaned successfully   : YES\n"
     "\n"},
    {"SwapVDB", "-SwapVDB \"C:\\new sigs.vdb\"",
     "Replacing Virus Database:\n"
     "  Filename                : C:\\new sigs.vdb\n"
     "  Replaced successfully   : YES\n"
     "\n"},
    {"SwapSDB", "-SwapSDB a.sdb",
     "Replacing Antispam Database:\n"
     "  Filename                                       : a.sdb\n"
     "  The virus database was successfully replaced   : YES\n"
     "\n"
     "The AntiSPAM database was successfully replaced.\n"
     "\n"},
    {"ASInfo", "-ASInfo",
     "  Antispam Engine Version: 3.1\n"
     "  Antispam Database Time: t\n"
     "  Antispam Database Version: v\n"
     "  Antispam Database Entries: 42\n"},
    {"ASVersion", "-ASVersion", "  Antispam Engine Version: 3.1\n"},
    {"SDBTime", "-SDBTime", "  Antispam Database Time: t\n"},
    {"SDBVersion", "-SDBVersion", "  Antispam Database Version: v\n"},
    {"SDBSignatureCount", "-SDBSignatureCount", "  Antispam Database Entries: 42\n"},
    {"ShutdownIfIdleError", "-ShutdownIfIdle -Detect",
     "  Product is installed: YES\nVEXAL_IDLESHUTDOWN ERROR!\n"},
    {"ArgumentStartingWithDash", "-ScanFile -ShutdownIfIdle",
     "Scanning single File:\n"
     "  Filename      : -ShutdownIfIdle\n"
     "  Virus found   : YES\n"
     "  Sig-ID        : E-1\n"
     "  Sig-Name      : EICAR\n"
     "\n"},
    {"NoEngineAnswers", "-Detect -EngineVersion -ASInfo -Viruslist EX -ShowUpdateServers",
     "DetectionOfProduct ERROR!\n"
     "EngineVersion ERROR!\n"
     "Get update server URL:\n"
     "\n"
     "Enumerate threat history:\n"
     "No more threat history entries found.\n"
     "GetAntispamInfo ERROR!\n",
     "# nothing answered\n"},
    {"VeryLongAndNullStrings", "-EngineVersion -VDBVersion -ScanFile x",
     nullptr,  // built below
     "EngineVersion 0 fill:200000:v\nDataFileVersion 0 null\n"
     "LaunchAFileScan 1 true null fill:5000:n\n"},
};

std::vector<SCase> AllCases() {
  static std::string viruslist = std::string("Enumerate threat history:\n") + kEntryA + kEntryB +
                                 "No more threat history entries found.\n";
  static std::string longStrings = "  Data file version:    \n  Engine version: " +
                                   std::string(200000, 'v') + "\n" +
                                   "Scanning single File:\n"
                                   "  Filename      : x\n"
                                   "  Virus found   : YES\n"
                                   "  Sig-ID        :    \n"
                                   "  Sig-Name      : " +
                                   std::string(5000, 'n') + "\n\n";
  std::vector<SCase> cases(std::begin(kCases), std::end(kCases));
  for (SCase& c : cases) {
    if (std::string(c.name) == "ViruslistAll") c.expected = viruslist.c_str();
    if (std::string(c.name) == "VeryLongAndNullStrings") c.expected = longStrings.c_str();
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Options, ConsoleEndToEnd, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<SCase>& info) {
                           return std::string(info.param.name);
                         });

// Every operation in one run, the options given in reverse order: the
// output is that of the single runs in the fixed operation order, each
// operation with the argument of its own option.
TEST(ConsoleEndToEndOrder, AllOperationsInOneRun) {
  const char* const order[] = {
      "Detect",        "IsProtectionEnabled", "Verify",        "IsUpdateInProgress",
      "IsScanning",    "*shutdown*",          "VDBSignatureCount", "DisableProtection",
      "EnableProtection", "VDBVersion",       "VDBTime",       "EngineVersion",
      "StartUpdate",   "ScanFile",            "ActivateGUI",   "ShowUpdateServers",
      "GUILanguage",   "StartScan",           "StopScan",      "GetLastScan",
      "ViruslistAll",  "Delete",              "DeleteAndSave", "Ignore",
      "Restore",       "ClearViruslist",      "SwapVDB",       "SwapSDB",
      "ASInfo",        "*callback*"};
  const std::vector<SCase> cases = AllCases();
  std::vector<std::string> arguments;
  std::string expected;
  for (const char* name : order) {
    if (std::string(name) == "*shutdown*") {
      arguments.push_back("-ShutdownIfIdle");
      expected += "VEXAL_IDLESHUTDOWN ERROR!\n";
      continue;
    }
    if (std::string(name) == "*callback*") {
      arguments.push_back("-Callback");
      expected += "Waiting for incoming callbacks - Press \"Return\" to quit\nStop.\n";
      continue;
    }
    auto found = std::find_if(cases.begin(), cases.end(),
                              [name](const SCase& c) { return std::string(c.name) == name; });
    ASSERT_NE(found, cases.end()) << name;
    arguments.push_back(found->arguments);
    expected += found->expected;
  }
  std::string commandLine;
  for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) commandLine += *it + " ";
  ASSERT_TRUE(ShutdownIsSafe(commandLine, kScenario));
  CTempFile scenario(L"r6scenario", kScenario);
  SClientRun run = RunClient(kClient, Widen(commandLine),
                             {{L"TARVIX_R6_SCENARIO", scenario.Path()}}, {});
  ASSERT_TRUE(run.finished) << run.problem;
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output, expected);
}

// ---- usage --------------------------------------------------------------

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::string UsageStart(bool header) {
  std::string text;
  if (header)
    text = "\nZELVOK ombrix console client, Version 1.0.0.0\n"
           "Copyright (C) 2026 Zelvok. All rights reserved.\n\n";
  return text + "USAGE:\r\n    " + Narrow(kClient) + " [options] [filename]\r\n\n";
}

SClientRun RunPlain(const std::wstring& arguments) {
  CTempFile scenario(L"r6scenario", kScenario);
  return RunClient(kClient, arguments, {{L"TARVIX_R6_SCENARIO", scenario.Path()}}, {});
}

TEST(ConsoleEndToEndUsage, FullUsageWithTheVersionHeader) {
  const std::string expected = UsageStart(true) + consoletest::kAllOptionLines + "\n";
  for (const wchar_t* arguments : {L"", L"-h", L"-?", L"-help", L"/HELP", L"stray words"}) {
    SClientRun run = RunPlain(arguments);
    ASSERT_TRUE(run.finished) << run.problem;
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, expected) << Narrow(arguments);
  }
}

TEST(ConsoleEndToEndUsage, SelectedOptionsAndMissingArguments) {
  const struct {
    const wchar_t* arguments;
    std::string options;
  } cases[] = {
      {L"-h -?", ""},
      {L"-Detect -help", "  -Detect    : Test if ZELVOK ombrix is running.\n"},
      {L"-help -StartScan FULL", "  -StartScan [FULL|STANDARD|QUICK|REMOVABLE|(Name)]   : Launch a scan.\n"},
      {L"-ScanFile", "  -ScanFile <Filename>   : Launch a single file scan.\n"},
      {L"/scanfile", "  -ScanFile <Filename>   : Launch a single file scan.\n"},
      {L"-Viruslist", "  -Viruslist [ALL|EX|NE]   : Show [All] all found viruses. Optionally only "
                      "[Ex]isting or [N]ot[E]xisting infections.\n"},
      {L"-Restore -Delete", "  -Delete <ID>    : Delete infections\n"
                            "  -Restore <ID>   : Restore infected files\n"},
  };
  for (const auto& c : cases) {
    SClientRun run = RunPlain(c.arguments);
    ASSERT_TRUE(run.finished) << run.problem;
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, UsageStart(true) + c.options + "\n") << Narrow(c.arguments);
  }
}

// ---- what reaches the object ----------------------------------------------

TEST(ConsoleEndToEndCalls, ArgumentsReachTheObject) {
  CTempFile scenario(L"r6scenario", kScenario);
  CTempFile log(L"r6log", "");
  SClientRun run = RunClient(kClient,
                             L"-StartScan Removable -GetLastScan removable -Viruslist ne -Delete 5",
                             {{L"TARVIX_R6_SCENARIO", scenario.Path()}, {L"TARVIX_R6_LOG", log.Path()}},
                             {});
  ASSERT_TRUE(run.finished) << run.problem;
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(log.Read(),
            "LaunchAScan <REMOVEABLE>\n"
            "RetrieveLastScan <removable>\n"
            "RefreshThreatHistory\n"
            "RewindThreatHistory\n"
            "GetThreatHistoryEntry\n"
            "GetThreatHistoryEntry\n"
            "GetThreatHistoryEntry\n"
            "DeleteInfection <5>\n");
  // "ne": only the entry whose status is not 0.
  EXPECT_EQ(run.output.find("Virus (ID 11)"), std::string::npos);
  EXPECT_NE(run.output.find(kEntryB), std::string::npos);
}

TEST(ConsoleEndToEndCalls, ArgumentsInTheAnsiCodePageAndOfGreatLength) {
  // A character of the ANSI code page: the client sees it as one byte.
  std::wstring name = L"caf\x00E9.txt";
  char ansi[64] = {};
  WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, ansi, sizeof(ansi), nullptr, nullptr);
  std::string longName(30000, 'f');
  CTempFile scenario(L"r6scenario", kScenario);
  CTempFile log(L"r6log", "");
  SClientRun run = RunClient(kClient, L"-ScanFile " + name + L" -SwapVDB " + Widen(longName),
                             {{L"TARVIX_R6_SCENARIO", scenario.Path()}, {L"TARVIX_R6_LOG", log.Path()}},
                             {});
  ASSERT_TRUE(run.finished) << run.problem;
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_NE(run.output.find(std::string("  Filename      : ") + ansi + "\n"), std::string::npos);
  EXPECT_NE(run.output.find("  Filename                : " + longName + "\n"), std::string::npos);
  EXPECT_NE(log.Read().find("LaunchAFileScan <caf\xC3\xA9.txt>\n"), std::string::npos);
}

// ---- callbacks ------------------------------------------------------------

TEST(ConsoleEndToEndCallbacks, EventsPrintWhileTheClientWaitsForReturn) {
  std::wstring trigger = L"TarvixE2EFire" + std::to_wstring(GetCurrentProcessId());
  tarvixlib::CUniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, trigger.c_str()));
  ASSERT_TRUE(event);
  std::string scenarioText =
      "CallbackTrigger " + Narrow(trigger) + "\n" + consoletest::kEventLines +
      "Callback\n"
      "CallbackValue 0 0 fill:6000:z\n"
      "CallbackValue 6 -2147467259 \"bad\"\n";
  CTempFile scenario(L"r6scenario", scenarioText);
  CTempFile log(L"r6log", "");
  const std::string last = "\tERRORS!\n";
  SClientRun run = RunClient(
      kClient, L"-Callback -Detect",
      {{L"TARVIX_R6_SCENARIO", scenario.Path()}, {L"TARVIX_R6_LOG", log.Path()}},
      {{"Press \"Return\" to quit\n", trigger, ""}, {last, L"", "\n"}});
  event.Reset();
  ASSERT_TRUE(run.finished) << run.problem;
  EXPECT_TRUE(run.problem.empty()) << run.problem;
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output,
            std::string("DetectionOfProduct ERROR!\n"
                        "Waiting for incoming callbacks - Press \"Return\" to quit\n") +
                consoletest::kPrintedEvent +
            "\n******************* Found virus *******************\n"
            "\t(HR: 0) InfectionID: (null)\n" +
                ("\t(HR: 0) Filename   : " + std::string(6000, 'z')).substr(0, 4095) +
                "\n"
                "\t(HR: 0) Sig-ID     : (null)\n"
                "\t(HR: 0) Sig-Name   : (null)\n"
                "\t(HR: 0) Process    : (null)\n"
                "\t(HR: 0) Time       : Mon, 1 Jan 1601 00:00:00 GMT\n"
                "\t(HR: 0) StatusCode : (null)\n"
                "\t(HR: -2147467259) StatusText : bad\n"
                "\tERRORS!\n"
                "Stop.\n");
  EXPECT_NE(log.Read().find("OnVirusFound -> 0x00000000\nOnVirusFound -> 0x80004005\n"
                            "UnregisterCallback 0\n"),
            std::string::npos);
}

TEST(ConsoleEndToEndCallbacks, EndOfInputEndsTheWait) {
  SClientRun run = RunPlain(L"-Callback");
  ASSERT_TRUE(run.finished) << run.problem;
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output, "Waiting for incoming callbacks - Press \"Return\" to quit\nStop.\n");
}

// ---- a broken engine ------------------------------------------------------

TEST(ConsoleEndToEndConnection, EngineThatCannotBeCreated) {
  // The stand-in refuses to start with an unreadable scenario: E_FAIL.
  CTempFile scenario(L"r6scenario", "Nonsense line\n");
  SClientRun run = RunClient(kClient, L"-Detect", {{L"TARVIX_R6_SCENARIO", scenario.Path()}}, {});
  ASSERT_TRUE(run.finished) << run.problem;
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_EQ(run.output,
            "CoCreateInstance failed (0x80004005). Check if the service is running.\n\n"
            "ERROR connecting to the COM object.\n");
}

}  // namespace
