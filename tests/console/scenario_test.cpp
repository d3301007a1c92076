// The stand-in engine's scenario parser: values, repetition rules, bounds
// and the errors of bad input; and the line reader both stand-ins share.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standin/scenario.h"
#include "standin/scenariolines.h"

using namespace tarvixstandin;

namespace {

CScenario ParseOk(const std::string& text) {
  CScenario scenario;
  std::string error;
  EXPECT_TRUE(scenario.Parse(text.data(), text.size(), error)) << error;
  return scenario;
}

TEST(StandinScenario, ValuesOfEveryKind) {
  CScenario s = ParseOk(
      "# comment\n"
      "   \n"
      "  # indented comment with \"unbalanced quote\n"
      "DetectionOfProduct 0x80004005 true\r\n"
      "GetGUILanguage -1 keep\n"
      "GetGUILanguage 0 0x7C04\n"
      "EngineVersion 0 \"a \\\"b\\\" \\\\ \\n\\t\\r \\x41\\u20AC caf\xC3\xA9\"\n"
      "DataFileTime 0 null\n"
      "DataFileVersion 0 \"\"\n"
      "DataFileSignatureCount 0 fill:5:z\n"
      "LaunchAFileScan 1 1 \"id\" null\n");
  const SAnswer* detect = s.Answer(kDetectionOfProduct, 0);
  ASSERT_NE(detect, nullptr);
  EXPECT_EQ(detect->result, static_cast<HRESULT>(0x80004005));
  EXPECT_EQ(detect->values[0].number, 1);
  EXPECT_EQ(s.Answer(kGetGUILanguage, 0)->result, static_cast<HRESULT>(0xFFFFFFFF));
  EXPECT_TRUE(s.Answer(kGetGUILanguage, 0)->values[0].keep);
  EXPECT_EQ(s.Answer(kGetGUILanguage, 1)->values[0].number, 0x7C04);
  EXPECT_EQ(s.Answer(kGetGUILanguage, 9)->values[0].number, 0x7C04);  // the last repeats
  EXPECT_EQ(s.Answer(kEngineVersion, 0)->values[0].text,
            std::wstring(L"a \"b\" \\ \n\t\r A\x20AC caf\xE9"));
  EXPECT_TRUE(s.Answer(kDataFileTime, 0)->values[0].isNull);
  EXPECT_FALSE(s.Answer(kDataFileVersion, 0)->values[0].isNull);
  EXPECT_TRUE(s.Answer(kDataFileVersion, 0)->values[0].text.empty());
  EXPECT_EQ(s.Answer(kDataFileSignatureCount, 0)->values[0].text, std::wstring(L"zzzzz"));
  EXPECT_EQ(s.Answer(kLaunchAFileScan, 0)->values[0].number, 1);
  EXPECT_TRUE(s.Answer(kLaunchAFileScan, 0)->values[2].isNull);
  EXPECT_EQ(s.Answer(kStopAScan, 0), nullptr);  // no line: E_NOTIMPL
}

TEST(StandinScenario, ListMethodsEndWithOne) {
  CScenario s = ParseOk(
      "GetUpdateServer 0 \"a\"\n"
      "GetThreatHistoryEntry 0 \"0\" 2 \"n\" \"f\" \"i\" \"p\" 42\n");
  EXPECT_EQ(s.Answer(kGetUpdateServer, 0)->result, S_OK);
  EXPECT_EQ(s.Answer(kGetUpdateServer, 1)->result, S_FALSE);
  EXPECT_TRUE(s.Answer(kGetUpdateServer, 1)->values.empty());
  const SAnswer* entry = s.Answer(kGetThreatHistoryEntry, 0);
  EXPECT_EQ(entry->values[1].number, 2);
  EXPECT_EQ(entry->values[6].number, 42);
  EXPECT_EQ(s.Answer(kGetThreatHistoryEntry, 1)->result, S_FALSE);
}

TEST(StandinScenario, Callbacks) {
  CScenario s = ParseOk(
      "CallbackTrigger TarvixFire1\n"
      "Callback\n"
      "CallbackValue 7 0 \"19\"\n"
      "CallbackValue 6 0x80004005 null\n"
      "Callback\n");
  EXPECT_EQ(s.GetCallbackMode(), kCallbackTrigger);
  EXPECT_EQ(s.GetCallbackTrigger(), std::wstring(L"TarvixFire1"));
  ASSERT_EQ(s.Events().size(), 2u);
  EXPECT_TRUE(s.Events()[0].values[7].defined);
  EXPECT_EQ(s.Events()[0].values[7].value.text, std::wstring(L"19"));
  EXPECT_TRUE(s.Events()[0].values[6].value.isNull);
  EXPECT_FALSE(s.Events()[0].values[0].defined);
  EXPECT_FALSE(s.Events()[1].values[7].defined);
  CScenario delay = ParseOk("CallbackDelay 250\n");
  EXPECT_EQ(delay.GetCallbackMode(), kCallbackDelay);
  EXPECT_EQ(delay.GetCallbackDelay(), 250u);
}

struct SBadCase {
  std::string text;
  const char* errorPart;
};

TEST(StandinScenario, BadInputIsRejectedWithItsLine) {
  const SBadCase cases[] = {
      {"Nonsense 0", "line 1: unknown keyword"},
      {"\n\nDetectionOfProduct 0", "line 3: DetectionOfProduct takes a result and 1 value"},
      {"DetectionOfProduct 0 maybe", "expected true or false"},
      {"DetectionOfProduct x true", "bad result code"},
      {"DetectionOfProduct 0x100000000 true", "bad result code"},
      {"EngineVersion 0 \"open", "unterminated string"},
      {"EngineVersion 0 word", "expected a \"string\""},
      {"EngineVersion 0 \"bad \\q escape\"", "bad escape"},
      {"EngineVersion 0 \"short \\u12\"", "bad escape"},
      {"EngineVersion 0 fill:1048577:x", "bad fill"},
      {"EngineVersion 0 fill:3:xy", "bad fill"},
      {"EngineVersion 0 fill:-1:x", "bad fill"},
      {"GetGUILanguage 0 12abc", "expected a number"},
      {"GetGUILanguage 0 99999999999999999999", "expected a number"},
      {"CallbackValue 0 0 \"x\"", "CallbackValue before Callback"},
      {"Callback\nCallbackValue 8 0 \"x\"", "line 2: expected CallbackValue"},
      {"CallbackDelay 600001", "expected CallbackDelay"},
      {"A 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16", "too many values"},
      {std::string(70000, 'x'), "longer than 64 KiB"},
  };
  for (const SBadCase& c : cases) {
    CScenario scenario;
    std::string error;
    EXPECT_FALSE(scenario.Parse(c.text.data(), c.text.size(), error)) << c.text.substr(0, 60);
    EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
  }
}

TEST(StandinScenario, FailedParseKeepsNothingAndSizeIsBounded) {
  CScenario scenario;
  std::string error;
  std::string good = "EngineVersion 0 \"x\"\n";
  ASSERT_TRUE(scenario.Parse(good.data(), good.size(), error));
  std::string bad = "EngineVersion 0 \"y\"\nbroken";
  EXPECT_FALSE(scenario.Parse(bad.data(), bad.size(), error));
  EXPECT_EQ(scenario.Answer(kEngineVersion, 0)->values[0].text, std::wstring(L"x"));
  std::string huge((1 << 20) + 1, '\n');
  EXPECT_FALSE(scenario.Parse(huge.data(), huge.size(), error));
  EXPECT_NE(error.find("larger than 1 MiB"), std::string::npos);
  // Binary junk (embedded zeros, high bytes) is an error, not a crash.
  std::string junk("\x00\xFF\xFE\"\\", 5);
  EXPECT_FALSE(scenario.Parse(junk.data(), junk.size(), error));
}

}  // namespace

