// Text conversions: the UTF-8 dialect, ANSI through the thread's code page
// (Windows-1252 in the test environment), and the name hashes.
#include "foundation/textconv.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wtext.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace tarvixlib {
namespace {

std::string Encode(const WString& wide) {
  std::string out(Utf8Length(wide.c_str()) + 1, '\xFF');
  size_t n = Utf8Encode(&out[0], wide.c_str());
  EXPECT_EQ(out[n], '\0');  // always terminated
  out.resize(n);
  return out;
}

WString Decode(const std::string& utf8) {
  size_t needed = Utf16Length(utf8.c_str());
  std::vector<WChar> out(needed + 1, WChar(0xFFFF));
  size_t n = Utf8Decode(out.data(), utf8.c_str());
  EXPECT_EQ(n, needed);
  EXPECT_EQ(out[n], WChar(0));
  return WString(out.data(), n);
}

// Expected bytes follow the one-unit-at-a-time rule (1, 2 or 3 bytes).
TEST(Utf8, EncodesEachUnitOnItsOwn) {
  struct Row { WString wide; std::string utf8; };
  const Row rows[] = {
      {WTEXT(""), ""},
      {WTEXT("A"), "A"},
      {WTEXT("\x007F"), "\x7F"},
      {WTEXT("\x0080"), "\xC2\x80"},
      {WTEXT("\x00E9"), "\xC3\xA9"},
      {WTEXT("\x07FF"), "\xDF\xBF"},
      {WTEXT("\x0800"), "\xE0\xA0\x80"},
      {WTEXT("\x20AC"), "\xE2\x82\xAC"},
      {WTEXT("\xFFFF"), "\xEF\xBF\xBF"},
      // A surrogate pair is not joined: two three-byte sequences.
      {WString{WChar(0xD83D), WChar(0xDE00)}, "\xED\xA0\xBD\xED\xB8\x80"},
      {WString{WChar('x'), WChar(0xDC00), WChar('y')}, "x\xED\xB0\x80y"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Utf8Length(row.wide.c_str()), row.utf8.size()) << Escaped(row.wide);
    EXPECT_EQ(Encode(row.wide), row.utf8) << Escaped(row.wide);
  }
  EXPECT_EQ(Utf8Length(nullptr), 0u);
}

// Decoding drops what it cannot use instead of failing.
TEST(Utf8, DecodesLeniently) {
  struct Row { std::string utf8; WString wide; };
  const Row rows[] = {
      {"", WTEXT("")},
      {"abc", WTEXT("abc")},
      {"\xC3\xA9", WTEXT("\x00E9")},
      {"\xE2\x82\xAC", WTEXT("\x20AC")},
      {"\xF0\x9F\x98\x80", WTEXT("")},         // four-byte sequence: skipped whole
      {"a\xF0\x9F\x98\x80z", WTEXT("az")},
      {"\xC3\x41", WTEXT("A")},                 // lone lead dropped, next byte kept
      {"\x80\xBF" "A", WTEXT("A")},             // stray continuation bytes dropped
      {"\xE2\x82" "A", WTEXT("A")},             // short three-byte: lead dropped, 82 stray
      {"\xE2\x82", WTEXT("")},                  // cut off by the terminator
      {"\xF0\x9F\x98" "A", WTEXT("A")},         // incomplete four-byte: lead dropped
      {"\xF4\x8F\xBF\xBF" "A", WTEXT("A")},     // F4..FF: only the lead dropped, rest stray
      {"\xFF" "A", WTEXT("A")},
      {"\xED\xA0\xBD\xED\xB8\x80", WString{WChar(0xD83D), WChar(0xDE00)}},
  };
  for (const Row& row : rows) EXPECT_EQ(Escaped(Decode(row.utf8)), Escaped(row.wide));
  EXPECT_EQ(Utf16Length(nullptr), 0u);
}

// A value written with more bytes than it needs is a broken sequence like
// the others: its lead is dropped and its continuation bytes go as strays.
// Above all no such form yields U+0000, which would cut the text short.
TEST(Utf8, OverlongFormsAreDroppedLikeOtherBrokenSequences) {
  struct Row { std::string utf8; WString wide; };
  const Row rows[] = {
      {"a\xC0\x80z", WTEXT("az")},             // U+0000 in two bytes
      {"a\xE0\x80\x80z", WTEXT("az")},         // U+0000 in three bytes
      {"\xC1\x81", WTEXT("")},                 // 'A' in two bytes
      {"\xC1\xBF" "A", WTEXT("A")},             // U+007F, the largest overlong pair
      {"\xE0\x81\x81", WTEXT("")},             // 'A' in three bytes
      {"\xE0\x9F\xBF", WTEXT("")},             // U+07FF, the largest overlong triple
      {"\xF0\x80\x80\x80z", WTEXT("z")},       // U+0000 in four bytes
      {"\xC0" "A", WTEXT("A")},                 // overlong lead without continuation
      // The shortest forms next to them still decode.
      {"\xC2\x80", WTEXT("\x0080")},
      {"\xE0\xA0\x80", WTEXT("\x0800")},
      {"\xE1\x80\x80", WTEXT("\x1000")},
      {"\xED\xA0\xBD", WString{WChar(0xD83D)}},  // our own surrogate form
  };
  for (const Row& row : rows) {
    WString wide = Decode(row.utf8);
    EXPECT_EQ(Escaped(wide), Escaped(row.wide)) << testing::PrintToString(row.utf8);
    EXPECT_EQ(wide.find(WChar(0)), WString::npos) << testing::PrintToString(row.utf8);
  }
}

TEST(Utf8, OwnEncodingRoundTripsAnyUnits) {
  WString all;
  for (unsigned u = 1; u <= 0xFFFF; u += 7) all += static_cast<WChar>(u);
  all += WChar(0xD83D);
  all += WChar(0xDE00);
  EXPECT_EQ(Decode(Encode(all)), all);
}

// The test environment's ANSI code page is Windows-1252 (wine's default for
// an English locale; the fixed code page of the POSIX side).
TEST(AnsiConversion, Windows1252BothWays) {
  struct Row { std::string ansi; WString wide; };
  const Row rows[] = {
      {"plain", WTEXT("plain")},
      {"caf\xE9", WTEXT("caf\x00E9")},
      {"\x80\x8A\x9F\xA0\xFF", WTEXT("\x20AC\x0160\x0178\x00A0\x00FF")},
      // Undefined bytes pass through as the C1 control of the same value.
      {"\x81\x8D\x8F\x90\x9D", WTEXT("\x0081\x008D\x008F\x0090\x009D")},
  };
  for (const Row& row : rows) {
    WChar wide[32];
    EXPECT_EQ(AnsiToWide(nullptr, row.ansi.c_str(), 0), static_cast<int>(row.wide.size()));
    EXPECT_EQ(AnsiToWide(wide, row.ansi.c_str(), 32), static_cast<int>(row.wide.size()));
    EXPECT_EQ(Escaped(wide), Escaped(row.wide));

    char ansi[32];
    EXPECT_EQ(WideToAnsi(nullptr, row.wide.c_str(), 0), static_cast<int>(row.ansi.size()));
    EXPECT_EQ(WideToAnsi(ansi, row.wide.c_str(), 32), static_cast<int>(row.ansi.size()));
    EXPECT_EQ(std::string(ansi), row.ansi);
  }
}

TEST(AnsiConversion, UnmappableCharactersBecomeTheDefaultCharacter) {
  char ansi[8];
  // CJK has no best fit in 1252: the default character on every platform.
  EXPECT_EQ(WideToAnsi(ansi, WTEXT("a\x4E2D"), 8), 2);
  EXPECT_STREQ(ansi, "a?");
  // U+0100 has a best fit ('A') on Windows; the POSIX side has no best-fit
  // table and writes the default character.
  EXPECT_EQ(WideToAnsi(ansi, WTEXT("\x0100"), 8), 1);
#ifdef _WIN32
  EXPECT_STREQ(ansi, "A");
#else
  EXPECT_STREQ(ansi, "?");
#endif
}

TEST(AnsiConversion, FailureLeavesAnEmptyBuffer) {
  WChar wide[4] = {WChar('x'), WChar('x'), WChar('x'), WChar('x')};
  EXPECT_EQ(AnsiToWide(wide, "toolong", 4), 0);  // needs 8 with the terminator
  EXPECT_EQ(wide[0], WChar(0));
  EXPECT_EQ(AnsiToWide(wide, "abc", 4), 3);       // exactly fits
  EXPECT_EQ(Escaped(wide), "abc");
  EXPECT_EQ(AnsiToWide(wide, "", 4), 0);
  EXPECT_EQ(wide[0], WChar(0));
  EXPECT_EQ(AnsiToWide(wide, nullptr, 4), 0);
  EXPECT_EQ(AnsiToWide(wide, "a", 1), 0);         // no room beyond the terminator

  char ansi[3] = {'x', 'x', 'x'};
  EXPECT_EQ(WideToAnsi(ansi, WTEXT("abc"), 3), 0);
  EXPECT_EQ(ansi[0], '\0');
  EXPECT_EQ(WideToAnsi(ansi, WTEXT("ab"), 3), 2);
  EXPECT_STREQ(ansi, "ab");
}

#ifdef _WIN32
// The conversion follows the calling thread's locale (CP_THREAD_ACP): under
// a Russian thread locale the byte E9 is Cyrillic (code page 1251).
TEST(AnsiConversion, FollowsTheThreadCodePage) {
  LCID saved = GetThreadLocale();
  ASSERT_TRUE(SetThreadLocale(MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT)));
  WChar wide[4];
  int n = AnsiToWide(wide, "\xE9", 4);
  char ansi[4];
  int m = WideToAnsi(ansi, WTEXT("\x0439"), 4);
  SetThreadLocale(saved);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(wide[0], WChar(0x0439));  // CYRILLIC SMALL LETTER SHORT I in 1251
  EXPECT_EQ(m, 1);
  EXPECT_EQ(ansi[0], '\xE9');
  // Back on the original locale: 1252 again.
  EXPECT_EQ(AnsiToWide(wide, "\xE9", 4), 1);
  EXPECT_EQ(wide[0], WChar(0x00E9));
}
#endif

