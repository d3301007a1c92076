// The usage text: header lines, the USAGE line, full and selected option
// lists, the alignment, and the version resource read back from files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "console/usage.h"
#include "console_test_util.h"
#include "golden_texts.h"

using namespace tarvixconsole;
using consoletest::CCaptureWriter;

using consoletest::kAllOptionLines;

namespace {


std::string Usage(const std::vector<const char*>& items, const SVersionHeader* header) {
  std::vector<const char*> argv = {"vexal-client"};
  argv.insert(argv.end(), items.begin(), items.end());
  CConsoleCommandLine commandLine;
  commandLine.Parse(static_cast<int>(argv.size()), argv.data());
  CCaptureWriter capture;
  PrintUsage(commandLine, header);
  return capture.Text();
}

SVersionHeader TestHeader() {
  SVersionHeader header;
  strcpy(header.fileDescription, "Console 100% client");
  strcpy(header.fileVersion, "2.5.%d");
  strcpy(header.legalCopyright, "(C) %s Zelvok");
  strcpy(header.companyName, "NotShown Inc");
  return header;
}

const char kUsageLine[] = "USAGE:\r\n    vexal-client [options] [filename]\r\n\n";

TEST(ConsoleUsage, FullUsageWithHeader) {
  SVersionHeader header = TestHeader();
  std::string expected = std::string("\nConsole 100% client, Version 2.5.%d\n(C) %s Zelvok\n\n") +
                         kUsageLine + kAllOptionLines + "\n";
  for (const char* help : {"-h", "-?", "-help", "/HELP"})
    EXPECT_EQ(Usage({help}, &header), expected) << help;
  EXPECT_EQ(Usage({}, &header), expected);
  EXPECT_EQ(Usage({"unknown", "/x"}, &header), expected);
  EXPECT_EQ(Usage({}, &header).find("NotShown"), std::string::npos);
}

TEST(ConsoleUsage, WithoutVersionResourceNoHeaderLines) {
  EXPECT_EQ(Usage({}, nullptr), std::string(kUsageLine) + kAllOptionLines + "\n");
}

TEST(ConsoleUsage, EveryColonStandsInColumn57) {
  std::string text = Usage({}, nullptr);
  size_t lines = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end - start);
    if (line.compare(0, 3, "  -") == 0) {
      ++lines;
      EXPECT_EQ(line.find(": "), 56u) << line;
    }
    start = end + 1;
  }
  EXPECT_EQ(lines, 37u);
}

TEST(ConsoleUsage, SelectedOptionsOnlyWithoutHelpOptions) {
  const std::string start = kUsageLine;
  EXPECT_EQ(Usage({"-h", "-?"}, nullptr), start + "\n");
  EXPECT_EQ(Usage({"-Detect", "-help"}, nullptr),
            start + "  -Detect    : Test if ZELVOK ombrix is running.\n\n");
  EXPECT_EQ(Usage({"-help", "-StartScan", "FULL"}, nullptr),
            start + "  -StartScan [FULL|STANDARD|QUICK|REMOVABLE|(Name)]   : Launch a scan.\n\n");
  EXPECT_EQ(Usage({"-ScanFile"}, nullptr),
            start + "  -ScanFile <Filename>   : Launch a single file scan.\n\n");
  EXPECT_EQ(Usage({"-Verify", "-SwapSDB"}, nullptr),
            start +
                "  -Verify                   : Verify the authenticity of the installed executables "
                "by checking their digital signatures.\n\n"
                "  -SwapSDB <AntiSPAM.sdb>   : Swap the AntiSPAM database file with the given "
                "one.\n\n\n");
}

TEST(ConsoleUsage, ProgramNameIsPrintedAsGiven) {
  const char* argv[] = {"C:\\tools\\100%d\\vexal.exe"};
  CConsoleCommandLine commandLine;
  commandLine.Parse(1, argv);
  CCaptureWriter capture;
  PrintUsage(commandLine, nullptr);
  EXPECT_EQ(capture.Text().substr(0, 50),
            std::string("USAGE:\r\n    C:\\tools\\100%d\\vexal.exe [options] [filename]\r\n\n")
                .substr(0, 50));
}

TEST(ConsoleVersionResource, ReadFromTheClientExecutable) {
  SVersionHeader header;
  ASSERT_TRUE(ReadVersionHeader(VEXAL_CLIENT_PATH, header));
  EXPECT_STREQ(header.fileDescription, "ZELVOK ombrix console client");
  EXPECT_STREQ(header.fileVersion, "1.0.0.0");
  EXPECT_STREQ(header.companyName, "Zelvok");
  EXPECT_STREQ(header.legalCopyright, "Copyright (C) 2026 Zelvok. All rights reserved.");
}

TEST(ConsoleVersionResource, AbsentForAModuleWithoutOne) {
  SVersionHeader header;
  // This test program carries no version resource.
  EXPECT_FALSE(ReadOwnVersionHeader(header));
  EXPECT_STREQ(header.fileDescription, "");
  EXPECT_FALSE(ReadVersionHeader(L"Z:\\no\\such\\file.exe", header));
  EXPECT_FALSE(ReadVersionHeader(nullptr, header));
}

}  // namespace
