#include "mime/mimemail.h"

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "foundation/asciitext.h"
#include "foundation/myprintf.h"
#include "foundation/platform.h"
#include "mime/mimeencode.h"

namespace tarvixlib {

namespace {

// Names of the transfer encodings in matching order, with the index each
// one reports ("UUENCODE" shares the index of "X-UUENCODE").
struct EncodingName {
  const char* name;
  int index;
};
constexpr EncodingName kEncodingNames[] = {
    {"BASE64", kMimeEncodingBase64}, {"QUOTED-PRINTABLE", kMimeEncodingQuotedPrintable},
    {"8BIT", kMimeEncoding8Bit},     {"7BIT", kMimeEncoding7Bit},
    {"BINARY", kMimeEncodingBinary}, {"X-UUENCODE", kMimeEncodingUuencode},
    {"UUENCODE", kMimeEncodingUuencode},
};

constexpr const char kContentType[] = "Content-Type";
constexpr const char kTransferEncoding[] = "Content-Transfer-Encoding";

// A top-level header: both texts live in the same allocation behind it.
struct CMimeTopHeader {
  const char* name;
  const char* value;  // null: written as "name:" alone
};

// Body pieces: a multiple of 57 bytes, so that every base64 line but the
// last one of the body is a full line.
constexpr size_t kBodyPiece = CMimeBase64::kLineBytes * 1150;  // 65550 bytes

// Reads until `length` bytes are there or the stream ends: a short read in
// the middle of a stream must not end the body early.
size_t ReadFull(CMyStream& stream, uint8_t* buffer, size_t length) {
  size_t got = 0;
  while (got < length) {
    size_t n = stream.ReadBuffered(buffer + got, length - got);
    if (n == 0) break;
    got += n;
  }
  return got;
}

std::atomic<uint32_t> g_boundaryCounter{0};

}  // namespace

int MimeEncodingOf(const char* value) {
  if (!value) return kMimeEncoding7Bit;
  for (const EncodingName& e : kEncodingNames) {
    if (AsciiStartsWithNoCase(value, e.name)) return e.index;
  }
  return kMimeEncodingUnknown;
}

// ---- CMimeSink ----

size_t CMimeSink::Write(const void* data, size_t length) {
  const auto* in = static_cast<const char*>(data);
  if (length > kStaging - used_) {
    Flush();
    if (length >= kStaging) {
      WriteBulk(in, length);
      return length;
    }
  }
  std::memcpy(buffer_ + used_, in, length);
  used_ += length;
  return length;
}

size_t CMimeSink::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  size_t n = FormatToSeqV(*this, format, args);
  va_end(args);
  return n;
}

bool CMimeSink::Flush() {
  if (used_ && !failed_ && stream_.WriteBuffered(buffer_, used_) != used_) failed_ = true;
  used_ = 0;
  return !failed_;
}

bool CMimeSink::WriteBulk(const void* data, size_t length) {
  if (!Flush()) return false;
  if (length && stream_.WriteBuffered(data, length) != length) failed_ = true;
  return !failed_;
}

// ---- headers ----

CMimeHeader::CMimeHeader(const char* name) : name_(name) {}

CMimeHeader::~CMimeHeader() { delete parameters_; }

bool CMimeHeader::SetParameter(const char* name, const char* value) {
  if (!name) return false;
  if (!parameters_) {
    parameters_ = new (std::nothrow) ParameterTable(kBuckets, /*exactCase=*/false);
    if (!parameters_) return false;
  }
  CMyStringA* existing = nullptr;
  if (parameters_->Get(name, &existing)) {
    existing->Assign(value);
    return true;
  }
  auto* text = new (std::nothrow) CMyStringA(value);
  if (!text) return false;
  if (!parameters_->Set(name, text)) {
    delete text;
    return false;
  }
  return true;
}

const char* CMimeHeader::GetParameter(const char* name) const {
  CMyStringA* value = nullptr;
  return parameters_ && parameters_->Get(name, &value) ? value->GetString() : nullptr;
}

