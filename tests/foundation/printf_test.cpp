// The printf engine: format language, conversions of the other width,
// pointers, and the three output modes. Expected texts follow the C
// standard's printf where the engine agrees with it (values checked against
// glibc's printf) and the engine's own rules elsewhere (noted per row).
#include "foundation/myprintf.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "wtext.h"

namespace tarvixlib {
namespace {

// Formats into a large fixed buffer and into a heap string (which held
// other text before), checks that both agree and returns the text.
template <typename CharT>
std::basic_string<CharT> FormatBoth(const CharT* format, va_list args) {
  std::vector<CharT> buffer(70000);
  va_list copy;
  va_copy(copy, args);
  int n = FormatToBufferV(buffer.data(), buffer.size(), format, copy);
  va_end(copy);
  std::basic_string<CharT> text(buffer.data(), static_cast<size_t>(n));
  const CharT old[] = {CharT('o'), CharT('l'), CharT('d'), CharT(0)};
  CMyStringT<CharT> heap(old);
  va_copy(copy, args);
  int m = heap.FormatV(format, copy);
  va_end(copy);
  EXPECT_EQ(m, n);
  EXPECT_TRUE(std::basic_string<CharT>(heap.GetString(), heap.GetLength()) == text);
  return text;
}

std::string F(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatBoth(format, args);
  va_end(args);
  return text;
}

WString WF(const WChar* format, ...) {
  va_list args;
  va_start(args, format);
  WString text = FormatBoth(format, args);
  va_end(args);
  return text;
}

struct Row {
  std::string actual;
  const char* expected;
};

void CheckRows(const std::vector<Row>& rows) {
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].actual, rows[i].expected) << "row " << i;
}

TEST(MyPrintf, Integers) {
  // As C printf (glibc gives the same texts).
  CheckRows({
      {F("%d|%i|%u", 42, -42, 42u), "42|-42|42"},
      {F("[%5d][%-5d][%05d]", 42, 42, -42), "[   42][42   ][-0042]"},
      {F("[%+d][% d][%+ d][% +d]", 5, 5, 5, 5), "[+5][ 5][+5][+5]"},
      {F("[%+u][% x]", 5u, 5u), "[5][5]"},  // sign flags only for signed conversions
      {F("[%.3d][%.0d][%5.0d][%.0x]", 7, 0, 0, 0u), "[007][][     ][]"},
      {F("[%05.2d][%-05d]", 5, 5), "[   05][5    ]"},  // precision or "-" turn "0" off
      {F("%x|%X|%#x|%#X|%#x", 255u, 255u, 255u, 255u, 0u), "ff|FF|0xff|0XFF|0"},
      {F("[%#5x][%#05x][%#-6x]", 255u, 255u, 255u), "[ 0xff][0x0ff][0xff  ]"},
      {F("%o|%#o|%#o|%#.3o|%#.0o", 8u, 8u, 0u, 8u, 0u), "10|010|0|010|0"},
      {F("%d|%d", INT_MIN, INT_MAX), "-2147483648|2147483647"},
      {F("%lld|%llu", LLONG_MIN, ULLONG_MAX), "-9223372036854775808|18446744073709551615"},
      {F("%llx|%llX|%llo", 0xFEDCBA9876543210ull, 0xFEDCBA9876543210ull, 01777777777777777777777ull),
       "fedcba9876543210|FEDCBA9876543210|1777777777777777777777"},
      {F("[%*d][%*d][%-*d]", 4, 1, -4, 2, 3, 3), "[   1][2   ][3  ]"},
      {F("[%.*d][%.*d]", 3, 1, -1, 2), "[001][2]"},  // negative "*" precision: none
      {F("%hd|%hd|%hu|%hx", 65537, -1, -1, 0x12345), "1|-1|65535|2345"},
  });
}

