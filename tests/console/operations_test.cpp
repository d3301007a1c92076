// Every operation against the in-process stand-in engine: its output for
// success and failure answers, what it passes to the object, the order of
// operations, shutdown when idle (recorded, never real) and the callback
// sink.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "console/tarvixevent.h"
#include "console_test_util.h"
#include "golden_texts.h"

using consoletest::RunOperations;
using consoletest::SRun;

namespace {

struct SOperationCase {
  const char* name;
  std::vector<std::string> args;
  const char* scenario;
  const char* expected;
};

void PrintTo(const SOperationCase& c, std::ostream* os) { *os << c.name; }

class ConsoleOperationOutput : public ::testing::TestWithParam<SOperationCase> {};

TEST_P(ConsoleOperationOutput, PrintsExactly) {
  const SOperationCase& c = GetParam();
  SRun run = RunOperations(c.args, c.scenario);
  EXPECT_EQ(run.output, c.expected);
}

const SOperationCase kOperationCases[] = {
    // Flags: result codes the operation takes as success, and errors.
    {"DetectYes", {"-Detect"}, "DetectionOfProduct 0 true", "  Product is installed: YES\n"},
    {"DetectOneIsError", {"-Detect"}, "DetectionOfProduct 1 true", "DetectionOfProduct ERROR!\n"},
    {"DetectNoAnswer", {"-Detect"}, "", "DetectionOfProduct ERROR!\n"},
    {"ProtectionOneIsSuccess", {"-IsProtectionEnabled"}, "IsProtectionEnabled 1 false",
     "  Protection is enabled: NO\n"},
    {"ProtectionError", {"-IsProtectionEnabled"}, "IsProtectionEnabled 2 true",
     "IsProtectionEnabled ERROR!\n"},
    {"VerifySigned", {"-Verify"}, "VerifyAuthenticity 0 true",
     "All executables are digitally signed\n"},
    {"VerifyNotSigned", {"-Verify"}, "VerifyAuthenticity 1 false",
     "One ore more files are not properly signed\n"},
    {"VerifyError", {"-Verify"}, "VerifyAuthenticity 0x80004005 true", "VerifyAuthenticity ERROR!\n"},
    {"UpdateInProgress", {"-IsUpdateInProgress"}, "IsUpdateInProgress 1 true",
     "  Update in progress: YES\n"},
    {"UpdateInProgressError", {"-IsUpdateInProgress"}, "IsUpdateInProgress -1 true",
     "IsUpdateInProgress ERROR!\n"},
    {"Scanning", {"-IsScanning"}, "IsProductScanning 0 false", "  Product is scanning: NO\n"},
    {"ScanningError", {"-IsScanning"}, "IsProductScanning 0x8000FFFF false",
     "IsProductScanning ERROR!\n"},
    {"DisableProtection", {"-DisableProtection"}, "DisableProtection 0 true",
     "  Protection has been disabled: YES\n"},
    {"DisableProtectionOneIsError", {"-DisableProtection"}, "DisableProtection 1 true",
     "DisableProtection ERROR!\n"},
    {"EnableProtection", {"-EnableProtection"}, "EnableProtection 0 false",
     "  Protection has been enabled: NO\n"},
    {"EnableProtectionError", {"-EnableProtection"}, "", "EnableProtection ERROR!\n"},
    {"StartUpdate", {"-StartUpdate"}, "ActivateAnUpdate 0 true", "  Starting update succeeded: YES\n"},
    {"StartUpdateError", {"-StartUpdate"}, "ActivateAnUpdate 1 true", "ActivateAnUpdate ERROR!\n"},
    // Strings: value lines; null and empty print as empty; "%" unchanged.
    {"SignatureCount", {"-VDBSignatureCount"}, "DataFileSignatureCount 0 \"4187215\"",
     "  Data file signature count: 4187215\n"},
    {"SignatureCountNull", {"-VDBSignatureCount"}, "DataFileSignatureCount 0 null",
     "  Data file signature count:    \n"},
    {"SignatureCountError", {"-VDBSignatureCount"}, "DataFileSignatureCount 1 \"9\"",
     "DataFileSignatureCount ERROR!\n"},
    {"VdbVersion", {"-VDBVersion"}, "DataFileVersion 0 \"8.1 100% %s %d\"",
     "  Data file version: 8.1 100% %s %d\n"},
    {"VdbVersionError", {"-VDBVersion"}, "", "DataFileVersion ERROR!\n"},
    {"VdbTimeEmpty", {"-VDBTime"}, "DataFileTime 0 \"\"", "  Data file time:    \n"},
    {"VdbTimeError", {"-VDBTime"}, "DataFileTime 0x80004005 \"x\"", "DataFileTime ERROR!\n"},
    {"EngineVersion", {"-EngineVersion"}, "EngineVersion 0 \"6.2\\u00e9\"",
     "  Engine version: 6.2\xE9\n"},  // U+00E9 in the ANSI code page (1252)
    {"EngineVersionError", {"-EngineVersion"}, "", "EngineVersion ERROR!\n"},
    // Single file scan.
    {"ScanFileClean", {"-ScanFile", "a.txt"}, "LaunchAFileScan 0 false null null",
     "Scanning single File:\n"
     "  Filename   : a.txt\n"
     "No infection found.\n"
     "\n"},
    {"ScanFileInfected", {"-ScanFile", "eicar.com"}, "LaunchAFileScan 1 true \"E-1\" \"EICAR\"",
     "Scanning single File:\n"
     "  Filename      : eicar.com\n"
     "  Virus found   : YES\n"
     "  Sig-ID        : E-1\n"
     "  Sig-Name      : EICAR\n"
     "\n"},
    {"ScanFileScannedNotInfected", {"-ScanFile", "b"}, "LaunchAFileScan 1 false \"E-1\" \"EICAR\"",
     "Scanning single File:\n"
     "  Filename      : b\n"
     "  Virus found   : NO\n"
     "\n"},
    {"ScanFileInfectedNullNames", {"-ScanFile", "c"}, "LaunchAFileScan 1 true null \"\"",
     "Scanning single File:\n"
     "  Filename      : c\n"
     "  Virus found   : YES\n"
     "  Sig-ID        :    \n"
     "  Sig-Name      :    \n"
     "\n"},
    {"ScanFileError", {"-ScanFile", "d%s"}, "LaunchAFileScan 2 true \"x\" \"y\"",
     "Scanning single File:\n"
     "  Filename   : d%s\n"
     "LaunchAFileScan ERROR!\n"
     "\n"},
    {"ScanFileNoAnswer", {"-ScanFile", ""}, "",
     "Scanning single File:\n"
     "  Filename   :    \n"
     "LaunchAFileScan ERROR!\n"
     "\n"},
    // Main window: any non-negative result is success.
    {"ActivateGui", {"-ActivateGUI"}, "ActivateMainGUI 0", "  Activating main GUI succeeded: YES\n"},
    {"ActivateGuiPositive", {"-ActivateGUI"}, "ActivateMainGUI 5",
     "  Activating main GUI succeeded: YES\n"},
    {"ActivateGuiNegative", {"-ActivateGUI"}, "ActivateMainGUI 0x80004005",
     "  Activating main GUI succeeded: NO\n"},
    // Update servers, numbered from 1.
    {"UpdateServers", {"-ShowUpdateServers"},
     "GetUpdateServer 0 \"http://a/\"\nGetUpdateServer 0 null\nGetUpdateServer 0 \"http://c/\"",
     "Get update server URL:\n"
     "  Update Server #1   : http://a/\n"
     "  Update Server #2   :    \n"
     "  Update Server #3   : http://c/\n"
     "\n"},
    {"UpdateServersNone", {"-ShowUpdateServers"}, "", "Get update server URL:\n\n"},
    {"UpdateServersFailAtOnce", {"-ShowUpdateServers"}, "GetUpdateServer 0x80004005 null",
     "Get update server URL:\n\n"},
    // GUI language: exact table values, else the signed number.
    {"LanguageGerman", {"-GUILanguage"}, "GetGUILanguage 0 7", "  GUI language: LANG_GERMAN\n"},
    {"LanguageTraditionalChinese", {"-GUILanguage"}, "GetGUILanguage 0 0x7C04",
     "  GUI language: LANG_CHINESE_TRADITIONAL\n"},
    {"LanguageFullIdentifier", {"-GUILanguage"}, "GetGUILanguage 0 0x0409",
     "  GUI language: Unable to resolve language: 1033\n"},
    {"LanguageLeftPreset", {"-GUILanguage"}, "GetGUILanguage 0x80004005 keep",
     "  GUI language: Unable to resolve language: -1\n"},
    {"LanguageResultIgnored", {"-GUILanguage"}, "GetGUILanguage 0x80004005 9",
     "  GUI language: LANG_ENGLISH\n"},
    {"LanguageNoAnswer", {"-GUILanguage"}, "", "  GUI language: Unable to resolve language: -1\n"},
    // Scans.
    {"StartScan", {"-StartScan", "FULL"}, "LaunchAScan 0", "  Launching the scan succeeded: YES\n"},
    {"StartScanFails", {"-StartScan", "FULL"}, "LaunchAScan 1", "  Launching the scan succeeded: NO\n"},
    {"StopScan", {"-StopScan", "QUICK"}, "StopAScan 0", "  Stopping the scan succeeded: YES\n"},
    {"StopScanFails", {"-StopScan", "QUICK"}, "", "  Stopping the scan succeeded: NO\n"},
    {"LastScan", {"-GetLastScan", "FULL"}, "RetrieveLastScan 0 \"Tue, 8 Dec 2026\"",
     "Retrieve last scan:\n  Last scan: Tue, 8 Dec 2026\n"},
    {"LastScanNever", {"-GetLastScan", "FULL"}, "RetrieveLastScan 0 \"\"",
     "Retrieve last scan:\n  Last scan: Never completed!\n"},
    {"LastScanNull", {"-GetLastScan", "FULL"}, "RetrieveLastScan 0 null",
     "Retrieve last scan:\n  Last scan: Never completed!\n"},
    {"LastScanError", {"-GetLastScan", "FULL"}, "RetrieveLastScan 1 \"x\"",
     "Retrieve last scan:\nRetrieveLastScan ERROR!\n"},
    // Threat history actions: NO instead of an error line.
    {"Delete", {"-Delete", "5"}, "DeleteInfection 0",
     "Deleting Virus:\n"
     "  ID                     : 5\n"
     "  Deleted successfully   : YES\n"
     "\n"},
    {"DeleteFails", {"-Delete", "5"}, "DeleteInfection 1",
     "Deleting Virus:\n"
     "  ID                     : 5\n"
     "  Deleted successfully   : NO\n"
     "\n"},
    {"DeleteAndSave", {"-DeleteAndSave", "6"}, "DeleteInfectionKeepBackup 0",
     "Creating backup and deleting virus:\n"
     "  ID                                    : 6\n"
     "  Deleted (but backuped) successfully   : YES\n"
     "\n"},
    {"Ignore", {"-Ignore", "7"}, "IgnoreInfection 0x80004005",
     "Temporarily ignoring virus:\n"
     "  ID                     : 7\n"
     "  Ignored successfully   : NO\n"
     "\n"},
    {"Restore", {"-Restore", "8"}, "RestoreInfection 0",
     "Restoring file:\n"
     "  ID                      : 8\n"
     "  Restored successfully   : YES\n"
     "\n"},
    {"ClearViruslist", {"-ClearViruslist"}, "ClearThreatHistory 0",
     "Cleaning list and removing backups:\n"
     "  Viruslist cleaned successfully   : YES\n"
     "\n"},
    {"ClearViruslistFails", {"-ClearViruslist"}, "ClearThreatHistory 1",
     "Cleaning list and removing backups:\n"
     "  Viruslist cleaned successfully   : NO\n"
     "\n"},
    // Database swaps.
    {"SwapVdb", {"-SwapVDB", "new.vdb"}, "SwapVirusDatabase 0",
     "Replacing Virus Database:\n"
     "  Filename                : new.vdb\n"
     "  Replaced successfully   : YES\n"
     "\n"},
    {"SwapVdbFails", {"-SwapVDB", "new.vdb"}, "SwapVirusDatabase 1",
     "Replacing Virus Database:\n"
     "  Filename                : new.vdb\n"
     "  Replaced successfully   : NO\n"
     "\n"},
    {"SwapSdbReloaded", {"-SwapSDB", "a.sdb"}, "SwapAntispamDatabase 0",
     "Replacing Antispam Database:\n"
     "  Filename                                       : a.sdb\n"
     "  The virus database was successfully replaced   : YES\n"
     "\n"
     "The AntiSPAM database was successfully replaced.\n"
     "\n"},
    {"SwapSdbNotReloaded", {"-SwapSDB", "a.sdb"}, "SwapAntispamDatabase 1",
     "Replacing Antispam Database:\n"
     "  Filename                                       : a.sdb\n"
     "  The virus database was successfully replaced   : YES\n"
     "\n"
     "The AntiSPAM database was successfully replaced but was not reloaded (AntiSPAM not "
     "loaded).\n"
     "\n"},
    {"SwapSdbTwoIsFailure", {"-SwapSDB", "a.sdb"}, "SwapAntispamDatabase 2",
     "Replacing Antispam Database:\n"
     "  Filename                                       : a.sdb\n"
     "  The virus database was successfully replaced   : NO\n"
     "\n"
     "\n"},
    // Antispam report: one call, the selected parts in a fixed order.
    {"AntispamAll", {"-ASInfo"}, "GetAntispamInfo 0 \"1.0\" \"t\" \"v\" \"42\"",
     "  Antispam Engine Version: 1.0\n"
     "  Antispam Database Time: t\n"
     "  Antispam Database Version: v\n"
     "  Antispam Database Entries: 42\n"},
    {"AntispamTwoParts", {"-SDBSignatureCount", "-ASVersion"},
     "GetAntispamInfo 0 \"1.0\" \"t\" null \"42\"",
     "  Antispam Engine Version: 1.0\n"
     "  Antispam Database Entries: 42\n"},
    {"AntispamEachPart", {"-SDBTime", "-SDBVersion"}, "GetAntispamInfo 0 \"1.0\" \"t\" null \"42\"",
     "  Antispam Database Time: t\n"
     "  Antispam Database Version:    \n"},
    {"AntispamError", {"-ASInfo", "-ASVersion", "-SDBTime"}, "GetAntispamInfo 1 \"1\" \"2\" \"3\" \"4\"",
     "GetAntispamInfo ERROR!\n"},
};

INSTANTIATE_TEST_SUITE_P(Table, ConsoleOperationOutput, ::testing::ValuesIn(kOperationCases),
                         [](const ::testing::TestParamInfo<SOperationCase>& info) {
                           return std::string(info.param.name);
                         });

const std::string kHistory =
    std::string(consoletest::kHistoryLineA) +
    "GetThreatHistoryEntry 0 \"-5\" 3 \"Sig B\" \"C:\\\\b.exe\" \"ID-B\" null 12\n"
    "GetThreatHistoryEntry 0 \"116444736000000000\" 9 null \"\" \"ID-C\" \"proc-c\" -3\n";

const char* const kEntryA = consoletest::kPrintedEntryA;
const char kEntryB[] =
    "Virus (ID 12):\n"
    "  File . . . . : C:\\b.exe\n"
    "  Sig-ID . . . : ID-B\n"
    "  Sig-Name . . : Sig B\n"
    "  Process. . . :  . \n"
    "  Time found . : TIME ERROR\n"
    "  Status . . . : Deleted.\n"
    "\n";
const char kEntryC[] =
    "Virus (ID -3):\n"
    "  File . . . . :  . \n"
    "  Sig-ID . . . : ID-C\n"
    "  Sig-Name . . :  . \n"
    "  Process. . . : proc-c\n"
    "  Time found . : Thu, 1 Jan 1970 00:00:00 GMT\n"
    "  Status . . . : Unknown state!\n"
    "\n";

TEST(ConsoleViruslist, FiltersAndEndings) {
  const std::string head = "Enumerate threat history:\n";
  const std::string end = "No more threat history entries found.\n";
  const struct {
    const char* filter;
    std::string expected;
  } cases[] = {
      {"ALL", head + kEntryA + kEntryB + kEntryC + end},
      {"whatever", head + kEntryA + kEntryB + kEntryC + end},
      {"ex", head + kEntryA + end},
      {"EXISTING", head + kEntryA + end},
      {"ne", head + kEntryB + kEntryC + end},
  };
  for (const auto& c : cases) {
    SRun run = RunOperations({"-Viruslist", c.filter}, kHistory);
    EXPECT_EQ(run.output, c.expected) << c.filter;
    // Refreshed and rewound before the entries are read.
    ASSERT_GE(run.calls.size(), 3u);
    EXPECT_EQ(run.calls[0], "RefreshThreatHistory");
    EXPECT_EQ(run.calls[1], "RewindThreatHistory");
  }
  SRun error = RunOperations(
      {"-Viruslist", "ALL"},
      std::string(consoletest::kHistoryLineA) +
          "GetThreatHistoryEntry 0x80004005 null 0 null null null null 0\n");
  EXPECT_EQ(error.output, head + kEntryA + "GetThreatHistoryEntry ERROR!\n");
  SRun other = RunOperations({"-Viruslist", "ALL"},
                             "GetThreatHistoryEntry 7 null 0 null null null null 0\n");
  EXPECT_EQ(other.output, head);
  SRun empty = RunOperations({"-Viruslist", "ALL"}, "");
  EXPECT_EQ(empty.output, head + end);
}

TEST(ConsoleOperations, RunInTheFixedOrderWhateverTheCommandLineOrder) {
  const char* scenario =
      "DetectionOfProduct 0 true\n"
      "IsProtectionEnabled 0 true\n"
      "VerifyAuthenticity 0 true\n"
      "IsUpdateInProgress 0 false\n"
      "IsProductScanning 0 false\n"
      "EngineVersion 0 \"E\"\n"
      "GetGUILanguage 0 9\n"
      "GetAntispamInfo 0 \"1\" \"2\" \"3\" \"4\"\n";
  SRun run = RunOperations({"-ASVersion", "-Callback", "-GUILanguage", "-EngineVersion",
                            "-IsScanning", "-IsUpdateInProgress", "-Verify", "-IsProtectionEnabled",
                            "-Detect"},
                           scenario);
  EXPECT_EQ(run.output,
            "  Product is installed: YES\n"
            "  Protection is enabled: YES\n"
            "All executables are digitally signed\n"
            "  Update in progress: NO\n"
            "  Product is scanning: NO\n"
            "  Engine version: E\n"
            "  GUI language: LANG_ENGLISH\n"
            "  Antispam Engine Version: 1\n"
            "Waiting for incoming callbacks - Press \"Return\" to quit\n"
            "Stop.\n");
  const std::vector<std::string> expectedCalls = {
      "DetectionOfProduct", "IsProtectionEnabled", "VerifyAuthenticity", "IsUpdateInProgress",
      "IsProductScanning",  "EngineVersion",       "GetGUILanguage",     "GetAntispamInfo",
      "RegisterCallback 0", "UnregisterCallback 0"};
  EXPECT_EQ(run.calls, expectedCalls);
}

TEST(ConsoleOperations, ScanNamesAndArgumentsReachTheObject) {
  SRun run = RunOperations({"-StartScan", "removable", "-StopScan", "Removable2", "-GetLastScan",
                            "removable"},
                           "LaunchAScan 0\nStopAScan 0\nRetrieveLastScan 0 \"x\"");
  EXPECT_NE(std::find(run.calls.begin(), run.calls.end(), "LaunchAScan <REMOVEABLE>"),
            run.calls.end());
  EXPECT_NE(std::find(run.calls.begin(), run.calls.end(), "StopAScan <REMOVEABLE>"),
            run.calls.end());
  EXPECT_NE(std::find(run.calls.begin(), run.calls.end(), "RetrieveLastScan <removable>"),
            run.calls.end());
  SRun user = RunOperations({"-StartScan", "My Weekly Scan"}, "LaunchAScan 0");
  EXPECT_EQ(user.calls, std::vector<std::string>{"LaunchAScan <My Weekly Scan>"});
}

TEST(ConsoleOperations, EachOperationUsesTheArgumentOfItsOwnOption) {
  // Two argument options together: the listing filters with EX and the
  // scan starts FULL; a delete and a restore act on their own ids.
  SRun run = RunOperations({"-Viruslist", "EX", "-StartScan", "FULL", "-Delete", "5", "-Restore",
                            "7"},
                           kHistory + "LaunchAScan 0\nDeleteInfection 0\nRestoreInfection 0");
  const std::vector<std::string> expectedCalls = {
      "LaunchAScan <FULL>", "RefreshThreatHistory", "RewindThreatHistory", "GetThreatHistoryEntry",
      "GetThreatHistoryEntry", "GetThreatHistoryEntry", "GetThreatHistoryEntry",
      "DeleteInfection <5>", "RestoreInfection <7>"};
  EXPECT_EQ(run.calls, expectedCalls);
  EXPECT_NE(run.output.find(kEntryA), std::string::npos);
  EXPECT_EQ(run.output.find("Virus (ID 12)"), std::string::npos);
  EXPECT_NE(run.output.find("  ID                     : 5\n"), std::string::npos);
  EXPECT_NE(run.output.find("  ID                      : 7\n"), std::string::npos);
}

TEST(ConsoleOperations, ArgumentsInTheAnsiCodePageBecomeUtf16) {
  SRun run = RunOperations({"-ScanFile", "caf\xE9.txt"}, "LaunchAFileScan 0 false null null");
  ASSERT_FALSE(run.calls.empty());
  EXPECT_EQ(run.calls[0], "LaunchAFileScan <caf\xC3\xA9.txt>");  // logged as UTF-8
  EXPECT_NE(run.output.find("  Filename   : caf\xE9.txt\n"), std::string::npos);
}

TEST(ConsoleOperations, VeryLongStringsAreShownWhole) {
  std::string scenario = "EngineVersion 0 fill:100000:v\nLaunchAFileScan 1 true fill:5000:i fill:9000:n";
  SRun run = RunOperations({"-EngineVersion", "-ScanFile", std::string(70000, 'f')}, scenario);
  std::string expected = "  Engine version: " + std::string(100000, 'v') + "\n" +
                         "Scanning single File:\n" + "  Filename      : " + std::string(70000, 'f') +
                         "\n  Virus found   : YES\n" + "  Sig-ID        : " + std::string(5000, 'i') +
                         "\n  Sig-Name      : " + std::string(9000, 'n') + "\n\n";
  EXPECT_EQ(run.output, expected);
  EXPECT_EQ(run.calls[1], "LaunchAFileScan <" + std::string(256, 'f') + ">...(70000)");
}

TEST(ConsoleShutdownIfIdle, IdleAtOnceAsksForPowerOff) {
  SRun run = RunOperations({"-ShutdownIfIdle", "-EngineVersion"},
                           "IsProductScanning 1 false\nEngineVersion 0 \"E\"");
  EXPECT_EQ(run.output, "Shutting down...\n  Engine version: E\n");  // the run goes on
  EXPECT_EQ(run.power, (std::vector<std::string>{"privilege", "poweroff"}));
}

TEST(ConsoleShutdownIfIdle, WaitsFiveMinutesPerRunningScan) {
  SRun run = RunOperations({"-ShutdownIfIdle"},
                           "IsProductScanning 0 true\nIsProductScanning 1 true\nIsProductScanning 0 false");
  EXPECT_EQ(run.output,
            "Scan in progress. Waiting for 5 minutes...\n"
            "Scan in progress. Waiting for 5 minutes...\n"
            "Shutting down...\n");
  EXPECT_EQ(run.power,
            (std::vector<std::string>{"privilege", "wait 300000", "wait 300000", "poweroff"}));
}

TEST(ConsoleShutdownIfIdle, ErrorEndsTheLoopWithoutPowerOff) {
  SRun run = RunOperations({"-ShutdownIfIdle"},
                           "IsProductScanning 0 true\nIsProductScanning 0x80004005 false");
  EXPECT_EQ(run.output, "Scan in progress. Waiting for 5 minutes...\nVEXAL_IDLESHUTDOWN ERROR!\n");
  EXPECT_EQ(run.power, (std::vector<std::string>{"privilege", "wait 300000"}));
}

TEST(ConsoleShutdownIfIdle, RunsAfterTheScanningCheckAndBeforeTheStringQueries) {
  SRun run = RunOperations({"-VDBSignatureCount", "-ShutdownIfIdle", "-IsScanning"},
                           "IsProductScanning 0 false\nDataFileSignatureCount 0 \"1\"");
  EXPECT_EQ(run.output,
            "  Product is scanning: NO\nShutting down...\n  Data file signature count: 1\n");
}

const std::string kCallbackScenario =
    std::string("CallbackManual\n") + consoletest::kEventLines +
    "Callback\n"
    "CallbackValue 7 -2147024809 null\n"
    "CallbackValue 4 1 \"-7\"\n"
    "CallbackValue 6 1 \"half\"\n";

TEST(ConsoleCallbacks, SinkPrintsEveryValueAndReportsErrors) {
  SRun run = RunOperations({"-Callback"}, kCallbackScenario);
  EXPECT_EQ(run.reads, 1);
  EXPECT_EQ(run.output,
            std::string("Waiting for incoming callbacks - Press \"Return\" to quit\n") +
                consoletest::kPrintedEvent +
            "\n******************* Found virus *******************\n"
            "\t(HR: -2147024809) InfectionID: (null)\n"
            "\t(HR: 0) Filename   : (null)\n"
            "\t(HR: 0) Sig-ID     : (null)\n"
            "\t(HR: 0) Sig-Name   : (null)\n"
            "\t(HR: 0) Process    : (null)\n"
            "\t(HR: 1) Time       : TIME ERROR\n"
            "\t(HR: 0) StatusCode : (null)\n"
            "\t(HR: 1) StatusText : half\n"
            "\tERRORS!\n"
            "Stop.\n");
  const std::vector<std::string> expectedCalls = {"RegisterCallback 0", "OnVirusFound -> 0x00000000",
                                                  "OnVirusFound -> 0x80004005",
                                                  "UnregisterCallback 0"};
  EXPECT_EQ(run.calls, expectedCalls);
}

TEST(ConsoleCallbacks, MessageLinesOfVeryLongValuesAreCutAt4095) {
  SRun run = RunOperations({"-Callback"},
                           "CallbackManual\nCallback\nCallbackValue 0 0 fill:10000:z\n");
  std::string line = "\t(HR: 0) Filename   : " + std::string(10000, 'z');
  EXPECT_NE(run.output.find(line.substr(0, 4095) + "\n"), std::string::npos);
  EXPECT_EQ(run.output.find(line.substr(0, 4096)), std::string::npos);
}

TEST(ConsoleCallbacks, SinkIsACountedComObject) {
  const long before = tarvixlib::LiveComObjects().load();
  {
    tarvixlib::CComPtr<tarvixconsole::CTarvixEvent> sink =
        tarvixlib::CComObjectMake<tarvixconsole::CTarvixEvent>();
    EXPECT_EQ(tarvixlib::LiveComObjects().load(), before + 1);
    tarvixlib::CComPtr<ITarvixEvent> asEvent;
    ASSERT_EQ(sink.As(asEvent), S_OK);
    EXPECT_EQ(asEvent.Get(), static_cast<ITarvixEvent*>(sink.Get()));
    EXPECT_EQ(sink->RefCount(), 2);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(sink->QueryInterface(IID_IDispatch, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(sink->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    consoletest::CCaptureWriter capture;
    EXPECT_EQ(sink->OnVirusFound(nullptr), E_POINTER);
  }
  EXPECT_EQ(tarvixlib::LiveComObjects().load(), before) << "the last Release deletes it";
}

}  // namespace