CMimeHeader* CMimeHeaderTable::Find(const char* name) const {
  CMimeHeader* header = nullptr;
  return Get(name, &header) ? header : nullptr;
}

bool CMimeHeaderTable::SetHeader(const char* name, const char* parameter, const char* value) {
  if (!name) return false;
  CMimeHeader* header = Find(name);
  if (!header) {
    header = new (std::nothrow) CMimeHeader(name);
    if (!header) return false;
    if (!Set(name, header)) {
      delete header;
      return false;
    }
  }
  if (parameter) return header->SetParameter(parameter, value);
  header->SetValue(value);
  return true;
}

const char* CMimeHeaderTable::GetHeader(const char* name, const char* parameter,
                                        const char* defaultValue) const {
  const CMimeHeader* header = Find(name);
  if (!header) return defaultValue;
  if (!parameter) return header->Value();
  const char* value = header->GetParameter(parameter);
  return value ? value : defaultValue;
}

// ---- folding ----

void WriteFoldedHeader(CMimeSink& out, const char* name, const char* value) {
  if (!value || !*value) {
    out.Format("%s:\r\n", name);
    return;
  }
  size_t column = out.Format("%s: ", name);
  size_t length = std::strlen(value);
  char quote = 0;  // the character that opened the current quoted stretch
  for (size_t i = 0; i < length; ++i) {
    char c = value[i];
    if (column > 800) {
      out.Write("\r\n\t", 3);
      column = 0;
    }
    if (quote) {
      if (c == quote) quote = 0;
    } else {
      if (i + 1 < length) {
        if (c == ';' && column > 40) {
          out.Write(";\r\n\t", 4);
          if (value[i + 1] == ' ' || value[i + 1] == '\t') ++i;
          column = 0;
          continue;
        }
        if ((c == ' ' || c == '\t') && column > 81) {
          out.Write("\r\n\t", 3);
          column = 0;
          continue;
        }
      }
      bool afterBlank = i == 0 || value[i - 1] == ' ' || value[i - 1] == '\t';
      if (c == '"' || (c == '\'' && afterBlank)) quote = c;
    }
    out.PutChar(c);
    column = c == '\n' ? 0 : column + 1;
  }
  out.Write("\r\n", 2);
}

bool WriteFoldedHeader(CMyStream& stream, const char* name, const char* value) {
  CMimeSink out(stream);
  WriteFoldedHeader(out, name, value);
  return out.Flush();
}

// ---- parts ----

int CMimePart::GetEncoding() const {
  const CMimeHeader* header = headers_.Find(kTransferEncoding);
  return MimeEncodingOf(header ? header->Value() : nullptr);
}

void CMimePart::WriteHeaders(CMimeSink& out) const {
  for (CMyHashEntry* e = headers_.First(); e; e = headers_.Next(e)) {
    const CMimeHeader* header = CMimeHeaderTable::ValueOf(e);
    if (!AsciiStartsWithNoCase(header->Name(), "Content")) continue;
    size_t n = out.Format("%s: %s", header->Name(), header->Value());
    const CMimeHeader::ParameterTable* params = header->Parameters();
    for (CMyHashEntry* p = params ? params->First() : nullptr; p; p = params->Next(p)) {
      const char* pname = CMimeHeader::ParameterTable::KeyOf(p);
      const char* pvalue = CMimeHeader::ParameterTable::ValueOf(p)->GetString();
      if (n <= 75) {
        n += out.Format("; %s=\"%s\"", pname, pvalue);
      } else {
        n = out.Format(";\r\n\t%s=\"%s\"", pname, pvalue) - 3;
      }
    }
    out.Write("\r\n", 2);
  }
  for (CMyHashEntry* e = headers_.First(); e; e = headers_.Next(e)) {
    const CMimeHeader* header = CMimeHeaderTable::ValueOf(e);
    if (AsciiStartsWithNoCase(header->Name(), "Content")) continue;
    WriteFoldedHeader(out, header->Name(), header->Value());
  }
}

CMimePartFile::~CMimePartFile() {
  if (ownsStream_) delete data_;
}

void CMimePartFile::SetDataStream(CMyStream* data) {
  if (ownsStream_ && data_ != data) delete data_;
  data_ = data;
}