TEST(MyPrintf, SizePrefixes) {
  // "l" is 32 bits as on Windows; ll q j t z I64 and bare I are 64 bits.
  // The trailing %d shows that exactly one argument was consumed.
  CheckRows({
      {F("%lu %d", 0xFFFFFFFFu, 7), "4294967295 7"},
      {F("%llu %d", 0x100000000ull, 7), "4294967296 7"},
      {F("%qu %d", 0x100000000ull, 7), "4294967296 7"},
      {F("%I64u %d", 0x100000000ull, 7), "4294967296 7"},
      {F("%Iu %d", 0x100000000ull, 7), "4294967296 7"},
      {F("%zu %d", static_cast<size_t>(0x100000000ull), 7), "4294967296 7"},
      {F("%ju %d", static_cast<uintmax_t>(0x100000000ull), 7), "4294967296 7"},
      {F("%td %d", static_cast<ptrdiff_t>(-0x100000000ll), 7), "-4294967296 7"},
      {F("%I32u %d", 0xFFFFFFFFu, 7), "4294967295 7"},
      {F("%I64x|%I64d", 0x1122334455667788ull, -1ll), "1122334455667788|-1"},
      // D, U and O imply "l": still 32 bits.
      {F("%D|%U|%O", -5, 4000000000u, 8u), "-5|4000000000|10"},
      {F("%lD|%llD", -5, -5ll), "-5|-5"},
  });
  // On x64 every variadic argument fills an 8-byte slot: a 32-bit read of
  // a 64-bit value sees its low half.
  EXPECT_EQ(F("%lu", 0x1FFFFFFFFull), "4294967295");
  EXPECT_EQ(F("%lx", 0x1234567800000001ull), "1");
}

TEST(MyPrintf, Pointers) {
  void* p = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234));
  CheckRows({
      {F("%p", p), "0000000000001234"},  // without width: all 16 digits
      {F("%8p", p), "    1234"},
      {F("[%-8p]", p), "[1234    ]"},
      {F("%P", p), "0x1234"},
      {F("%p", static_cast<void*>(nullptr)), "0000000000000000"},
      {F("%P", reinterpret_cast<void*>(static_cast<uintptr_t>(0xABCDEF0123456789ull))), "0xabcdef0123456789"},
  });
}

TEST(MyPrintf, Characters) {
  CheckRows({
      {F("%c%c", 'a', 'B'), "aB"},
      {F("[%3c][%-3c]", 'x', 'y'), "[  x][y  ]"},
      // Wide characters through code page 1252.
      {F("%C|%lc|%wc", WChar(0xE9), WChar(0x20AC), WChar('w')), "\xE9|\x80|w"},
      {F("%hC|%hc", 'B', 'c'), "B|c"},
      {F("%C", WChar(0x4E2D)), "?"},
  });
  EXPECT_EQ(WF(WTEXT("%c|%lc|%wc"), WChar(0xE9), WChar(0x20AC), WChar('w')), WString(WTEXT("\x00E9|\x20AC|w")));
  EXPECT_EQ(WF(WTEXT("%C|%hc|%hC"), 'A', '\x80', '\xE9'), WString(WTEXT("A|\x20AC|\x00E9")));
  EXPECT_EQ(WF(WTEXT("[%3C]"), 'z'), WString(WTEXT("[  z]")));
}

TEST(MyPrintf, NarrowEngineStrings) {
  const WChar* wide = WTEXT("abcd");
  const WChar* nullWide = nullptr;
  const char* nullNarrow = nullptr;
  CheckRows({
      {F("%s|%.2s|[%5s]|[%-5s]|[%5.1s]", "abc", "abc", "ab", "ab", "xyz"), "abc|ab|[   ab]|[ab   ]|[    x]"},
      {F("%s|%hs|%hS", "n", "h", "H"), "n|h|H"},
      {F("%S|%ls|%ws", wide, wide, wide), "abcd|abcd|abcd"},
      // The precision counts wide characters taken; the width pads the result.
      {F("[%5.2S]", wide), "[   ab]"},
      {F("%S", WTEXT("caf\x00E9 \x20AC")), "caf\xE9 \x80"},
      // UTF-8: always whole, the precision ignored; the width counts bytes.
      {F("%IS", WTEXT("\x00E9")), "\xC3\xA9"},
      {F("%.1IS|%Ils|%Iws", WTEXT("\x00E9\x20AC"), WTEXT("a"), WTEXT("b")), "\xC3\xA9\xE2\x82\xAC|a|b"},
      {F("[%5IS][%-4IS]", WTEXT("\x00E9"), WTEXT("\x00E9")), "[   \xC3\xA9][\xC3\xA9  ]"},
      {F("%IS", WString{WChar(0xD83D), WChar(0xDE00)}.c_str()), "\xED\xA0\xBD\xED\xB8\x80"},
      // "%Is" names a narrow string in the narrow engine: no conversion.
      {F("%Is", "\xC3"), "\xC3"},
      // A null pointer prints "(null)" whatever the width of the string.
      {F("%s|%S|%IS|%ls|[%8s]", nullNarrow, nullWide, nullWide, nullWide, nullNarrow),
       "(null)|(null)|(null)|(null)|[  (null)]"},
      {F("%S|%IS|%s", WTEXT(""), WTEXT(""), ""), "||"},
  });
}

