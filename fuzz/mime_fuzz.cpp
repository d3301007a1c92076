// Documents built from random header names, values, parameters, part trees
// and bodies: writing them must not crash, and every leaf's body must come
// back whole: base64 and quoted-printable bodies through the strict decoders
// (which also check the line rules), copied bodies byte for byte.
//
// Input layout: a stream of bytes read by the Reader below; whatever runs
// out reads as zero, so every input builds some document.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "mime/mimemail.h"
#include "tests/mime/mimedecode.h"

using namespace tarvixlib;

namespace {

class Reader {
public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  bool Bool() { return Byte() & 1; }
  // Up to `max` bytes, the length taken from the input.
  std::string Blob(size_t max) {
    size_t n = Byte();
    if (n == 255) n = (size_t{Byte()} << 8) | Byte();
    if (n > max) n = max;
    if (n > size_ - pos_) n = size_ - pos_;
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }
  // A text that is one of `known` or random bytes.
  std::string Pick(const std::vector<const char*>& known) {
    uint8_t k = Byte();
    if (k < known.size()) return known[k];
    return Blob(120);
  }

private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

const std::vector<const char*> kNames = {
    "Content-Type", "Content-Transfer-Encoding", "Content-Disposition", "Subject",
    "Received",     "content-type",              "CONTENT-TRANSFER-ENCODING", "X-Mailer"};
const std::vector<const char*> kTypes = {"text/plain",          "message/rfc822", "text/rfc822-headers",
                                         "application/x-data",  "MESSAGE/partial", "multipart/mixed",
                                         "text/html"};
const std::vector<const char*> kEncodings = {"base64", "quoted-printable", "8bit",    "7bit",
                                             "binary", "x-uuencode",       "uuencode", "BASE64x",
                                             "Quoted-Printable"};

struct Leaf {
  CMimePartFile* part;
  CMyStreamBuf* data;
  std::string body;
};

struct Builder {
  Reader& in;
  CMimeMail& mail;
  std::vector<std::unique_ptr<CMyStreamBuf>> streams;  // the leaves borrow these
  std::vector<Leaf> leaves;

  void RandomHeaders(CMimePart* part) {
    for (int n = in.Byte() % 6; n > 0; --n) {
      std::string name = in.Pick(kNames);
      std::string parameter = in.Bool() ? in.Blob(40) : std::string();
      std::string value = in.Blob(300);
      part->SetHeader(name.c_str(), parameter.empty() ? nullptr : parameter.c_str(), value.c_str());
    }
  }

  CMimePart* Part(int depth) {
    uint8_t kind = in.Byte();
    if (depth < 3 && kind % 4 == 0) {
      auto* multi = new CMimePartMulti(in.Bool() ? Part(depth + 1) : nullptr);
      for (int n = in.Byte() % 4; n > 0; --n) {
        CMimePart* child = Part(depth + 1);
        if (!multi->AddChild(child, in.Bool())) delete child;
      }
      if (in.Bool()) RandomHeaders(multi);
      return multi;
    }
    streams.push_back(std::make_unique<CMyStreamBuf>(64 + in.Byte() * 16));
    CMyStreamBuf* data = streams.back().get();
    auto* part = new CMimePartFile(false, data);
    if (kind & 0x10) part->SetHeader("Content-Type", nullptr, in.Pick(kTypes).c_str());
    if (kind & 0x20) part->SetHeader("Content-Transfer-Encoding", nullptr, in.Pick(kEncodings).c_str());
    RandomHeaders(part);
    std::string body = in.Blob(4096);
    // Now and then a body larger than the writer's read piece (65550
    // bytes); rarely, since big bodies slow every run down.
    if ((kind & 0xC0) == 0xC0 && in.Byte() == 0x7E && !body.empty()) {
      std::string big;
      while (big.size() < 66000) big += body;
      body.swap(big);
    }
    if (data->Write(body.data(), body.size()) != body.size()) std::abort();
    leaves.push_back({part, data, body});
    return part;
  }
};

std::string Contents(CMyStreamBuf& s) {
  s.FlushWriteBuffer();
  std::string out(static_cast<size_t>(s.Size()), '\0');
  s.Seek(0, nullptr, 0);
  if (!out.empty() && s.Read(&out[0], out.size()) != out.size()) std::abort();
  return out;
}

// The leaf's body as written: its output minus the output of the same part
// with an empty body (the headers and the blank line).
std::string WrittenBody(const Leaf& leaf) {
  CMyStreamBuf full;
  if (!leaf.part->WriteMime(full)) std::abort();
  CMyStreamBuf empty, none;
  leaf.part->SetDataStream(&empty);
  bool ok = leaf.part->WriteMime(none);
  leaf.part->SetDataStream(leaf.data);
  if (!ok) std::abort();
  std::string a = Contents(full), b = Contents(none);
  if (a.compare(0, b.size(), b) != 0) std::abort();  // the headers must not depend on the body
  return a.substr(b.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  CMimeMail mail;
  Builder build{in, mail, {}, {}};
  for (int n = in.Byte() % 6; n > 0; --n) {
    std::string name = in.Pick(kNames);
    bool absent = in.Byte() == 0x42;
    std::string value = in.Blob(1200);
    mail.AddHeader(name.c_str(), absent ? nullptr : value.c_str(), in.Bool());
  }
  for (int n = in.Byte() % 4; n > 0; --n) {
    CMimePart* part = build.Part(0);
    if (!mail.AddPart(part, in.Bool())) delete part;
  }

  CMyStreamBuf out;
  if (!mail.WriteMime(out)) std::abort();
  // A stream that refuses data partway must be reported, never crash.
  uint64_t limit = in.Byte() * 37;
  if (limit && limit < out.Size()) {
    CMyStreamBuf small(4096, limit);
    if (mail.WriteMime(small)) std::abort();
  }

  for (const Leaf& leaf : build.leaves) {
    std::string body = WrittenBody(leaf), back, why;
    int encoding = leaf.part->GetEncoding();
    bool ok = true;
    if (encoding == kMimeEncodingBase64) {
      ok = mimetest::DecodeBase64Body(body, &back, &why);
    } else if (encoding == kMimeEncodingQuotedPrintable) {
      ok = mimetest::DecodeQpBody(body, &back, &why);
    } else {
      back = body;
    }
    if (!ok || back != leaf.body) std::abort();
  }
  return 0;
}
