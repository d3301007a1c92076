// Documents of the writer read back by software no one here wrote: Python's
// standard email package (tests/mime/email_check.py). Each document is
// written to NAME.eml beside NAME.json, which records what it was built
// from; the script parses the document and compares headers, the part tree
// and the decoded body bytes. Native build only.
#include "mime/mimemail.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "foundation/textconv.h"

#ifndef MIME_EMAIL_CHECK
#error "MIME_EMAIL_CHECK (the script) must be defined"
#endif
#ifndef MIME_PYTHON
#define MIME_PYTHON "python3"
#endif
#ifndef MIME_CHECK_DIR
#error "MIME_CHECK_DIR (the folder for the documents) must be defined"
#endif

namespace tarvixlib {
namespace {

// How a header value is compared after unfolding: "exact"; "ws" where
// folding may turn a blank into a line break and a tab; "nows" where it may
// also break inside a word (the 800-column rule, a ";" with no blank after).
struct Header {
  std::string name, value;
  const char* mode = "exact";
};

// What one part must parse back as.
struct Node {
  std::string type;                                         // content type, lower case
  std::vector<std::pair<std::string, std::string>> params;  // Content-Type parameters
  std::string cte;                                          // expected transfer encoding; "" unchecked
  std::vector<Header> headers;                              // further headers, in order
  std::string body;                                         // leaf: the bytes given
  bool preamble = false;                                    // multipart
  std::vector<Node> children;                               // multipart
  std::vector<Node> message;                                // message/rfc822: the attached message
};

std::string Hex(const std::string& s) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(s.size() * 2);
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

std::string HeadersJson(const std::vector<Header>& headers) {
  std::string out = "[";
  for (size_t i = 0; i < headers.size(); ++i) {
    if (i) out += ",";
    out += "[" + Quote(Hex(headers[i].name)) + "," + Quote(Hex(headers[i].value)) + "," +
           Quote(headers[i].mode) + "]";
  }
  return out + "]";
}

std::string NodeJson(const Node& n) {
  std::string out = "{\"type\":" + Quote(n.type) + ",\"params\":{";
  for (size_t i = 0; i < n.params.size(); ++i) {
    if (i) out += ",";
    out += Quote(n.params[i].first) + ":" + Quote(Hex(n.params[i].second));
  }
  out += "},\"headers\":" + HeadersJson(n.headers);
  if (!n.cte.empty()) out += ",\"cte\":" + Quote(n.cte);
  if (n.type.rfind("multipart/", 0) == 0) {
    out += std::string(",\"preamble\":") + (n.preamble ? "true" : "false") + ",\"children\":[";
    for (size_t i = 0; i < n.children.size(); ++i) out += (i ? "," : "") + NodeJson(n.children[i]);
    out += "]";
  } else if (!n.message.empty()) {
    out += ",\"message\":" + NodeJson(n.message[0]);
  } else {
    out += ",\"body\":" + Quote(Hex(n.body));
  }
  return out + "}";
}

std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// Latin-1 text in lines of random length with every kind of byte the
// quoted-printable rules treat specially.
std::string EightBitText(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  const std::string pieces[] = {"word", " ", "\t", "=", "caf\xe9", "\xff\x80", ".", "!\"#$",
                                "\r\n", " \r\n", "\t\r\n", "\n", "\r", "x=3D", "~{}"};
  std::string s;
  while (s.size() < n) s += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
  return s;
}

// A document and what it must parse back as.
struct Doc {
  CMimeMail mail;
  std::vector<Header> top;
  Node root;