TEST(MyPrintf, WideEngineStrings) {
  EXPECT_EQ(Escaped(WF(WTEXT("%s|%ls|%ws|%.2s|[%4s]"), WTEXT("w"), WTEXT("l"), WTEXT("x"), WTEXT("abc"), WTEXT("ab"))),
            "w|l|x|ab|[  ab]");
  // Narrow text from code page 1252; the precision limits the bytes taken.
  EXPECT_EQ(Escaped(WF(WTEXT("%S|%hs|%.2S"), "caf\xE9", "\x80", "abcd")), Escaped(WTEXT("caf\x00E9|\x20AC|ab")));
  // UTF-8 into UTF-16, whole.
  EXPECT_EQ(Escaped(WF(WTEXT("%IS|%.1IS"), "\xC3\xA9", "\xE2\x82\xAC!")), Escaped(WTEXT("\x00E9|\x20AC!")));
  EXPECT_EQ(Escaped(WF(WTEXT("%IS"), "\xF0\x9F\x98\x80x")), "x");  // four-byte sequence dropped
  // Overlong forms of U+0000 are dropped, not a terminator inside the text.
  EXPECT_EQ(Escaped(WF(WTEXT("%IS|%IS"), "a\xC0\x80" "b", "c\xE0\x80\x80" "d")), "ab|cd");
  const char* nullNarrow = nullptr;
  const WChar* nullWide = nullptr;
  EXPECT_EQ(Escaped(WF(WTEXT("%S|%IS|%s"), nullNarrow, nullNarrow, nullWide)), "(null)|(null)|(null)");
  EXPECT_EQ(Escaped(WF(WTEXT("%d %x %5.1f"), -3, 255u, 2.25)), "-3 ff   2.2");
}

TEST(MyPrintf, UnknownConversionsAndTheEndOfTheFormat) {
  CheckRows({
      {F("%y|%%|%F|%a", 1), "y|%|F|a"},  // printed as themselves, no argument taken
      {F("%n%d", 5), "n5"},               // "n" stores nothing and takes no argument
      {F("abc%"), "abc"},                 // "%" at the very end ends the output
      {F("abc%-05"), "abc"},
      {F("%.3%"), "%"},
      {F(""), ""},
  });
}

TEST(MyPrintf, InfinityAndNaN) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  CheckRows({
      {F("%f|%e|%g|%E", inf, inf, inf, inf), "Inf|Inf|Inf|Inf"},
      {F("%f|%+f|% f", -inf, inf, inf), "-Inf|+Inf| Inf"},
      {F("%f|%+f|% g", nan, nan, nan), "NaN|+NaN| NaN"},
      {F("%f", -nan), "NaN"},  // no "-" for NaN
      {F("[%6f][%-6f][%06f]", inf, -inf, inf), "[   Inf][-Inf  ][   Inf]"},
  });
}

TEST(MyPrintf, FixedBufferTruncatesSilently) {
  char buffer[5];
  EXPECT_EQ(FormatToBuffer(buffer, sizeof(buffer), "abcdefg"), 4);
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_EQ(FormatToBuffer(buffer, sizeof(buffer), "%s", "abcdefg"), 4);
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_EQ(FormatToBuffer(buffer, sizeof(buffer), "%8d", 1), 4);
  EXPECT_STREQ(buffer, "    ");
  EXPECT_EQ(FormatToBuffer(buffer, sizeof(buffer), "ab%dcd", 12345), 4);
  EXPECT_STREQ(buffer, "ab12");
  EXPECT_EQ(FormatToBuffer(buffer, sizeof(buffer), "%IS", WTEXT("\x20AC\x20AC")), 4);
  EXPECT_STREQ(buffer, "\xE2\x82\xAC\xE2");
  EXPECT_EQ(FormatToBuffer(buffer, sizeof(buffer), "%d", 12), 2);
  EXPECT_STREQ(buffer, "12");
  EXPECT_EQ(FormatToBuffer(buffer, 1, "abc"), 0);
  EXPECT_STREQ(buffer, "");

  WChar wide[5];
  EXPECT_EQ(FormatToBuffer(wide, 5, WTEXT("abcdefg")), 4);
  EXPECT_EQ(Escaped(wide), "abcd");
  EXPECT_EQ(FormatToBuffer(wide, 5, WTEXT("%S"), "abcdefg"), 4);
  EXPECT_EQ(Escaped(wide), "abcd");
}

