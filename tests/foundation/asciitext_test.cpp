// The tree's ASCII helpers (case folding, hexadecimal digits) and its
// little-endian words.
#include "foundation/asciitext.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "foundation/byteorder.h"

namespace tarvixlib {
namespace {

// Only a-z and A-Z fold; the neighbours of the letter ranges and every byte
// from 0x80 up stay as they are.
TEST(AsciiText, FoldsOnlyAsciiLetters) {
  const struct {
    char in, upper, lower;
  } rows[] = {
      {'a', 'A', 'a'}, {'z', 'Z', 'z'}, {'A', 'A', 'a'},       {'Z', 'Z', 'z'},
      {'@', '@', '@'}, {'[', '[', '['}, {'`', '`', '`'},       {'{', '{', '{'},
      {'0', '0', '0'}, {'\0', '\0', '\0'}, {'\xE9', '\xE9', '\xE9'}, {'\xC9', '\xC9', '\xC9'},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(AsciiUpper(row.in), row.upper) << int(row.in);
    EXPECT_EQ(AsciiLower(row.in), row.lower) << int(row.in);
  }
  std::string text = "Mixed Case \xE9t\xE9 123";
  AsciiUpperInPlace(text.data(), text.size());
  EXPECT_EQ(text, "MIXED CASE \xE9T\xE9 123");
  AsciiLowerInPlace(text.data(), 5);
  EXPECT_EQ(text, "mixed CASE \xE9T\xE9 123");
}

TEST(AsciiText, ComparesWithoutRegardToCase) {
  EXPECT_TRUE(AsciiEqualsNoCase("Content-Type", "cONTENT-tYPE"));
  EXPECT_FALSE(AsciiEqualsNoCase("yes", "yesno"));
  EXPECT_FALSE(AsciiEqualsNoCase("yesno", "yes"));
  EXPECT_FALSE(AsciiEqualsNoCase("\xE9", "\xC9")) << "only ASCII letters fold";
  EXPECT_FALSE(AsciiEqualsNoCase("[", "{"));
  EXPECT_TRUE(AsciiEqualsNoCase(nullptr, ""));
  EXPECT_FALSE(AsciiEqualsNoCase(nullptr, "x"));

  EXPECT_TRUE(AsciiStartsWithNoCase("removable1", "REMOVABLE"));
  EXPECT_TRUE(AsciiStartsWithNoCase("ex", ""));
  EXPECT_FALSE(AsciiStartsWithNoCase("REMOV", "removable")) << "the text ends first";
  EXPECT_FALSE(AsciiStartsWithNoCase(nullptr, ""));
}

// The library's name folding moves a-z and 0xE0..0xFF down by 32.
TEST(AsciiText, NameFoldingAlsoFoldsHighLetters) {
  EXPECT_EQ(FoldNameByte('a'), 'A');
  EXPECT_EQ(FoldNameByte('A'), 'A');
  EXPECT_EQ(FoldNameByte('{'), '{');
  EXPECT_EQ(FoldNameByte(0xE0), 0xC0);
  EXPECT_EQ(FoldNameByte(0xFF), 0xDF);
  EXPECT_EQ(FoldNameByte(0xDF), 0xDF);
}

TEST(AsciiText, HexDigits) {
  const std::string digits = "0123456789abcdefABCDEF";
  for (size_t i = 0; i < digits.size(); ++i)
    EXPECT_EQ(HexDigitValue(digits[i]), static_cast<int>(i < 16 ? i : i - 6)) << digits[i];
  for (char c : std::string("/:@G`g x\xFF")) EXPECT_EQ(HexDigitValue(c), -1) << int(c);
  EXPECT_EQ(HexDigitUpper(0), '0');
  EXPECT_EQ(HexDigitUpper(10), 'A');
  EXPECT_EQ(HexDigitUpper(0x1F), 'F') << "only the low four bits";
}

TEST(ByteOrder, LittleEndianWhateverTheHost) {
  uint8_t word[6] = {0xEE, 0, 0, 0, 0, 0xEE};
  StoreLe32(word + 1, 0x12345678u);
  EXPECT_EQ(word[1], 0x78);
  EXPECT_EQ(word[2], 0x56);
  EXPECT_EQ(word[3], 0x34);
  EXPECT_EQ(word[4], 0x12);
  EXPECT_EQ(word[0], 0xEE) << "nothing written around the word";
  EXPECT_EQ(word[5], 0xEE);
  EXPECT_EQ(LoadLe32(word + 1), 0x12345678u);
  const uint8_t high[4] = {0xCC, 0x01, 0x00, 0x80};
  EXPECT_EQ(LoadLe32(high), 0x800001CCu);
}

}  // namespace
}  // namespace tarvixlib