bool CMimePartFile::WriteMime(CMyStream& stream) {
  int e = GetEncoding();
  const char* type = GetHeader(kContentType, nullptr, nullptr);
  bool message = type && (AsciiStartsWithNoCase(type, "message") || AsciiStartsWithNoCase(type, "text/rfc822"));
  if (!message) {
    if (e == kMimeEncodingQuotedPrintable || e == kMimeEncoding8Bit || e == kMimeEncoding7Bit) {
      SetHeader(kTransferEncoding, nullptr, "quoted-printable");
      e = kMimeEncodingQuotedPrintable;
    } else if (e == kMimeEncodingBase64 || e == kMimeEncodingBinary) {
      SetHeader(kTransferEncoding, nullptr, "base64");
      e = kMimeEncodingBase64;
    }
  }
  CMimeSink out(stream);
  WriteHeaders(out);
  out.Write("\r\n", 2);
  if (!WriteBody(out, e)) return false;
  return out.Flush();
}

bool CMimePartFile::WriteBody(CMimeSink& out, int encoding) {
  if (!data_) return true;  // a part without data has an empty body
  // Small bodies (most parts) get a buffer of their own size, not a full
  // piece; the piece stays a multiple of 57 bytes.
  size_t piece = kBodyPiece;
  int64_t size = data_->SeekBuffered(0, 2);
  if (size >= 0 && static_cast<uint64_t>(size) < kBodyPiece) {
    size_t lines = (static_cast<size_t>(size) + CMimeBase64::kLineBytes - 1) / CMimeBase64::kLineBytes;
    piece = (lines ? lines : 1) * CMimeBase64::kLineBytes;
  }
  if (data_->SeekBuffered(0, 0) != 0) return false;
  size_t outSize = encoding == kMimeEncodingBase64 ? CMimeBase64::EncodedSize(piece)
                   : encoding == kMimeEncodingQuotedPrintable
                       ? CMimeQuotedPrintable::MaxStepOutput(piece)
                       : 0;
  auto* in = static_cast<uint8_t*>(std::malloc(piece + outSize));
  if (!in) return false;
  char* encoded = reinterpret_cast<char*>(in + piece);
  bool ok = true;
  CMimeQuotedPrintable qp;
  for (;;) {
    size_t got = ReadFull(*data_, in, piece);
    if (encoding == kMimeEncodingBase64) {
      ok = out.WriteBulk(encoded, CMimeBase64::Encode(in, got, encoded));
    } else if (encoding == kMimeEncodingQuotedPrintable) {
      size_t n = qp.Step(in, got, encoded);
      if (got < piece) n += qp.Finish(encoded + n);
      ok = out.WriteBulk(encoded, n);
    } else {
      ok = out.WriteBulk(in, got);
    }
    if (!ok || got < piece) break;
  }
  std::free(in);
  return ok;
}

CMimePartMulti::CMimePartMulti(CMimePart* firstChild) {
  CMyStringA boundary = MakeBoundary();
  SetHeader(kContentType, nullptr, "multipart/mixed");
  SetHeader(kContentType, "boundary", boundary.GetString());
  if (firstChild) AddChild(firstChild, /*front=*/true);
}

bool CMimePartMulti::AddChild(CMimePart* child, bool front) {
  if (!child || child == this) return false;
  if (!(front ? children_.AddHead(child) : children_.AddTail(child))) return false;
  child->SetParent(this);
  return true;
}

bool CMimePartMulti::WriteMime(CMyStream& stream) {
  CMimeSink out(stream);
  WriteHeaders(out);
  out.Write("\r\n", 2);
  const char* boundary = GetHeader(kContentType, "boundary", nullptr);
  if (!Parent()) out.Format("%s\r\n", kPreamble);
  for (CMyPtrListNode* node = children_.Head(); node; node = node->next) {
    out.Format("\r\n--%s\r\n", boundary);
    if (!out.Flush()) return false;
    if (!CMyPtrListT<CMimePart>::DataOf(node)->WriteMime(stream)) return false;
  }
  out.Format("\r\n--%s--\r\n", boundary);
  return out.Flush();
}

