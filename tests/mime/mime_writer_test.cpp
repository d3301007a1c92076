// The MIME document model: header tables and their order, the encoding
// table and choice, header folding, parameters, multipart construction and
// the exact bytes of whole documents.
#include "mime/mimemail.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/textconv.h"
#include "mimedecode.h"

namespace tarvixlib {
namespace {

std::string Contents(CMyStreamBuf& s) {
  s.FlushWriteBuffer();
  std::string out(static_cast<size_t>(s.Size()), '\0');
  s.Seek(0, nullptr, 0);
  EXPECT_EQ(s.Read(&out[0], out.size()), out.size());
  return out;
}

std::string Written(CMimeMail& mail) {
  CMyStreamBuf out;
  EXPECT_TRUE(mail.WriteMime(out));
  return Contents(out);
}

std::string Written(CMimePart& part) {
  CMyStreamBuf out;
  EXPECT_TRUE(part.WriteMime(out));
  return Contents(out);
}

std::string Folded(const char* name, const char* value) {
  CMyStreamBuf out;
  EXPECT_TRUE(WriteFoldedHeader(out, name, value));
  return Contents(out);
}

void SetBody(CMimePartFile* part, const std::string& body) {
  ASSERT_NE(part->DataStream(), nullptr);
  ASSERT_EQ(part->DataStream()->Write(body.data(), body.size()), body.size());
}

// A text part (as NewTextPart makes it) holding `body`.
CMimePartFile* TextPart(CMimeMail& mail, const std::string& body) {
  CMimePartFile* part = mail.NewTextPart(nullptr);
  EXPECT_NE(part, nullptr);
  if (part) SetBody(part, body);
  return part;
}

// The header lines of a text part: the transfer encoding comes first
// (bucket 250 before 982).
const std::string kTextHeaders =
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n"
    "\r\n";

std::string Repeat(char c, size_t n) { return std::string(n, c); }

// The bucket of a header name computed from the rule itself: h = h * 33 + c
// over the bytes taken as signed, a-z and bytes 0xE0 and up shifted down by
// 32, then plus the length; 64 bits, wrapping.
uint32_t BucketByRule(const std::string& name) {
  uint64_t h = 0;
  for (char ch : name) {
    auto u = static_cast<unsigned char>(ch);
    if ((u >= 'a' && u <= 'z') || u >= 224) u = static_cast<unsigned char>(u - 32);
    h = h * 33 + static_cast<uint64_t>(static_cast<int64_t>(static_cast<signed char>(u)));
  }
  h += name.size();
  return static_cast<uint32_t>(h & 1023);
}

// ---- header table ----

TEST(MimeHeaderTable, BucketFollowsTheNameHash) {
  CMimeHeaderTable table;
  EXPECT_EQ(table.Core().BucketCount(), 1024u);
  EXPECT_EQ(table.Core().BucketOf("Content-Transfer-Encoding"), 250u);
  EXPECT_EQ(table.Core().BucketOf("Content-Type"), 982u);
  for (const char* name : {"Content-Type", "content-type", "X-Mailer", "Subject", "\xE9t\xE9",
                           "\xC9T\xC9", "Content-Disposition", "MIME-Version", "a", ""}) {
    EXPECT_EQ(table.Core().BucketOf(name), BucketByRule(name)) << name;
  }
}

// Buckets ascending; inside a bucket the newest entry first; a header set
// again keeps its place.
TEST(MimeHeaderTable, VisitingOrder) {
  std::map<uint32_t, std::string> seen;
  std::string first, second;
  for (int i = 0; second.empty(); ++i) {
    std::string name = "X-H" + std::to_string(i);
    auto it = seen.find(BucketByRule(name));
    if (it != seen.end()) {
      first = it->second;
      second = name;
    } else {
      seen[BucketByRule(name)] = name;
    }
  }
  CMimeHeaderTable table;
  ASSERT_TRUE(table.SetHeader("Content-Type", nullptr, "text/plain"));
  ASSERT_TRUE(table.SetHeader(first.c_str(), nullptr, "1"));
  ASSERT_TRUE(table.SetHeader(second.c_str(), nullptr, "2"));
  ASSERT_TRUE(table.SetHeader("Content-Transfer-Encoding", nullptr, "base64"));
  ASSERT_TRUE(table.SetHeader(first.c_str(), nullptr, "again"));  // keeps its place

  std::vector<std::string> order;
  for (CMyHashEntry* e = table.First(); e; e = table.Next(e))
    order.push_back(CMimeHeaderTable::ValueOf(e)->Name());
  std::vector<std::string> expected = {"Content-Transfer-Encoding", "Content-Type"};
  size_t at = BucketByRule(first) < 250 ? 0 : BucketByRule(first) < 982 ? 1 : 2;
  expected.insert(expected.begin() + at, {second, first});
  EXPECT_EQ(order, expected);
  EXPECT_STREQ(table.GetHeader(first.c_str(), nullptr, nullptr), "again");
}

TEST(MimeHeaderTable, SetAndGetHeaderAndParameters) {
  CMimeHeaderTable table;
  EXPECT_FALSE(table.SetHeader(nullptr, nullptr, "x"));
  EXPECT_STREQ(table.GetHeader("Content-Type", nullptr, "dflt"), "dflt");

  // A parameter alone creates the header with an empty value.
  ASSERT_TRUE(table.SetHeader("content-type", "Charset", "us-ascii"));
  EXPECT_STREQ(table.GetHeader("CONTENT-TYPE", nullptr, "dflt"), "");
  EXPECT_STREQ(table.GetHeader("Content-Type", "charset", "dflt"), "us-ascii");
  EXPECT_STREQ(table.Find("Content-Type")->Name(), "content-type") << "first spelling kept";

  // The value leaves the parameters alone and the other way round.
  ASSERT_TRUE(table.SetHeader("Content-Type", nullptr, "text/html"));
  ASSERT_TRUE(table.SetHeader("Content-Type", "charset", "utf-8"));
  EXPECT_STREQ(table.GetHeader("Content-Type", nullptr, nullptr), "text/html");
  EXPECT_STREQ(table.GetHeader("Content-Type", "CHARSET", nullptr), "utf-8");
  EXPECT_STREQ(table.GetHeader("Content-Type", "format", "dflt"), "dflt");
  EXPECT_EQ(table.Count(), 1u);
  ASSERT_NE(table.Find("Content-Type")->Parameters(), nullptr);
  EXPECT_EQ(table.Find("Content-Type")->Parameters()->Count(), 1u);
  EXPECT_EQ(table.Find("Content-Type")->Parameters()->Core().BucketCount(), 1024u)
      << "parameters are visited in the order of a 1024-bucket table";
}

TEST(MimeEncoding, NameTable) {
  struct {
    const char* value;
    int index;
  } cases[] = {
      {nullptr, 3},  // absent counts as 7BIT
      {"base64", 0},
      {"BASE64", 0},
      {"Base64; x", 0},  // the beginning of the value decides
      {"quoted-printable", 1},
      {"Quoted-Printable", 1},
      {"8bit", 2},
      {"7BIT", 3},
      {"binary", 4},
      {"x-uuencode", 5},
      {"uuencode", 5},  // the seventh name reports the index of the sixth
      {"UUENCODE-ish", 5},
      {"base6", -1},
      {" base64", -1},
      {"", -1},
      {"x-token", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MimeEncodingOf(c.value), c.index) << (c.value ? c.value : "(absent)");
    CMimePartFile part(true, nullptr);
    if (c.value) part.SetHeader("Content-Transfer-Encoding", nullptr, c.value);
    EXPECT_EQ(part.GetEncoding(), c.index) << (c.value ? c.value : "(absent)");
  }
}

// The three fields of a boundary, or false when it has another shape:
// upper-case hex without leading zeros.
bool BoundaryFields(const std::string& text, uint32_t fields[3]) {
  const std::string prefix = "----=_NextPart_";
  if (text.rfind(prefix, 0) != 0) return false;
  size_t pos = prefix.size();
  for (int i = 0; i < 3; ++i) {
    size_t end = i < 2 ? text.find('_', pos) : text.size();
    if (end == std::string::npos || end == pos || end - pos > 8) return false;
    std::string hex = text.substr(pos, end - pos);
    if (hex.find_first_not_of("0123456789ABCDEF") != std::string::npos) return false;
    if (hex.size() > 1 && hex[0] == '0') return false;
    fields[i] = static_cast<uint32_t>(std::stoul(hex, nullptr, 16));
    pos = end + 1;
  }
  return true;
}

TEST(MimeBoundary, FormatAndCounter) {
  uint32_t a[3], b[3];
  CMyStringA first = MakeBoundary();
  CMyStringA second = MakeBoundary();
  ASSERT_TRUE(BoundaryFields(first.GetString(), a)) << first.GetString();
  ASSERT_TRUE(BoundaryFields(second.GetString(), b)) << second.GetString();
  EXPECT_EQ(b[2], a[2] + 1) << "the counter goes up by one per boundary";
  auto now = static_cast<uint32_t>(static_cast<uint64_t>(std::time(nullptr)));
  EXPECT_LE(now - a[0], 5u) << "seconds since 1970";
  auto ticks = static_cast<uint32_t>(platform::TickCountMs());
  EXPECT_LE(ticks - a[1], 5000u) << "the millisecond tick count";
}

// ---- folding ----

TEST(MimeFolding, GoldenTable) {
  struct {
    const char* label;
    std::string value;
    std::string out;
    bool absent = false;
  } cases[] = {
      {"absent value", "", "X:\r\n", true},
      {"empty value", "", "X:\r\n"},
      {"short value", "Hello", "X: Hello\r\n"},
      {"semicolon past column 40, blank dropped", Repeat('a', 38) + "; b",
       "X: " + Repeat('a', 38) + ";\r\n\tb\r\n"},
      {"semicolon past column 40, tab dropped", Repeat('a', 38) + ";\tb",
       "X: " + Repeat('a', 38) + ";\r\n\tb\r\n"},
      {"semicolon past column 40, nothing dropped", Repeat('a', 38) + ";b",
       "X: " + Repeat('a', 38) + ";\r\n\tb\r\n"},
      {"semicolon at column 40 stays", Repeat('a', 37) + "; b", "X: " + Repeat('a', 37) + "; b\r\n"},
      {"semicolon as the last character stays", Repeat('a', 60) + ";",
       "X: " + Repeat('a', 60) + ";\r\n"},
      {"blank past column 81 becomes a break", Repeat('a', 79) + " b",
       "X: " + Repeat('a', 79) + "\r\n\tb\r\n"},
      {"tab past column 81 becomes a break", Repeat('a', 79) + "\tb",
       "X: " + Repeat('a', 79) + "\r\n\tb\r\n"},
      {"blank at column 81 stays", Repeat('a', 78) + " b", "X: " + Repeat('a', 78) + " b\r\n"},
      {"blank as the last character stays", Repeat('a', 90) + " ", "X: " + Repeat('a', 90) + " \r\n"},
      {"no semicolon fold inside double quotes", Repeat('a', 45) + " \"x; y\" ; z",
       "X: " + Repeat('a', 45) + " \"x; y\" ;\r\n\tz\r\n"},
      {"single quote after a blank opens a quote", Repeat('a', 45) + " 'x; y' ; z",
       "X: " + Repeat('a', 45) + " 'x; y' ;\r\n\tz\r\n"},
      {"single quote at the start opens a quote", "'" + Repeat('a', 45) + "; y'",
       "X: '" + Repeat('a', 45) + "; y'\r\n"},
      {"apostrophe inside a word opens nothing", Repeat('a', 45) + "n't; y",
       "X: " + Repeat('a', 45) + "n't;\r\n\ty\r\n"},
      {"a double quote is closed only by a double quote", "\"" + Repeat('a', 45) + "'; b\"; c",
       "X: \"" + Repeat('a', 45) + "'; b\";\r\n\tc\r\n"},
      {"no blank fold inside quotes", "\"" + Repeat('a', 100) + " b\"",
       "X: \"" + Repeat('a', 100) + " b\"\r\n"},
      {"line feed resets the column", "x\n" + Repeat('a', 79) + " b",
       "X: x\n" + Repeat('a', 79) + " b\r\n"},
      {"800 rule cuts a long word", Repeat('a', 1000),
       "X: " + Repeat('a', 798) + "\r\n\t" + Repeat('a', 202) + "\r\n"},
      {"800 rule also inside quotes", "\"" + Repeat('a', 1000) + "\"",
       "X: \"" + Repeat('a', 797) + "\r\n\t" + Repeat('a', 203) + "\"\r\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Folded("X", c.absent ? nullptr : c.value.c_str()), c.out) << c.label;
}

// A realistic transport header: the blank at column 81 stays, the one at
// 91 becomes the break, and the semicolon at column 20 of the new line stays.
TEST(MimeFolding, ReceivedHeader) {
  std::string value =
      "from mail.example.org (mail.example.org [192.0.2.10]) by mx.example.net "
      "(Postfix) with ESMTPS id 4F2A1; Mon, 1 Jan 2024 10:00:00 +0000";
  EXPECT_EQ(Folded("Received", value.c_str()),
            "Received: from mail.example.org (mail.example.org [192.0.2.10]) by "
            "mx.example.net (Postfix)\r\n\twith ESMTPS id 4F2A1; Mon, 1 Jan 2024 10:00:00 "
            "+0000\r\n");
}

// ---- parts and documents ----

TEST(MimeDocument, OneTextPart) {
  CMimeMail mail;
  ASSERT_TRUE(mail.AddHeader("Subject", "Hi", false));
  ASSERT_TRUE(mail.AddHeader("To", "b@example.net", false));
  ASSERT_TRUE(mail.AddHeader("From", "a@example.org", true));
  ASSERT_TRUE(mail.AddRawLine("X-Raw line"));
  CMimePartFile* part = TextPart(mail, "Hello = world\r\n");
  ASSERT_TRUE(mail.AddPart(part, false));
  EXPECT_EQ(mail.Root(), part);
  EXPECT_EQ(part->Parent(), nullptr);
  EXPECT_EQ(Written(mail),
            "X-Raw line\r\n"
            "From: a@example.org\r\n"
            "Subject: Hi\r\n"
            "To: b@example.net\r\n" +
                kTextHeaders + "Hello =3D world\r\n");
}

TEST(MimeDocument, HeadersOnlyAndTopLevelContentHeadersAreFolded) {
  CMimeMail mail;
  std::string type = Repeat('x', 40) + "; charset=a";
  ASSERT_TRUE(mail.AddHeader("Content-Type", type.c_str(), false));
  ASSERT_TRUE(mail.AddHeader("X-Empty", nullptr, false));
  EXPECT_FALSE(mail.AddHeader(nullptr, "v", false));
  EXPECT_EQ(mail.HeaderCount(), 2u);
  EXPECT_EQ(Written(mail), "Content-Type: " + Repeat('x', 40) + ";\r\n\tcharset=a\r\nX-Empty:\r\n");
}

TEST(MimeDocument, NewTextPart) {
  CMimeMail mail;
  CMimePartMulti parent;
  std::unique_ptr<CMimePartFile> part(mail.NewTextPart(&parent));
  ASSERT_NE(part, nullptr);
  EXPECT_FALSE(part->IsContainer());
  EXPECT_FALSE(part->IsMessageObject());
  EXPECT_TRUE(part->OwnsStream());
  EXPECT_NE(dynamic_cast<CMyStreamBuf*>(part->DataStream()), nullptr);
  EXPECT_EQ(part->Parent(), &parent);
  EXPECT_STREQ(part->GetHeader("Content-Type", nullptr, nullptr), "text/plain");
  EXPECT_STREQ(part->GetHeader("Content-Type", "charset", nullptr), "iso-8859-1");
  EXPECT_STREQ(part->GetHeader("Content-Transfer-Encoding", nullptr, nullptr), "quoted-printable");
  EXPECT_EQ(part->Headers().Count(), 2u);
}

// Adding a second part wraps the first into a multipart with a fresh
// boundary; front decides where the new part goes.
TEST(MimeDocument, SecondPartWrapsTheFirst) {
  for (bool front : {false, true}) {
    CMimeMail mail;
    ASSERT_TRUE(mail.AddHeader("Subject", "Two", false));
    CMimePartFile* one = TextPart(mail, "one");
    CMimePartFile* two = TextPart(mail, "two");
    two->SetHeader("Content-Type", nullptr, "text/html");
    ASSERT_TRUE(mail.AddPart(one, false));
    ASSERT_TRUE(mail.AddPart(two, front));
    ASSERT_TRUE(mail.Root()->IsContainer());
    auto* root = static_cast<CMimePartMulti*>(mail.Root());
    EXPECT_EQ(root->Parent(), nullptr);
    EXPECT_EQ(one->Parent(), root);
    EXPECT_EQ(two->Parent(), root);
    ASSERT_EQ(root->Children().Count(), 2u);
    EXPECT_EQ(CMyPtrListT<CMimePart>::DataOf(root->Children().Head()), front ? two : one);
    EXPECT_STREQ(root->GetHeader("Content-Type", nullptr, nullptr), "multipart/mixed");
    std::string b = root->GetHeader("Content-Type", "boundary", "");
    EXPECT_EQ(b.rfind("----=_NextPart_", 0), 0u) << b;

    std::string partOne = kTextHeaders + "one";
    std::string partTwo =
        "Content-Transfer-Encoding: quoted-printable\r\n"
        "Content-Type: text/html; charset=\"iso-8859-1\"\r\n\r\ntwo";
    EXPECT_EQ(Written(mail), "Subject: Two\r\n"
                             "Content-Type: multipart/mixed; boundary=\"" + b + "\"\r\n"
                             "\r\n"
                             "This is a multi-part message in MIME format.\r\n"
                             "\r\n--" + b + "\r\n" + (front ? partTwo : partOne) +
                             "\r\n--" + b + "\r\n" + (front ? partOne : partTwo) +
                             "\r\n--" + b + "--\r\n");
  }
}

TEST(MimeDocument, ThirdPartAndBadParts) {
  CMimeMail mail;
  EXPECT_FALSE(mail.AddPart(nullptr, false));
  CMimePartFile* one = TextPart(mail, "1");
  ASSERT_TRUE(mail.AddPart(one, false));
  EXPECT_FALSE(mail.AddPart(one, false)) << "the root cannot be added again";
  ASSERT_TRUE(mail.AddPart(TextPart(mail, "2"), false));
  CMimePart* wrapper = mail.Root();
  ASSERT_TRUE(mail.AddPart(TextPart(mail, "3"), true));
  EXPECT_EQ(mail.Root(), wrapper) << "a container root is not wrapped again";
  EXPECT_EQ(static_cast<CMimePartMulti*>(wrapper)->Children().Count(), 3u);
}

// A container inside the root writes no preamble; boundaries differ.
TEST(MimeDocument, NestedMultipart) {
  CMimeMail mail;
  auto* inner = new CMimePartMulti(TextPart(mail, "in"));
  ASSERT_TRUE(mail.AddPart(TextPart(mail, "out"), false));
  ASSERT_TRUE(mail.AddPart(inner, false));
  auto* root = static_cast<CMimePartMulti*>(mail.Root());
  std::string ob = root->GetHeader("Content-Type", "boundary", "");
  std::string ib = inner->GetHeader("Content-Type", "boundary", "");
  EXPECT_NE(ob, ib);
  EXPECT_EQ(inner->Parent(), root);
  std::string text = Written(mail);
  EXPECT_EQ(text,
            "Content-Type: multipart/mixed; boundary=\"" + ob + "\"\r\n\r\n"
            "This is a multi-part message in MIME format.\r\n"
            "\r\n--" + ob + "\r\n" + kTextHeaders + "out" +
            "\r\n--" + ob + "\r\n"
            "Content-Type: multipart/mixed; boundary=\"" + ib + "\"\r\n\r\n"
            "\r\n--" + ib + "\r\n" + kTextHeaders + "in" +
            "\r\n--" + ib + "--\r\n"
            "\r\n--" + ob + "--\r\n");
}

// Content headers come first with their parameters; the n <= 75 rule
// decides where a parameter goes; other headers of a part are folded.
TEST(MimePart, ContentHeadersAndParameters) {
  CMimePartFile part(true, new CMyStreamBuf());
  // "Content-Type: " is 14 characters: with 56 more, n is 70, then 77.
  std::string type = Repeat('t', 56);
  part.SetHeader("Content-Type", nullptr, type.c_str());
  part.SetHeader("Content-Type", "a", "1");
  part.SetHeader("Content-Type", "b", "2");
  part.SetHeader("Content-Type", "c", "3");
  part.SetHeader("Content-Transfer-Encoding", nullptr, "x-token");
  std::string note = Repeat('n', 38) + "; more";
  part.SetHeader("A-Note", nullptr, note.c_str());  // bucket before both content headers
  ASSERT_LT(BucketByRule("A-Note"), 250u);
  EXPECT_EQ(Written(part), "Content-Transfer-Encoding: x-token\r\n"
                           "Content-Type: " + type + "; a=\"1\";\r\n\tb=\"2\"; c=\"3\"\r\n"
                           "A-Note: " + Repeat('n', 38) + ";\r\n\tmore\r\n"
                           "\r\n");
}

TEST(MimePart, ParameterAtColumn75StaysOnTheLine) {
  CMimePartFile part(true, nullptr);
  std::string type = Repeat('t', 61);  // n = 75
  part.SetHeader("Content-Type", nullptr, type.c_str());
  part.SetHeader("Content-Type", "a", "1");
  part.SetHeader("Content-Type", "b", "2");
  EXPECT_EQ(Written(part), "Content-Transfer-Encoding: quoted-printable\r\n"
                           "Content-Type: " + type + "; a=\"1\";\r\n\tb=\"2\"\r\n\r\n");
}

// The encoding chosen from Content-Type and Content-Transfer-Encoding.
TEST(MimePart, EncodingChoice) {
  struct {
    const char* type;      // null: no Content-Type
    const char* encoding;  // null: no Content-Transfer-Encoding
    const char* written;   // the Content-Transfer-Encoding written; null: none
    std::string body;      // of the data "a=b\xFF"
  } cases[] = {
      {"text/plain", "quoted-printable", "quoted-printable", "a=3Db=FF"},
      {"text/plain", "8bit", "quoted-printable", "a=3Db=FF"},
      {"text/plain", "7bit", "quoted-printable", "a=3Db=FF"},
      {"text/plain", nullptr, "quoted-printable", "a=3Db=FF"},
      {"text/plain", "BASE64", "base64", "YT1i/w==\r\n"},
      {"application/octet-stream", "binary", "base64", "YT1i/w==\r\n"},
      {nullptr, "binary", "base64", "YT1i/w==\r\n"},
      {"text/plain", "x-uuencode", "x-uuencode", "a=b\xFF"},
      {"text/plain", "x-token", "x-token", "a=b\xFF"},
      {"message/rfc822", "8bit", "8bit", "a=b\xFF"},
      {"message/rfc822", nullptr, nullptr, "a=b\xFF"},
      {"Message/partial", "binary", "binary", "a=b\xFF"},
      {"MESSAGE/rfc822", "base64", "base64", "YT1i/w==\r\n"},
      {"message/rfc822", "Quoted-Printable", "Quoted-Printable", "a=3Db=FF"},
      {"text/rfc822-headers", "7bit", "7bit", "a=b\xFF"},
      {"text/rfc82", "7bit", "quoted-printable", "a=3Db=FF"},
  };
  for (const auto& c : cases) {
    CMimePartFile part(true, new CMyStreamBuf());
    SetBody(&part, "a=b\xFF");
    if (c.type) part.SetHeader("Content-Type", nullptr, c.type);
    if (c.encoding) part.SetHeader("Content-Transfer-Encoding", nullptr, c.encoding);
    std::string expected;
    if (c.written) expected += std::string("Content-Transfer-Encoding: ") + c.written + "\r\n";
    if (c.type) expected += std::string("Content-Type: ") + c.type + "\r\n";
    expected += "\r\n" + c.body;
    EXPECT_EQ(Written(part), expected) << (c.type ? c.type : "-") << " / "
                                       << (c.encoding ? c.encoding : "-");
  }
}

// A stream that hands out at most 7 bytes per read, as a file or pipe may.
class TrickleStream : public CMyStreamBuf {
public:
  size_t Read(void* buffer, size_t length) override {
    return CMyStreamBuf::Read(buffer, length < 7 ? length : 7);
  }
};

// Bodies larger than one piece of the writer, data written through a write
// buffer and left pending, data read back in short pieces: the decoded
// body is the data, whole.
TEST(MimePart, LargeAndTrickledBodiesDecodeWhole) {
  std::string data;
  for (size_t i = 0; data.size() < 200000; ++i) {
    data += "line " + std::to_string(i) + " =\xE9 ";
    data += (i % 5 == 0) ? "\r" : "\r\n";
  }
  for (const char* encoding : {"base64", "quoted-printable"}) {
    for (bool trickle : {false, true}) {
      CMyStream* stream = trickle ? new TrickleStream() : new CMyStreamBuf();
      CMimePartFile part(true, stream);
      ASSERT_TRUE(stream->SetBuffering(CMyStream::kWriteBuffer, 0, 4096));
      ASSERT_EQ(stream->WriteBuffered(data.data(), data.size()), data.size());
      part.SetHeader("Content-Type", nullptr, "application/octet-stream");
      part.SetHeader("Content-Transfer-Encoding", nullptr, encoding);
      std::string text = Written(part);
      size_t start = text.find("\r\n\r\n");
      ASSERT_NE(start, std::string::npos);
      std::string body = text.substr(start + 4), back, why;
      bool ok = encoding[0] == 'b' ? mimetest::DecodeBase64Body(body, &back, &why)
                                   : mimetest::DecodeQpBody(body, &back, &why);
      ASSERT_TRUE(ok) << encoding << " trickle " << trickle << ": " << why;
      EXPECT_TRUE(back == data) << encoding << " trickle " << trickle << ": " << back.size()
                                << " of " << data.size() << " bytes";
      // Written twice: the data stream is rewound each time.
      EXPECT_EQ(Written(part), text);
    }
  }
}

TEST(MimePart, NoDataStreamWritesAnEmptyBody) {
  CMimePartFile part(true, nullptr);
  part.SetHeader("Content-Type", nullptr, "text/plain");
  EXPECT_EQ(Written(part), "Content-Transfer-Encoding: quoted-printable\r\nContent-Type: text/plain\r\n\r\n");
}

// A stream that reports its destruction.
class TrackedStream : public CMyStreamBuf {
public:
  explicit TrackedStream(bool* destroyed) : destroyed_(destroyed) {}
  ~TrackedStream() override { *destroyed_ = true; }

private:
  bool* destroyed_;
};

TEST(MimePart, StreamOwnership) {
  bool ownedGone = false, borrowedGone = false, replacedGone = false;
  TrackedStream borrowed(&borrowedGone);
  {
    CMimeMail mail;
    auto* owning = new CMimePartFile(true, new TrackedStream(&replacedGone));
    owning->SetDataStream(new TrackedStream(&ownedGone));
    EXPECT_TRUE(replacedGone) << "an owned stream is deleted when replaced";
    ASSERT_TRUE(mail.AddPart(owning, false));
    ASSERT_TRUE(mail.AddPart(new CMimePartFile(false, &borrowed), false));
    EXPECT_FALSE(ownedGone);
  }
  EXPECT_TRUE(ownedGone) << "the document deletes its parts and their streams";
  EXPECT_FALSE(borrowedGone) << "a borrowed stream stays";
}

// A stream that refuses data makes the write fail instead of reporting a
// complete document.
TEST(MimeDocument, RefusedOutputIsReported) {
  CMimeMail mail;
  ASSERT_TRUE(mail.AddHeader("Subject", "x", false));
  ASSERT_TRUE(mail.AddPart(TextPart(mail, Repeat('x', 5000)), false));
  ASSERT_TRUE(mail.AddPart(TextPart(mail, "y"), false));
  size_t full = Written(mail).size();
  for (uint64_t limit : {uint64_t{0}, uint64_t{10}, uint64_t{200}, uint64_t{full - 1}}) {
    CMyStreamBuf out(32768, limit);
    EXPECT_FALSE(mail.WriteMime(out)) << limit;
  }
  CMyStreamBuf exact(32768, full);
  EXPECT_TRUE(mail.WriteMime(exact));
}

TEST(MimeDocument, CreateDataStream) {
  for (const char* name : {"", ":mem", ":MEM"}) {
    CMimeMail mail;
    mail.SetStorageName(name);
    std::unique_ptr<CMyStream> s(mail.CreateDataStream());
    EXPECT_NE(dynamic_cast<CMyStreamBuf*>(s.get()), nullptr) << name;
  }
  WChar temp[260];
  ASSERT_TRUE(platform::GetTempDirectory(temp, 260));
  CMyStringA dir;
  ASSERT_TRUE(dir.AssignAnsiFromWide(temp));
  CMimeMail mail;
  mail.SetStorageName((std::string(":") + dir.GetString()).c_str());
  std::unique_ptr<CMyStream> s(mail.CreateDataStream());
  auto* mixed = dynamic_cast<CMyStreamMixed*>(s.get());
  ASSERT_NE(mixed, nullptr);
  std::string block(CMimeMail::kMemoryThreshold, 'm');
  ASSERT_EQ(mixed->Write(block.data(), block.size()), block.size());
  EXPECT_TRUE(mixed->IsInMemory()) << "up to the threshold in memory";
  ASSERT_EQ(mixed->Write("x", 1), 1u);
  EXPECT_FALSE(mixed->IsInMemory()) << "past it in a file";
  CMyStringA file;
  ASSERT_TRUE(file.AssignAnsiFromWide(mixed->FileName()));
  EXPECT_EQ(std::string(file.GetString()).rfind(dir.GetString(), 0), 0u) << file.GetString();
}

}  // namespace
}  // namespace tarvixlib