namespace {

// Random lines built from the grammar's own pieces, mutated at random: the
// parser must answer true or false with a message, never crash or hang.
TEST(StandinScenario, RandomInputNeverBreaksTheParser) {
  const char* const pieces[] = {"EngineVersion", "GetThreatHistoryEntry", "Callback",
                                "CallbackValue", "CallbackTrigger", "fill:", "fill:9:x", "null",
                                "\"", "\\", "\\u", "\\x4", "0x", "-", "keep", "true", " ", "\t",
                                "\n", "\r", "#", "7", "0x80004005", "\xC3", "\xFF", "GetUpdateServer"};
  unsigned state = 12345;
  auto next = [&state]() {
    state = state * 1103515245u + 12345u;
    return (state >> 16) & 0x7FFF;
  };
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    int count = static_cast<int>(next() % 24);
    for (int i = 0; i < count; ++i) {
      if (next() % 5 == 0) text.push_back(static_cast<char>(next() & 0xFF));
      else text += pieces[next() % (sizeof(pieces) / sizeof(pieces[0]))];
    }
    CScenario scenario;
    std::string error;
    if (!scenario.Parse(text.data(), text.size(), error)) {
      EXPECT_FALSE(error.empty());
    }
  }
}

}  // namespace

namespace {

TEST(ScenarioLines, SkipsBlankAndCommentLinesAndCountsEveryLine) {
  const std::string text =
      "# head\n\n  \t\nfirst one\r\n  # indented comment\n\tsecond\nlast without end";
  CScenarioLines lines(text.data(), text.size());
  std::string line;
  std::vector<std::string> got, where;
  while (lines.Next(line)) {
    got.push_back(line);
    where.push_back(lines.Error("why"));
  }
  EXPECT_EQ(got, (std::vector<std::string>{"first one", "\tsecond", "last without end"}));
  EXPECT_EQ(where, (std::vector<std::string>{"line 4: why", "line 6: why", "line 7: why"}));
  std::string error;
  EXPECT_FALSE(lines.Failed(error));

  CScenarioLines empty("", 0);
  EXPECT_FALSE(empty.Next(line));
  EXPECT_FALSE(empty.Failed(error));
}

TEST(ScenarioLines, BoundsTheTextAndEachLine) {
  std::string line, error;
  // 64 KiB exactly (its CR not counted) passes.
  std::string fits = std::string(CScenarioLines::kMaxLineBytes, 'a') + "\r\nnext\n";
  CScenarioLines fitting(fits.data(), fits.size());
  ASSERT_TRUE(fitting.Next(line));
  EXPECT_EQ(line.size(), CScenarioLines::kMaxLineBytes);
  ASSERT_TRUE(fitting.Next(line));
  EXPECT_EQ(line, "next");
  EXPECT_FALSE(fitting.Next(line));
  EXPECT_FALSE(fitting.Failed(error));

  // One byte more stops the reader at that line for good.
  std::string tooLong = "one\n" + std::string(CScenarioLines::kMaxLineBytes + 1, 'b') + "\nnever\n";
  CScenarioLines stopping(tooLong.data(), tooLong.size());
  ASSERT_TRUE(stopping.Next(line));
  EXPECT_FALSE(stopping.Next(line));
  EXPECT_FALSE(stopping.Next(line));
  ASSERT_TRUE(stopping.Failed(error));
  EXPECT_EQ(error, "line 2: line longer than 64 KiB");

  std::string huge(CScenarioLines::kMaxTextBytes + 1, '\n');
  CScenarioLines refusing(huge.data(), huge.size());
  EXPECT_FALSE(refusing.Next(line));
  ASSERT_TRUE(refusing.Failed(error));
  EXPECT_EQ(error, "scenario larger than 1 MiB");
}

}  // namespace