// ---- the document ----

CMimeMail::CMimeMail() = default;

CMimeMail::~CMimeMail() { delete root_; }

CMyStream* CMimeMail::CreateDataStream() {
  const char* name = storageName_.GetString();
  if (!*name || AsciiEqualsNoCase(name, ":mem")) return new (std::nothrow) CMyStreamBuf();
  if (*name == ':') ++name;
  return new (std::nothrow) CMyStreamMixed(name, kMemoryThreshold);
}

bool CMimeMail::AddRawLine(const char* line) {
  if (!line) return false;
  size_t length = std::strlen(line);
  auto* copy = static_cast<char*>(std::malloc(length + 1));
  if (!copy) return false;
  std::memcpy(copy, line, length + 1);
  if (!rawLines_.AddTail(copy)) {
    std::free(copy);
    return false;
  }
  return true;
}

bool CMimeMail::AddHeader(const char* name, const char* value, bool front) {
  if (!name) return false;
  size_t nameLength = std::strlen(name);
  size_t valueLength = value ? std::strlen(value) : 0;
  auto* record = static_cast<CMimeTopHeader*>(
      std::malloc(sizeof(CMimeTopHeader) + nameLength + 1 + (value ? valueLength + 1 : 0)));
  if (!record) return false;
  char* text = reinterpret_cast<char*>(record + 1);
  std::memcpy(text, name, nameLength + 1);
  record->name = text;
  record->value = nullptr;
  if (value) {
    std::memcpy(text + nameLength + 1, value, valueLength + 1);
    record->value = text + nameLength + 1;
  }
  if (!(front ? headers_.AddHead(record) : headers_.AddTail(record))) {
    std::free(record);
    return false;
  }
  return true;
}

CMimePartFile* CMimeMail::NewTextPart(CMimePartMulti* parent) {
  CMyStream* data = CreateDataStream();
  if (!data) return nullptr;
  auto* part = new (std::nothrow) CMimePartFile(/*ownsStream=*/true, data);
  if (!part) {
    delete data;
    return nullptr;
  }
  part->SetParent(parent);
  if (!part->SetHeader(kContentType, nullptr, "text/plain") ||
      !part->SetHeader(kContentType, "charset", "iso-8859-1") ||
      !part->SetHeader(kTransferEncoding, nullptr, "quoted-printable")) {
    delete part;
    return nullptr;
  }
  return part;
}

bool CMimeMail::AddPart(CMimePart* part, bool front) {
  if (!part || part == root_) return false;
  if (!root_) {
    part->SetParent(nullptr);
    root_ = part;
    return true;
  }
  if (!root_->IsContainer()) {
    auto* multi = new (std::nothrow) CMimePartMulti(root_);
    if (!multi || multi->Children().Count() != 1) {
      if (multi) delete multi;  // it did not take the old root
      return false;
    }
    root_ = multi;
  }
  return static_cast<CMimePartMulti*>(root_)->AddChild(part, front);
}

bool CMimeMail::WriteMime(CMyStream& stream) {
  {
    CMimeSink out(stream);
    for (CMyPtrListNode* node = rawLines_.Head(); node; node = node->next) {
      out.Format("%s\r\n", static_cast<const char*>(node->data));
    }
    for (CMyPtrListNode* node = headers_.Head(); node; node = node->next) {
      const auto* header = static_cast<const CMimeTopHeader*>(node->data);
      WriteFoldedHeader(out, header->name, header->value);
    }
    if (!out.Flush()) return false;
  }
  return root_ ? root_->WriteMime(stream) : true;
}

CMyStringA MakeBoundary() {
  uint32_t counter = g_boundaryCounter.fetch_add(1) + 1;
  auto seconds = static_cast<uint32_t>(static_cast<uint64_t>(std::time(nullptr)));
  auto ticks = static_cast<uint32_t>(platform::TickCountMs());
  CMyStringA boundary;
  boundary.Format("----=_NextPart_%X_%X_%X", seconds, ticks, counter);
  return boundary;
}

}  // namespace tarvixlib
