// The transfer encoders on their own: golden tables, the literal set, the
// line rules, and step-wise encoding that must equal one-shot encoding.
#include "mime/mimeencode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "mimedecode.h"

namespace tarvixlib {
namespace {

std::string Base64(const std::string& in) {
  std::string out(CMimeBase64::EncodedSize(in.size()), '?');
  size_t n = CMimeBase64::Encode(reinterpret_cast<const uint8_t*>(in.data()), in.size(), &out[0]);
  EXPECT_EQ(n, out.size()) << "EncodedSize disagrees with Encode";
  out.resize(n);
  return out;
}

// Quoted-printable of `in`, fed to the encoder in steps of `step` bytes.
std::string Qp(const std::string& in, size_t step = 0) {
  if (step == 0) step = in.size() ? in.size() : 1;
  CMimeQuotedPrintable qp;
  std::string out;
  std::vector<char> buffer;
  for (size_t pos = 0; pos < in.size(); pos += step) {
    size_t n = std::min(step, in.size() - pos);
    buffer.resize(CMimeQuotedPrintable::MaxStepOutput(n));
    size_t got = qp.Step(reinterpret_cast<const uint8_t*>(in.data()) + pos, n, buffer.data());
    EXPECT_LE(got, buffer.size());
    out.append(buffer.data(), got);
  }
  buffer.resize(CMimeQuotedPrintable::kMaxFinishOutput);
  out.append(buffer.data(), qp.Finish(buffer.data()));
  return out;
}

std::string Repeat(char c, size_t n) { return std::string(n, c); }

std::string PseudoRandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

struct Case {
  const char* label;
  std::string in;
  std::string out;
};

// RFC 4648 section 10 vectors, plus the line rules: 57 bytes fill one line
// of 76 characters exactly.
TEST(MimeBase64, GoldenTable) {
  const std::string b57 = Repeat('\0', 57);
  const Case cases[] = {
      {"empty writes nothing", "", ""},
      {"rfc4648 f", "f", "Zg==\r\n"},
      {"rfc4648 fo", "fo", "Zm8=\r\n"},
      {"rfc4648 foo", "foo", "Zm9v\r\n"},
      {"rfc4648 foob", "foob", "Zm9vYg==\r\n"},
      {"rfc4648 fooba", "fooba", "Zm9vYmE=\r\n"},
      {"rfc4648 foobar", "foobar", "Zm9vYmFy\r\n"},
      {"all bits", "\xFF\xFF\xFF\xFB\xEF\xBE", "////++++\r\n"},
      {"57 bytes: one full line", b57, Repeat('A', 76) + "\r\n"},
      {"58 bytes: full line and a padded one", b57 + "\xFF",
       Repeat('A', 76) + "\r\n" + "/w==\r\n"},
      {"114 bytes: two full lines", b57 + b57, Repeat('A', 76) + "\r\n" + Repeat('A', 76) + "\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(Base64(c.in), c.out) << c.label;
}

// Every length around the line and group boundaries decodes back, with
// the strict decoder checking the line layout.
TEST(MimeBase64, RoundTripsEveryLengthUpTo300) {
  const std::string data = PseudoRandomBytes(300, 7);
  for (size_t n = 0; n <= data.size(); ++n) {
    std::string in = data.substr(0, n), back, why;
    ASSERT_TRUE(mimetest::DecodeBase64Body(Base64(in), &back, &why)) << n << ": " << why;
    EXPECT_EQ(back, in) << n;
  }
}

TEST(MimeQuotedPrintable, GoldenTable) {
  const Case cases[] = {
      {"equals sign", "a=b", "a=3Db"},
      {"blank before CR LF", "a \r\nb", "a=20\r\nb"},
      {"tab before CR LF", "a\t\r\nb", "a=09\r\nb"},
      {"blank before a lone LF", "a \nb", "a=20=0Ab"},
      {"blank before a lone CR", "a \rb", "a=20=0Db"},
      {"blank inside a line", "a b\tc", "a b\tc"},
      {"lone CR", "a\rb", "a=0Db"},
      {"lone LF", "a\nb", "a=0Ab"},
      {"CR before CR LF", "\r\r\n", "=0D\r\n"},
      {"LF CR is not a line break", "\n\r", "=0A=0D"},
      {"hard breaks", "a\r\n\r\nb\r\n", "a\r\n\r\nb\r\n"},
      {"8-bit bytes", "\xE9t\xE9\x80\xFF", "=E9t=E9=80=FF"},
      {"control bytes and DEL", std::string("\x00\x01\x1F\x7F", 4), "=00=01=1F=7F"},
      {"literal punctuation", "%&'(*+,-./:;<>?_", "%&'(*+,-./:;<>?_"},
      {"encoded punctuation", "!\"#$)=@[\\]^`{|}~", "=21=22=23=24=29=3D=40=5B=5C=5D=5E=60=7B=7C=7D=7E"},
      {"100 letters break after 75", Repeat('x', 100), Repeat('x', 75) + "=\r\n" + Repeat('x', 25)},
      {"75 letters fit one line", Repeat('x', 75), Repeat('x', 75)},
      {"76th letter moves on", Repeat('x', 76), Repeat('x', 75) + "=\r\nx"},
      {"escape at column 72 still fits", Repeat('x', 72) + "=", Repeat('x', 72) + "=3D"},
      {"escape at column 73 moves on", Repeat('x', 73) + "=", Repeat('x', 73) + "=\r\n=3D"},
      {"25 escapes fit one line, the 26th moves on", Repeat('\xFF', 26),
       [] {
         std::string s;
         for (int i = 0; i < 25; ++i) s += "=FF";
         return s + "=\r\n=FF";
       }()},
      {"a hard break resets the column", Repeat('x', 70) + "\r\n" + Repeat('x', 70),
       Repeat('x', 70) + "\r\n" + Repeat('x', 70)},
      // A decoder drops white space at the end of the body as it does at
      // the end of a line, so it is encoded there as well.
      {"blank at the end of the data", "a ", "a=20"},
      {"tab at the end of the data", "a\t", "a=09"},
  };
  for (const Case& c : cases) EXPECT_EQ(Qp(c.in), c.out) << c.label;
}

// The literal set byte by byte.
TEST(MimeQuotedPrintable, LiteralSet) {
  const std::string literal = "\t %&'(*+,-./:;<>?_0123456789"
                              "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  for (int c = 0; c < 256; ++c) {
    bool expected = literal.find(static_cast<char>(c)) != std::string::npos;
    EXPECT_EQ(CMimeQuotedPrintable::IsLiteral(static_cast<uint8_t>(c)), expected) << c;
    std::string one(1, static_cast<char>(c));
    char hex[4];
    std::snprintf(hex, sizeof hex, "=%02X", c);
    // A lone blank or tab is the last byte of the data, hence encoded.
    bool literalAlone = expected && c != ' ' && c != '\t';
    EXPECT_EQ(Qp(one), literalAlone ? one : std::string(hex)) << c;
  }
}

// Text with every kind of byte, split into steps of every small size and
// at every position of a CR LF pair: the output never depends on the split.
TEST(MimeQuotedPrintable, StepsEqualOneShot) {
  std::mt19937 rng(11);
  const char alphabet[] = "ab =\t\r\n\r\n\xE9.";
  std::string in;
  for (int i = 0; i < 2000; ++i) in += alphabet[rng() % (sizeof alphabet - 1)];
  const std::string whole = Qp(in);
  std::string back, why;
  ASSERT_TRUE(mimetest::DecodeQpBody(whole, &back, &why)) << why;
  EXPECT_EQ(back, in);
  for (size_t step = 1; step <= 9; ++step) EXPECT_EQ(Qp(in, step), whole) << "step " << step;
  EXPECT_EQ(Qp("ab\r\ncd", 3), "ab\r\ncd") << "CR LF split between steps";
  EXPECT_EQ(Qp("ab \r\ncd", 3), "ab=20\r\ncd") << "blank held across a step";
}

// Random binary and random text decode back and keep the line rules.
TEST(MimeQuotedPrintable, RoundTripsRandomData) {
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    std::string in = PseudoRandomBytes(3000, seed), back, why;
    if (seed % 2) {
      for (char& c : in) c = "x y\r\n=\t"[static_cast<uint8_t>(c) % 7];
    }
    ASSERT_TRUE(mimetest::DecodeQpBody(Qp(in, 97), &back, &why)) << seed << ": " << why;
    EXPECT_EQ(back, in) << seed;
  }
}

}  // namespace
}  // namespace tarvixlib