// Results far longer than every buffer of the engine, in every mode.
TEST(MyPrintf, LongArguments) {
  std::string narrow(10000, 'n');
  WString wide(3000, WChar(0x20AC));
  std::string euros;
  for (int i = 0; i < 3000; ++i) euros += "\xE2\x82\xAC";

  EXPECT_EQ(F("<%s>", narrow.c_str()), "<" + narrow + ">");
  EXPECT_EQ(F("%IS", wide.c_str()), euros);
  EXPECT_EQ(F("%S", wide.c_str()), std::string(3000, '\x80'));
  EXPECT_EQ(F("%.2500S", wide.c_str()), std::string(2500, '\x80'));
  EXPECT_EQ(F("%5000d|", 1), std::string(4999, ' ') + "1|");
  EXPECT_EQ(F("%-5000d|", 1), "1" + std::string(4999, ' ') + "|");
  EXPECT_EQ(F("%.3000d", 7), std::string(2999, '0') + "7");
  EXPECT_EQ(FormatLength("%s%s%s", narrow.c_str(), narrow.c_str(), narrow.c_str()), 30000u);

  WString wideNarrow(3000, WChar(0x20AC));
  EXPECT_EQ(WF(WTEXT("%S"), std::string(3000, '\x80').c_str()), wideNarrow);
  EXPECT_EQ(WF(WTEXT("%IS"), euros.c_str()), wideNarrow);
  EXPECT_EQ(WF(WTEXT("%s"), wide.c_str()), wide);
  EXPECT_EQ(WF(WTEXT("%1000d"), 1), WString(999, WChar(' ')) + WChar('1'));
}

// A writer that keeps what it takes, refusing anything beyond a limit.
class RecordingSink : public CSeqWrite {
public:
  explicit RecordingSink(size_t limit = SIZE_MAX) : m_limit(limit) {}
  size_t Write(const void* data, size_t length) override {
    writes.push_back(length);
    size_t take = std::min(length, m_limit - bytes.size());
    bytes.append(static_cast<const char*>(data), take);
    return take;
  }
  std::string bytes;
  std::vector<size_t> writes;

private:
  size_t m_limit;
};

TEST(MyPrintf, StreamModePassesFullChunksThenTheRest) {
  std::string text(2500, 's');
  RecordingSink sink;
  EXPECT_EQ(FormatToSeq(sink, "%s!", text.c_str()), 2501u);
  EXPECT_EQ(sink.bytes, text + "!");
  EXPECT_EQ(sink.writes, (std::vector<size_t>{1024, 1024, 453}));

  // The wide engine passes 512 characters (1024 bytes) per write.
  WString wide(600, WChar('w'));
  RecordingSink wideSink;
  EXPECT_EQ(FormatToSeq(wideSink, WTEXT("%s"), wide.c_str()), 600u);
  EXPECT_EQ(wideSink.writes, (std::vector<size_t>{1024, 176}));
  EXPECT_EQ(wideSink.bytes, std::string(reinterpret_cast<const char*>(wide.data()), 1200));

  // Exactly one full chunk: no empty write follows.
  RecordingSink exact;
  EXPECT_EQ(FormatToSeq(exact, "%1024d", 1), 1024u);
  EXPECT_EQ(exact.writes, (std::vector<size_t>{1024}));

  RecordingSink small;
  EXPECT_EQ(FormatToSeq(small, "x=%d", 5), 3u);
  EXPECT_EQ(small.bytes, "x=5");
  RecordingSink none;
  EXPECT_EQ(FormatToSeq(none, ""), 0u);
  EXPECT_TRUE(none.writes.empty());
}

