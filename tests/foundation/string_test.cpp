// CMyStringT: storage and growth, copies, Trim, Format and the
// width-changing assignments.
#include "foundation/mystring.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "foundation/myprintf.h"
#include "wtext.h"

namespace tarvixlib {
namespace {

TEST(MyString, EmptyStringsShareTheStaticEmptyText) {
  CMyStringA a, b;
  const char* shared = CMyStrHelper<char>::Empty();
  EXPECT_EQ(a.GetString(), shared);
  EXPECT_EQ(b.GetString(), shared);
  EXPECT_EQ(a.GetCapacity(), 0u);
  EXPECT_TRUE(a.IsEmpty());

  CMyStringA c("x");
  c.Assign("");
  EXPECT_EQ(c.GetString(), shared);
  c.Assign("y");
  c.Assign(nullptr);
  EXPECT_EQ(c.GetString(), shared);
  EXPECT_EQ(c.GetLength(), 0u);

  CMyStringW w(static_cast<const WChar*>(nullptr));
  EXPECT_EQ(w.GetString(), CMyStrHelper<WChar>::Empty());
  EXPECT_EQ(w.GetString()[0], WChar(0));
}

// Capacity is (length | 15) + 1 after Assign.
TEST(MyString, AssignRoundsCapacityToSixteen) {
  struct Row { size_t length; size_t capacity; };
  const Row rows[] = {{0, 0}, {1, 16}, {14, 16}, {15, 16}, {16, 32}, {31, 32}, {32, 48}, {100, 112}};
  for (const Row& row : rows) {
    std::string text(row.length, 'q');
    CMyStringA s(text.c_str());
    EXPECT_EQ(s.GetLength(), row.length);
    EXPECT_EQ(s.GetCapacity(), row.capacity) << "length " << row.length;
    EXPECT_EQ(std::string(s.GetString()), text);
  }
}

TEST(MyString, AppendGrowsByTheSameRounding) {
  CMyStringA s("123456789012345");  // 15 characters: capacity 16
  ASSERT_EQ(s.GetCapacity(), 16u);
  s.Append("6");
  EXPECT_EQ(s.GetCapacity(), 32u);
  EXPECT_STREQ(s.GetString(), "1234567890123456");

  // Within the capacity the array is kept.
  const char* before = s.GetString();
  s.Append("abc");
  EXPECT_EQ(s.GetString(), before);
  EXPECT_EQ(s.GetCapacity(), 32u);
  EXPECT_STREQ(s.GetString(), "1234567890123456abc");

  s.Append(nullptr);
  s.Append("");
  EXPECT_STREQ(s.GetString(), "1234567890123456abc");

  CMyStringA empty;
  empty.Append("hi");
  EXPECT_STREQ(empty.GetString(), "hi");
  EXPECT_EQ(empty.GetCapacity(), 16u);
}

TEST(MyString, AppendOfItsOwnTextWorksAcrossReallocation) {
  CMyStringA s("0123456789");  // capacity 16: doubling needs a new array
  s.Append(s.GetString());
  EXPECT_STREQ(s.GetString(), "01234567890123456789");
  s.Append(s.GetString() + 15);
  EXPECT_STREQ(s.GetString(), "0123456789012345678956789");
}

TEST(MyString, CopiesAreDeepAndMovesLeaveTheEmptyText) {
  CMyStringA a("hello");
  CMyStringA b(a);
  EXPECT_NE(a.GetString(), b.GetString());
  EXPECT_STREQ(b.GetString(), "hello");
  b.Append(" world");
  EXPECT_STREQ(a.GetString(), "hello");

  CMyStringA c;
  c = b;
  EXPECT_STREQ(c.GetString(), "hello world");
  c = c;  // self-assignment keeps the text
  EXPECT_STREQ(c.GetString(), "hello world");

  const char* array = c.GetString();
  CMyStringA d(std::move(c));
  EXPECT_EQ(d.GetString(), array);
  EXPECT_EQ(c.GetString(), CMyStrHelper<char>::Empty());
  CMyStringA e("x");
  e = std::move(d);
  EXPECT_EQ(e.GetString(), array);
  EXPECT_TRUE(d.IsEmpty());
}

TEST(MyString, AssignFromInsideItself) {
  CMyStringA s("abcdef");
  s.Assign(s.GetString() + 2);
  EXPECT_STREQ(s.GetString(), "cdef");
}

TEST(MyString, TrimRemovesLeadingAndTrailingSetCharacters) {
  struct Row { const char* text; const char* set; const char* expected; };
  const Row rows[] = {
      {"  ab c \t", " \t", "ab c"},
      {"      ", " \t", ""},      // only set characters: the empty text
      {"\t\tx", " \t", "x"},
      {"x  ", " ", "x"},
      {"abc", "", "abc"},        // empty set: unchanged
      {"xxaxx", "x", "a"},
      {"", " ", ""},
  };
  for (const Row& row : rows) {
    CMyStringA s(row.text);
    s.Trim(row.set);
    EXPECT_STREQ(s.GetString(), row.expected) << "'" << row.text << "'";
    EXPECT_EQ(s.GetLength(), std::string(row.expected).size());
  }
  CMyStringW w(WTEXT(" \x00E9t\x00E9 "));
  w.Trim(WTEXT(" "));
  EXPECT_EQ(WString(w.GetString()), WString(WTEXT("\x00E9t\x00E9")));
}

TEST(MyString, FormatSizesExactly) {
  CMyStringA s;
  EXPECT_EQ(s.Format("%s-%d", "abc", 42), 6);
  EXPECT_STREQ(s.GetString(), "abc-42");
  EXPECT_EQ(s.GetCapacity(), 7u);

  // An empty result gives the shared empty text.
  EXPECT_EQ(s.Format("%s", ""), 0);
  EXPECT_EQ(s.GetString(), CMyStrHelper<char>::Empty());

  CMyStringW w;
  EXPECT_EQ(w.Format(WTEXT("%d:%s"), 7, WTEXT("x")), 3);
  EXPECT_EQ(WString(w.GetString()), WString(WTEXT("7:x")));
  EXPECT_EQ(w.GetCapacity(), 4u);
}

// 2000 characters do not fit the 1024-character scratch buffer: the text is
// measured, allocated exactly, and formatted a second time.
TEST(MyString, LongFormatIsExactAfterTheSecondPass) {
  std::string expected;
  for (int i = 0; i < 200; ++i) {
    char chunk[16];
    std::snprintf(chunk, sizeof(chunk), "%09d|", i);
    expected += chunk;
  }
  ASSERT_EQ(expected.size(), 2000u);
  CMyStringA s;
  EXPECT_EQ(s.Format("%2000s", "x"), 2000);
  EXPECT_EQ(s.GetCapacity(), 2001u);
  EXPECT_EQ(std::string(s.GetString()), std::string(1999, ' ') + "x");

  EXPECT_EQ(s.Format("%s%s", expected.substr(0, 1000).c_str(), expected.substr(1000).c_str()), 2000);
  EXPECT_EQ(std::string(s.GetString()), expected);
  EXPECT_EQ(s.GetCapacity(), 2001u);

  // The wide engine's scratch holds 512 characters.
  WString wideExpected(700, WChar('w'));
  CMyStringW w;
  EXPECT_EQ(w.Format(WTEXT("%s!"), wideExpected.c_str()), 701);
  EXPECT_EQ(WString(w.GetString()), wideExpected + WChar('!'));
  EXPECT_EQ(w.GetCapacity(), 702u);
}

// The scratch buffer holds exactly 1024 narrow or 512 wide characters: a
// result of that length still comes from the single pass, one more needs
// the second; both are exact.
TEST(MyString, FormatAtTheScratchBoundary) {
  for (size_t length : {1023u, 1024u, 1025u, 2048u, 2049u}) {
    std::string text(length, 'b');
    text[0] = 'A';
    text[length - 1] = 'Z';
    CMyStringA s;
    EXPECT_EQ(s.Format("%s", text.c_str()), static_cast<int>(length));
    EXPECT_EQ(std::string(s.GetString()), text);
    EXPECT_EQ(s.GetCapacity(), length + 1);
  }
  for (size_t length : {511u, 512u, 513u, 1025u}) {
    WString text(length, WChar('b'));
    text[length - 1] = WChar('Z');
    CMyStringW w;
    EXPECT_EQ(w.Format(WTEXT("%s"), text.c_str()), static_cast<int>(length));
    EXPECT_EQ(WString(w.GetString()), text);
    EXPECT_EQ(w.GetCapacity(), length + 1);
  }
}

// An argument pointing into the string being formatted stays valid: the old
// array is freed only after the run.
TEST(MyString, FormatMayReadItsOwnText) {
  std::string longText(1500, 'k');
  CMyStringA s(longText.c_str());
  EXPECT_EQ(s.Format("<%s>", s.GetString()), 1502);
  EXPECT_EQ(std::string(s.GetString()), "<" + longText + ">");
  CMyStringA t("abc");
  t.Format("%s%s", t.GetString(), t.GetString());
  EXPECT_STREQ(t.GetString(), "abcabc");
}

TEST(MyString, AppendFormatKeepsTheFront) {
  CMyStringA s("count=");
  EXPECT_EQ(s.AppendFormat("%d", 12), 2);
  EXPECT_STREQ(s.GetString(), "count=12");
  EXPECT_EQ(s.GetCapacity(), 9u);
  std::string tail(1100, 't');
  EXPECT_EQ(s.AppendFormat("%s", tail.c_str()), 1100);
  EXPECT_EQ(std::string(s.GetString()), "count=12" + tail);

  CMyStringA empty;
  EXPECT_EQ(empty.AppendFormat("%s", "a"), 1);
  EXPECT_STREQ(empty.GetString(), "a");

  EXPECT_EQ(FormatToString(s, "%d", 5), 1);
  EXPECT_STREQ(s.GetString(), "5");
}

TEST(MyString, WidthChangingAssignments) {
  CMyStringW w;
  EXPECT_TRUE(w.AssignWideFromAnsi("caf\xE9"));
  EXPECT_EQ(WString(w.GetString()), WString(WTEXT("caf\x00E9")));
  EXPECT_EQ(w.GetCapacity(), 16u);
  EXPECT_FALSE(w.AssignWideFromAnsi(""));
  EXPECT_EQ(w.GetString(), CMyStrHelper<WChar>::Empty());
  EXPECT_FALSE(w.AssignWideFromAnsi(nullptr));

  CMyStringA a;
  EXPECT_TRUE(a.AssignAnsiFromWide(WTEXT("\x20AC 5")));
  EXPECT_STREQ(a.GetString(), "\x80 5");
  EXPECT_FALSE(a.AssignAnsiFromWide(WTEXT("")));
  EXPECT_EQ(a.GetString(), CMyStrHelper<char>::Empty());

  EXPECT_TRUE(a.AssignUtf8FromWide(WTEXT("\x20AC\x00E9")));
  EXPECT_STREQ(a.GetString(), "\xE2\x82\xAC\xC3\xA9");
  EXPECT_EQ(a.GetCapacity(), 16u);
  EXPECT_FALSE(a.AssignUtf8FromWide(nullptr));
  EXPECT_TRUE(a.IsEmpty());
}

}  // namespace
}  // namespace tarvixlib
