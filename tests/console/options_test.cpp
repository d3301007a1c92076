// Command-line parsing: matching, argument taking, missing arguments,
// repetitions and the usage decision.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "console/options.h"

using namespace tarvixconsole;

namespace {

CConsoleCommandLine Parse(const std::vector<const char*>& items) {
  std::vector<const char*> argv = {"vexal-client"};
  argv.insert(argv.end(), items.begin(), items.end());
  CConsoleCommandLine commandLine;
  commandLine.Parse(static_cast<int>(argv.size()), argv.data());
  return commandLine;
}

uint64_t Mask(std::initializer_list<EConsoleOption> options) {
  uint64_t mask = 0;
  for (EConsoleOption option : options) mask |= OptionBit(option);
  return mask;
}

TEST(ConsoleOptionTable, HasThirtySevenEntriesInOrderWithArgumentsWhereTheUsageShowsThem) {
  EXPECT_STREQ(kConsoleOptions[0].option, "-?");
  EXPECT_STREQ(kConsoleOptions[kOptGetLastScan].option, "-GetLastScan");
  EXPECT_STREQ(kConsoleOptions[kOptShutdownIfIdle].option, "-ShutdownIfIdle");
  for (int i = 0; i < kOptionCount; ++i) {
    const SConsoleOption& option = kConsoleOptions[i];
    EXPECT_EQ(option.option[0], '-') << i;
    EXPECT_EQ(option.takesArgument, option.argumentText[0] != '\0') << option.option;
  }
}

struct SMatchCase {
  const char* item;
  const char* option;
  bool matches;
};

TEST(ConsoleOptionMatching, SlashOrDashAndAnyCaseWholeItemsOnly) {
  const SMatchCase cases[] = {
      {"-ScanFile", "-ScanFile", true},   {"/scanfile", "-ScanFile", true},
      {"-SCANFILE", "-ScanFile", true},   {"/detect", "-Detect", true},
      {"-Scan", "-ScanFile", false},      {"-ScanFileX", "-ScanFile", false},
      {"ScanFile", "-ScanFile", false},   {"--ScanFile", "-ScanFile", false},
      {"\\ScanFile", "-ScanFile", false}, {"-", "-?", false},
      {"/?", "-?", true},                 {"-H", "-h", true},
      {"", "-h", false},                  {nullptr, "-h", false},
      {"-d\xE9tect", "-Detect", false},  // a byte of another code page
  };
  for (const SMatchCase& c : cases)
    EXPECT_EQ(MatchesOption(c.item, c.option), c.matches)
        << (c.item ? c.item : "(null)") << " vs " << c.option;
}

struct SParseCase {
  std::vector<const char*> items;
  uint64_t mask;
  std::vector<std::pair<EConsoleOption, const char*>> arguments;  // expected per entry
  const char* current;                                           // expected current argument
  bool usage;
  bool fullUsage;
};

TEST(ConsoleParse, Table) {
  const uint64_t help = kHelpBits;
  const SParseCase cases[] = {
      // Nothing: the full usage.
      {{}, 0, {}, nullptr, true, true},
      {{"stray", "items"}, 0, {}, nullptr, true, true},
      // One help option alone: full usage.
      {{"-h"}, Mask({kOptH}), {}, nullptr, true, true},
      {{"/HELP"}, Mask({kOptHelp}), {}, nullptr, true, true},
      {{"-?"}, Mask({kOptQuestion}), {}, nullptr, true, true},
      // Two help options: usage of the selected non-help entries (none).
      {{"-h", "-?"}, Mask({kOptQuestion, kOptH}), {}, nullptr, true, false},
      {{"-Detect", "-help"}, Mask({kOptDetect, kOptHelp}), {}, nullptr, true, false},
      {{"/detect"}, Mask({kOptDetect}), {}, nullptr, false, false},
      {{"-DETECT"}, Mask({kOptDetect}), {}, nullptr, false, false},
      // A missing argument: all help bits plus the entry.
      {{"-ScanFile"}, help | Mask({kOptScanFile}), {{kOptScanFile, nullptr}}, nullptr, true, false},
      {{"-Viruslist"}, help | Mask({kOptViruslist}), {}, nullptr, true, false},
      // The item after an argument option is its argument, whatever it is,
      // unless an entry earlier in table order consumed it first.
      {{"-ScanFile", "-ShutdownIfIdle"}, Mask({kOptScanFile}), {{kOptScanFile, "-ShutdownIfIdle"}},
       "-ShutdownIfIdle", false, false},
      {{"-ScanFile", "-Detect"}, help | Mask({kOptDetect, kOptScanFile}), {{kOptScanFile, nullptr}},
       nullptr, true, false},
      {{"-Delete", "/h"}, help | Mask({kOptDelete}), {{kOptDelete, nullptr}}, nullptr, true, false},
      // Repetitions: one delete with the first argument; the 7 is ignored.
      {{"-Delete", "5", "-Delete", "7"}, Mask({kOptDelete}), {{kOptDelete, "5"}}, "5", false,
       false},
      {{"-Detect", "-detect", "/DETECT"}, Mask({kOptDetect}), {}, nullptr, false, false},
      // A trailing repetition after a taken argument is consumed, not missing.
      {{"-Delete", "5", "-Delete"}, Mask({kOptDelete}), {{kOptDelete, "5"}}, "5", false, false},
      // Each entry keeps its own argument; the current one is the last in
      // table order.
      {{"-StartScan", "FULL", "-Viruslist", "EX"}, Mask({kOptViruslist, kOptStartScan}),
       {{kOptViruslist, "EX"}, {kOptStartScan, "FULL"}}, "FULL", false, false},
      // An earlier entry takes a later option as its argument.
      {{"-Restore", "-Delete"}, help | Mask({kOptDelete, kOptRestore}), {}, nullptr, true, false},
      {{"-Delete", "-Restore"}, Mask({kOptDelete}), {{kOptDelete, "-Restore"}}, "-Restore", false,
       false},
      // A missing argument after a taken one leaves no current argument.
      {{"-Viruslist", "ALL", "-ScanFile"}, help | Mask({kOptViruslist, kOptScanFile}),
       {{kOptViruslist, "ALL"}}, nullptr, true, false},
      // Empty argument text is an argument.
      {{"-ScanFile", ""}, Mask({kOptScanFile}), {{kOptScanFile, ""}}, "", false, false},
      // Prefixes do not match.
      {{"-Det", "-Callbackx"}, 0, {}, nullptr, true, true},
  };
  int index = 0;
  for (const SParseCase& c : cases) {
    SCOPED_TRACE("case " + std::to_string(index++));
    CConsoleCommandLine commandLine = Parse(c.items);
    EXPECT_EQ(commandLine.GetMask(), c.mask);
    EXPECT_EQ(commandLine.WantsUsage(), c.usage);
    EXPECT_EQ(commandLine.WantsFullUsage(), c.fullUsage);
    for (const auto& expected : c.arguments) {
      const char* argument = commandLine.GetArgument(expected.first);
      if (!expected.second) {
        EXPECT_EQ(argument, nullptr);
      } else {
        EXPECT_STREQ(argument ? argument : "(null)", expected.second);
      }
    }
    if (!c.current) EXPECT_EQ(commandLine.GetCurrentArgument(), nullptr);
    else EXPECT_STREQ(commandLine.GetCurrentArgument(), c.current);
  }
}

TEST(ConsoleParse, EveryOptionIsSelectedByItsOwnText) {
  for (int i = 0; i < kOptionCount; ++i) {
    const SConsoleOption& option = kConsoleOptions[i];
    std::vector<const char*> items = {option.option};
    if (option.takesArgument) items.push_back("value");
    CConsoleCommandLine commandLine = Parse(items);
    EXPECT_EQ(commandLine.GetMask(), OptionBit(EConsoleOption(i))) << option.option;
    if (option.takesArgument) {
      EXPECT_STREQ(commandLine.GetArgument(EConsoleOption(i)), "value");
    }
  }
}

TEST(ConsoleParse, ArgumentsOfAnyLengthAndCodePageAreCopied) {
  std::string longArgument(100000, 'x');
  longArgument[0] = '\xE4';  // a byte of the ANSI code page
  std::vector<char> buffer(longArgument.begin(), longArgument.end());
  buffer.push_back('\0');
  const char* argv[] = {"prog", "-ScanFile", buffer.data(), "\xC3\xA9\xFF"};
  CConsoleCommandLine commandLine;
  commandLine.Parse(4, argv);
  buffer.assign(buffer.size(), 'y');  // the parse result keeps its own copy
  ASSERT_NE(commandLine.GetArgument(kOptScanFile), nullptr);
  EXPECT_EQ(std::string(commandLine.GetArgument(kOptScanFile)), longArgument);
  EXPECT_STREQ(commandLine.GetProgramName(), "prog");
}

TEST(ConsoleParse, NoArgumentVectorAtAll) {
  CConsoleCommandLine commandLine;
  commandLine.Parse(0, nullptr);
  EXPECT_TRUE(commandLine.WantsFullUsage());
  EXPECT_STREQ(commandLine.GetProgramName(), "");
}

}  // namespace