  void AddHeader(const std::string& name, const std::string& value, const char* mode = "exact") {
    ASSERT_TRUE(mail.AddHeader(name.c_str(), value.c_str(), false));
    top.push_back({name, value, mode});
  }
};

// A leaf from the document's data streams: `cte` is set on the part, `want`
// is the transfer encoding the writer must end up with.
CMimePartFile* Leaf(Doc& doc, Node* expect, const std::string& type, const char* cte,
                    const std::string& want, const std::string& body,
                    std::vector<std::pair<std::string, std::string>> params = {}) {
  auto* part = new CMimePartFile(true, doc.mail.CreateDataStream());
  EXPECT_NE(part->DataStream(), nullptr);
  EXPECT_EQ(part->DataStream()->Write(body.data(), body.size()), body.size());
  part->SetHeader("Content-Type", nullptr, type.c_str());
  for (const auto& p : params) part->SetHeader("Content-Type", p.first.c_str(), p.second.c_str());
  if (cte) part->SetHeader("Content-Transfer-Encoding", nullptr, cte);
  expect->type = type;
  expect->params = std::move(params);
  expect->cte = want;
  expect->body = body;
  return part;
}

void CommonHeaders(Doc& doc, const std::string& subject) {
  doc.AddHeader("Return-Path", "<ann@example.org>");
  doc.AddHeader("Received",
                "from mail.example.org (mail.example.org [192.0.2.10]) by mx.example.net "
                "(Postfix) with ESMTPS id 4F2A1 for <bob@example.net>; Mon, 1 Jan 2024 10:00:00 "
                "+0000",
                "ws");
  doc.AddHeader("From", "Ann Example <ann@example.org>");
  doc.AddHeader("To", "Bob Example <bob@example.net>");
  doc.AddHeader("Subject", subject);
  doc.AddHeader("Date", "Mon, 1 Jan 2024 10:00:00 +0000");
  doc.AddHeader("Message-ID", "<20240101100000.4F2A1@example.org>");
  doc.AddHeader("MIME-Version", "1.0");
}

// One text part as the spam check makes it: no multipart, no preamble.
void OnePart(Doc& doc) {
  CommonHeaders(doc, "Caf\xe9 menu for the week");
  std::string body =
      "Hello = world\r\nTrailing blank \r\nTrailing tab\t\r\n" + std::string(40, '-') +
      " a line of words that is much longer than seventy-six characters, so it needs "
      "soft breaks to stay inside the limit\r\ncaf\xe9 na\xefve \x80\xff\r\nlone\nLF and lone\rCR\r\n"
      ".\r\nFrom the start\r\n\r\n\r\nends with a blank ";
  CMimePartFile* part = doc.mail.NewTextPart(nullptr);
  ASSERT_NE(part, nullptr);
  ASSERT_EQ(part->DataStream()->Write(body.data(), body.size()), body.size());
  ASSERT_TRUE(doc.mail.AddPart(part, false));
  doc.root.type = "text/plain";
  doc.root.params = {{"charset", "iso-8859-1"}};
  doc.root.cte = "quoted-printable";
  doc.root.body = body;
}

// A text part and a binary attachment: the second part wraps the first.
void TwoParts(Doc& doc) {
  CommonHeaders(doc, "Two parts");
  Node text, bin;
  CMimePartFile* first = doc.mail.NewTextPart(nullptr);
  ASSERT_NE(first, nullptr);
  std::string see = "See the attachment.\r\n";
  ASSERT_EQ(first->DataStream()->Write(see.data(), see.size()), see.size());
  text.type = "text/plain";
  text.params = {{"charset", "iso-8859-1"}};
  text.cte = "quoted-printable";
  text.body = see;
  CMimePartFile* second = Leaf(doc, &bin, "application/octet-stream", "binary", "base64",
                               RandomBytes(10001, 3), {{"name", "data.bin"}});
  second->SetHeader("Content-Disposition", nullptr, "attachment");
  second->SetHeader("Content-Disposition", "filename", "data.bin");
  std::string note = "a note on the part that is long enough to be folded at one of its blanks "
                     "once it passes the column limit of the writer";
  second->SetHeader("X-Part-Note", nullptr, note.c_str());
  bin.headers = {{"X-Part-Note", note, "ws"}};
  ASSERT_TRUE(doc.mail.AddPart(first, false));
  ASSERT_TRUE(doc.mail.AddPart(second, false));
  doc.root.type = "multipart/mixed";
  doc.root.preamble = true;
  doc.root.children = {text, bin};
}

// A multipart inside the root, an attached message copied as it is, an
// empty body and a part put in front.
void Nested(Doc& doc) {
  CommonHeaders(doc, "Nested");
  Node out, html, png, msg, front, empty;
  CMimePartFile* outer = Leaf(doc, &out, "text/plain", "7bit", "quoted-printable",
                              "outer text\r\n", {{"charset", "us-ascii"}});
  CMimePartFile* h = Leaf(doc, &html, "text/html", "8bit", "quoted-printable",
                          "<p style=\"color: red\">caf\xe9 &amp; cr\xe8me</p>\r\n",
                          {{"charset", "iso-8859-1"}});
  CMimePartFile* p = Leaf(doc, &png, "image/png", "base64", "base64", RandomBytes(3 * 57, 5));
  auto* inner = new CMimePartMulti(h);
  ASSERT_TRUE(inner->AddChild(p, false));
  std::string attached =
      "From: Carl Example <carl@example.com>\r\nSubject: inner\r\n\r\nThe inner body.\r\n";
  CMimePartFile* m = Leaf(doc, &msg, "message/rfc822", "7bit", "7bit", attached);
  Node inside;
  inside.type = "text/plain";
  inside.headers = {{"From", "Carl Example <carl@example.com>"}, {"Subject", "inner"}};
  inside.body = "The inner body.\r\n";
  msg.message = {inside};
  CMimePartFile* f = Leaf(doc, &front, "text/plain", "binary", "base64", "front\r\n");
  CMimePartFile* e = Leaf(doc, &empty, "text/plain", nullptr, "quoted-printable", "");
  ASSERT_TRUE(doc.mail.AddPart(outer, false));
  ASSERT_TRUE(doc.mail.AddPart(inner, false));
  ASSERT_TRUE(doc.mail.AddPart(m, false));
  ASSERT_TRUE(doc.mail.AddPart(e, false));
  ASSERT_TRUE(doc.mail.AddPart(f, true));
  Node in;
  in.type = "multipart/mixed";
  in.children = {html, png};
  doc.root.type = "multipart/mixed";
  doc.root.preamble = true;
  doc.root.children = {front, out, in, msg, empty};
}

// Headers that fold by every rule, and a part with many parameters.
void LongHeaders(Doc& doc) {
  std::string word;
  for (int i = 0; i < 1000; ++i) word += static_cast<char>('a' + i % 26);
  doc.AddHeader("X-Long-Word", word, "nows");
  std::string refs;
  for (int i = 0; i < 30; ++i) refs += (i ? " " : "") + ("<ref" + std::to_string(i) + "@example.org>");
  doc.AddHeader("References", refs, "ws");
  std::string subject;
  for (int i = 0; i < 40; ++i) subject += (i ? " " : "") + ("word" + std::to_string(i));
  doc.AddHeader("Subject", subject, "ws");
  std::string params = "attachment";
  for (int i = 0; i < 20; ++i) params += "; p" + std::to_string(i) + "=\"v; " + std::to_string(i) + "\"";
  doc.AddHeader("X-Params", params, "ws");
  doc.AddHeader("X-Quoted",
                "\"a quoted stretch; with a semicolon past column forty; kept\" and 'another "
                "one; also kept' then; words",
                "ws");
  std::string tight;
  for (int i = 0; i < 40; ++i) tight += "k" + std::to_string(i) + ";";
  doc.AddHeader("X-Tight", tight, "nows");
  doc.AddHeader("X-Empty", "");
  doc.AddHeader("MIME-Version", "1.0");
  CMimePartFile* part =
      Leaf(doc, &doc.root, "application/octet-stream", "base64", "base64",
           RandomBytes(2 * 57 + 1, 9),
           {{"name", "a rather long file name that fills the line.bin"},
            {"x-first", "1"},
            {"x-second", "second value"},
            {"x-third", "3"}});
  ASSERT_TRUE(doc.mail.AddPart(part, false));
}

// Bodies larger than the writer's pieces, kept in a temporary file.
void Large(Doc& doc, const std::string& folder) {
  doc.mail.SetStorageName((":" + folder).c_str());
  CommonHeaders(doc, "Large");
  Node bin, text;
  CMimePartFile* b = Leaf(doc, &bin, "application/octet-stream", "binary", "base64",
                          RandomBytes(700000, 13));
  CMimePartFile* t = Leaf(doc, &text, "text/plain", "8bit", "quoted-printable",
                          EightBitText(300000, 17), {{"charset", "iso-8859-1"}});
  auto* spilled = dynamic_cast<CMyStreamMixed*>(b->DataStream());
  ASSERT_NE(spilled, nullptr);
  EXPECT_FALSE(spilled->IsInMemory()) << "700000 bytes go past the memory threshold";
  ASSERT_TRUE(doc.mail.AddPart(b, false));
  ASSERT_TRUE(doc.mail.AddPart(t, false));
  doc.root.type = "multipart/mixed";
  doc.root.preamble = true;
  doc.root.children = {bin, text};
}

bool WriteFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary);
  f.write(data.data(), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(f);
}

bool Save(Doc& doc, const std::string& folder, const std::string& name) {
  CMyStreamBuf out;
  if (!doc.mail.WriteMime(out)) return false;
  out.FlushWriteBuffer();
  std::string text(static_cast<size_t>(out.Size()), '\0');
  out.Seek(0, nullptr, 0);
  if (out.Read(&text[0], text.size()) != text.size()) return false;
  std::string json = "{\"headers\":" + HeadersJson(doc.top) + ",\"root\":" + NodeJson(doc.root) + "}";
  return WriteFile(folder + "/" + name + ".eml", text) && WriteFile(folder + "/" + name + ".json", json);
}

TEST(MimePythonEmail, DocumentsParseBackWithTheSameHeadersAndBodies) {
  const std::string folder = MIME_CHECK_DIR;
  ASSERT_EQ(std::system(("rm -rf '" + folder + "' && mkdir -p '" + folder + "'").c_str()), 0);

  Doc one, two, nested, longHeaders, large;
  OnePart(one);
  TwoParts(two);
  Nested(nested);
  LongHeaders(longHeaders);
  Large(large, folder);
  ASSERT_FALSE(HasFatalFailure());

  ASSERT_TRUE(Save(one, folder, "one_part"));
  ASSERT_TRUE(Save(two, folder, "two_parts"));
  ASSERT_TRUE(Save(nested, folder, "nested"));
  ASSERT_TRUE(Save(longHeaders, folder, "long_headers"));
  ASSERT_TRUE(Save(large, folder, "large"));

  std::string command = std::string(MIME_PYTHON) + " '" + MIME_EMAIL_CHECK + "' '" + folder + "'";
  int status = std::system(command.c_str());
  EXPECT_EQ(status, 0) << command << " reported failures (see its output above)";
}

}  // namespace
}  // namespace tarvixlib