TEST(MyPrintf, StreamModeStopsAtAShortWrite) {
  std::string text(5000, 'r');
  // Takes 1500 bytes: the second chunk is cut short and the run ends there.
  RecordingSink sink(1500);
  EXPECT_EQ(FormatToSeq(sink, "%s", text.c_str()), 1500u);
  EXPECT_EQ(sink.writes.size(), 2u);
  EXPECT_EQ(sink.bytes, std::string(1500, 'r'));

  RecordingSink refusing(0);
  EXPECT_EQ(FormatToSeq(refusing, "%s", text.c_str()), 0u);
  EXPECT_EQ(refusing.writes.size(), 1u);

  // A short final write counts only what was taken.
  RecordingSink tail(10);
  EXPECT_EQ(FormatToSeq(tail, "%s", "0123456789abc"), 10u);
  EXPECT_EQ(tail.bytes, "0123456789");

  // Wide: a partial character is not counted.
  RecordingSink odd(5);
  EXPECT_EQ(FormatToSeq(odd, WTEXT("abcd")), 2u);
}

}  // namespace
}  // namespace tarvixlib

namespace tarvixlib {
namespace {

// Random formats of integer, character and unknown conversions with any
// flags, widths (up to beyond the scratch buffer) and sizes: every output
// mode must give the same text, a fixed buffer its prefix, and a stream
// exactly what it accepted.
template <typename CharT>
void CheckModesAgree(std::mt19937& random) {
  static const char* const kPieces[] = {"%", "%", "%", "-", "+", " ", "#", "0", "1", "7", "15", "1100",
                                        ".", ".3", "*", ".*", "h", "l", "ll", "I64", "I32", "I", "z",
                                        "d", "i", "u", "x", "X", "o", "D", "U", "O", "c", "y", "n", "ab"};
  std::basic_string<CharT> format;
  int pieces = 1 + static_cast<int>(random() % 24);
  for (int i = 0; i < pieces; ++i)
    for (const char* p = kPieces[random() % (sizeof(kPieces) / sizeof(kPieces[0]))]; *p; ++p)
      format += static_cast<CharT>(*p);
  // Every argument is a 64-bit slot holding a value that also reads well as
  // 32 bits (the x64 calling conventions put each in its own 8-byte slot);
  // "*" takes them as widths of up to +-1500.
  long long a[16];
  for (long long& v : a) v = static_cast<long long>(random() % 3001) - 1500;
  auto run = [&](auto&& call) {
    return call(format.c_str(), a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11],
                a[12], a[13], a[14], a[15]);
  };

  CMyStringT<CharT> heap;
  int length = run([&](const CharT* f, auto... args) { return heap.Format(f, args...); });
  std::basic_string<CharT> full(heap.GetString(), static_cast<size_t>(length));
  ASSERT_EQ(run([](const CharT* f, auto... args) { return FormatLength(f, args...); }), full.size())
      << Escaped(WString(format.begin(), format.end()));

  size_t size = 1 + random() % (full.size() + 2);
  std::vector<CharT> buffer(size);
  int written = run([&](const CharT* f, auto... args) { return FormatToBuffer(buffer.data(), size, f, args...); });
  ASSERT_EQ(static_cast<size_t>(written), std::min(size - 1, full.size()));
  ASSERT_TRUE(std::basic_string<CharT>(buffer.data()) == full.substr(0, static_cast<size_t>(written)) ||
              full.find(CharT(0)) != std::basic_string<CharT>::npos);  // "%c" of 0 ends the C string early

  size_t limit = random() % (full.size() * sizeof(CharT) + 2);
  RecordingSink sink(limit);
  size_t accepted = run([&](const CharT* f, auto... args) { return FormatToSeq(sink, f, args...); });
  ASSERT_EQ(accepted, std::min(limit, full.size() * sizeof(CharT)) / sizeof(CharT));
  ASSERT_EQ(sink.bytes.substr(0, accepted * sizeof(CharT)),
            std::string(reinterpret_cast<const char*>(full.data()), accepted * sizeof(CharT)));
}

TEST(MyPrintf, AllModesAgreeOnRandomFormats) {
  std::mt19937 random(1210);
  for (int i = 0; i < 1500; ++i) {
    CheckModesAgree<char>(random);
    CheckModesAgree<WChar>(random);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace tarvixlib
