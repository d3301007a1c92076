// The console output model: line kinds, the fill and dots rule, blocks,
// message lines with their 4095-character limit, texts never re-formatted.
#include <gtest/gtest.h>

#include <string>

#include "console/consoleline.h"
#include "console_test_util.h"

using namespace tarvixconsole;
using consoletest::CCaptureWriter;

namespace {

struct SPadCase {
  const char* text;
  size_t width;
  bool dots;
  const char* expected;
};

TEST(ConsoleFill, WidthMinusLengthPlusThreeDotsOnOddRemainders) {
  const SPadCase cases[] = {
      {"abc", 3, false, "abc   "},
      {"abc", 3, true, "abc . "},      // 3 fill: remainders 2,1,0
      {"ab", 3, true, "ab. . "},       // 4 fill: 3,2,1,0
      {"a", 5, true, "a . . . "},      // 7 fill: 6..0
      {"abcdef", 3, true, "abcdef"},   // longer than the width: no fill
      {"", 0, false, "   "},           // empty text against width 0
      {"", 0, true, " . "},
      {"x", 0, true, "x"},             // non-empty against width 0
      {nullptr, 0, false, "   "},
  };
  for (const SPadCase& c : cases) {
    CCaptureWriter capture;
    WritePadded(c.text, c.width, c.dots);
    EXPECT_EQ(capture.Text(), c.expected) << (c.text ? c.text : "(null)") << " " << c.width;
  }
}

TEST(ConsoleFill, LongFillsAreWrittenWhole) {
  CCaptureWriter capture;
  WritePadded("", 200, true);
  std::string text = capture.Text();
  ASSERT_EQ(text.size(), 203u);
  for (size_t i = 0; i < text.size(); ++i)
    EXPECT_EQ(text[i], ((text.size() - 1 - i) & 1) ? '.' : ' ') << i;
}

TEST(ConsoleLines, EachKindPrintsItsForm) {
  CCaptureWriter capture;
  CMyConsoleLineEmpty empty;
  empty.Print(10, false, false);
  empty.Print(10, true, true);
  EXPECT_EQ(capture.Text(), "\n\n\n");
  EXPECT_EQ(empty.GetKind(), kLineEmpty);
  EXPECT_EQ(empty.GetAttributeLength(), 0u);

  capture.Clear();
  CMyConsoleLineAttribute attribute("Name");
  attribute.Print(6, true, true);
  EXPECT_EQ(capture.Text(), "  Name . . : \n");
  EXPECT_EQ(attribute.GetKind(), kLineAttribute);
  EXPECT_EQ(attribute.GetAttributeLength(), 4u);
  EXPECT_STREQ(attribute.GetText(), "  ");

  capture.Clear();
  CMyConsoleLineValue value("Name", "v");
  value.Print(4, false, false);
  EXPECT_EQ(capture.Text(), "  Name   : v");
  EXPECT_EQ(value.GetKind(), kLineValue);

  capture.Clear();
  CMyConsoleLineValue emptyValue("Name", "");
  emptyValue.Print(4, true, true);
  EXPECT_EQ(capture.Text(), "  Name . :  . \n");
}

TEST(ConsoleLines, RegularLineIsFormattedOnceAndPrintedUnchanged) {
  CCaptureWriter capture;
  CMyConsoleLineRegular* line = CMyConsoleLineRegular::Format("%s and %d%%", "100%s", 5);
  ASSERT_NE(line, nullptr);
  EXPECT_STREQ(line->GetText(), "100%s and 5%");
  line->Print(0, true, false);
  line->Print(0, false, false);
  EXPECT_EQ(capture.Text(), "100%s and 5%\n100%s and 5%");
  delete line;
  CMyConsoleLineRegular* text = CMyConsoleLineRegular::Text("50% %d %s");
  EXPECT_STREQ(text->GetText(), "50% %d %s");
  delete text;
}

TEST(ConsoleBlock, AlignsAttributesToTheLongestAndEndsWithALineFeed) {
  CCaptureWriter capture;
  {
    CMyConsoleLineContainer block(false);
    block.AddHeader("Header %d:", 7);
    block.AddValue("A", "1");
    block.AddValue("Longer", "2");
    block.AddEmpty();
    block.AddText("closing %s");
    EXPECT_EQ(block.GetWidth(), 6u);
    block.Print();
  }
  EXPECT_EQ(capture.Text(),
            "Header 7:\n"
            "  A        : 1\n"
            "  Longer   : 2\n"
            "\n"
            "closing %s\n"
            "\n");
}

TEST(ConsoleBlock, DotsStandInTheSameColumnsOnEveryLine) {
  CCaptureWriter capture;
  {
    CMyConsoleLineContainer block(true);
    block.AddHeader("Virus (ID %d):", 3);
    block.AddValue("File", "f");
    block.AddValue("Time found", "t");
    block.AddValue("Process", "");
    block.Print();
  }
  EXPECT_EQ(capture.Text(),
            "Virus (ID 3):\n"
            "  File . . . . : f\n"
            "  Time found . : t\n"
            "  Process. . . :  . \n"
            "\n");
}

TEST(ConsoleBlock, EmptyBlockPrintsOneLineFeedAndGrowsPastSixteenLines) {
  CCaptureWriter capture;
  {
    CMyConsoleLineContainer empty;
    EXPECT_EQ(empty.GetWidth(), 0u);
    empty.Print();
  }
  EXPECT_EQ(capture.Text(), "\n");
  capture.Clear();
  CMyConsoleLineContainer block;
  std::string expected;
  for (int i = 0; i < 40; ++i) {
    std::string label = "L" + std::to_string(i);
    EXPECT_TRUE(block.AddValue(label.c_str(), "v"));
    expected += "  " + label + std::string(3 - label.size() + 3, ' ') + ": v\n";
  }
  EXPECT_EQ(block.GetCount(), 40u);
  EXPECT_FALSE(block.Add(nullptr));
  block.Print();
  EXPECT_EQ(capture.Text(), expected + "\n");
}

TEST(ConsoleLog, MessageLinesAreCutAt4095Characters) {
  CCaptureWriter capture;
  std::string big(10000, 'm');
  CMyConsoleLog::Instance().Message("%s", big.c_str());
  EXPECT_EQ(capture.Text(), std::string(4095, 'm') + "\n");
  capture.Clear();
  std::string exact(4095, 'e');
  CMyConsoleLog::Instance().Message("%s", exact.c_str());
  EXPECT_EQ(capture.Text(), exact + "\n");
}

TEST(ConsoleLog, ValueAndYesNoLinesAreUnalignedAndNeverReformatted) {
  CCaptureWriter capture;
  CMyConsoleLog& log = CMyConsoleLog::Instance();
  log.Value("Label %s", "100% %d done");
  log.YesNo("Yes", true);
  log.YesNo("No", false);
  log.Value("Empty", "");
  std::string big(6000, 'v');
  log.Value("Big", big.c_str());
  EXPECT_EQ(capture.Text(), "  Label %s: 100% %d done\n  Yes: YES\n  No: NO\n  Empty:    \n  Big: " +
                                big + "\n");
}

}  // namespace