TEST(NameHash, ValuesFollowTheTimes33Rule) {
  struct Row { const char* text; uint32_t hash; };
  const Row rows[] = {
      {"", 0u},
      {"a", 97u + 1u},
      {"ab", 97u * 33u + 98u + 2u},
      // Bytes count as signed: 0xE9 is -23.
      {"\xE9", static_cast<uint32_t>(-23) + 1u},
  };
  for (const Row& row : rows) EXPECT_EQ(HashName(row.text), row.hash) << row.text;
  EXPECT_EQ(HashName(nullptr), 0u);
}

TEST(NameHash, NoCaseFoldsAsciiAndHighLetters) {
  EXPECT_EQ(HashNameNoCase("Hello"), HashNameNoCase("HELLO"));
  EXPECT_EQ(HashNameNoCase("hello"), HashName("HELLO"));
  EXPECT_EQ(HashNameNoCase("\xE9t\xE9"), HashName("\xC9T\xC9"));  // é -> É
  EXPECT_NE(HashName("hello"), HashName("HELLO"));
  // Only a-z and 0xE0.. fold: '[' and '{' stay apart, digits are unchanged.
  EXPECT_NE(HashNameNoCase("{"), HashNameNoCase("["));
  EXPECT_EQ(HashNameNoCase("a1"), HashName("A1"));
  EXPECT_EQ(HashNameNoCase(""), 0u);
}

}  // namespace
}  // namespace tarvixlib
