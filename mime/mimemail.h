// The MIME document model of the spam check: a write-only tree of parts
// that writes itself, byte for byte, to a CMyStream.
//
//   CMimeMail            the document: raw lines, top-level headers, root part
//   CMimePart            a part with its header table (abstract)
//   CMimePartFile        a leaf: headers plus a data stream, encoded on write
//   CMimePartMulti       a container: "multipart/mixed" with a boundary
//
// Header order. Each part keeps its headers in a case-insensitive hash table
// of 1024 buckets (CMimeHeaderTable); writing visits the table in its order
// (buckets ascending, newest entry first inside a bucket, a re-set header
// keeps its place), and that order is the order of the header lines. So
// Content-Transfer-Encoding (bucket 250) is written before Content-Type
// (bucket 982). Parameters of a header live in a table of the same kind.
//
// All text is 8-bit; every line ends with CR LF. The document is built,
// written once and destroyed by its creator; containers own their children,
// file parts own their data stream when constructed so.
//
// Namespace: tarvixlib (the shared library's own namespace).
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/hashtable.h"
#include "foundation/mystream.h"
#include "foundation/mystring.h"
#include "foundation/ptrlist.h"
#include "foundation/seqwrite.h"

namespace tarvixlib {

// One header of a part: name, value (initially empty) and parameters.
class CMimeHeader {
public:
  static constexpr uint32_t kBuckets = 1024;
  using ParameterTable = CMyObjectHashTableT<const char*, CMyStringA>;

  explicit CMimeHeader(const char* name);
  virtual ~CMimeHeader();
  CMimeHeader(const CMimeHeader&) = delete;
  CMimeHeader& operator=(const CMimeHeader&) = delete;

  const char* Name() const { return name_.GetString(); }
  const char* Value() const { return value_.GetString(); }
  void SetValue(const char* value) { value_.Assign(value); }
  // Adds or replaces a parameter (a replaced one keeps its place).
  bool SetParameter(const char* name, const char* value);
  // The parameter's value, or null when it is missing.
  const char* GetParameter(const char* name) const;
  // The parameters in table order; null while the header has none.
  const ParameterTable* Parameters() const { return parameters_; }

private:
  CMyStringA name_;
  CMyStringA value_;
  // Made with the first parameter: most headers never get one, and an
  // empty table of 1024 buckets still costs its allocation and clearing.
  ParameterTable* parameters_ = nullptr;
};

// A part's headers: name (compared ignoring case) to owned CMimeHeader.
class CMimeHeaderTable : public CMyObjectHashTableT<const char*, CMimeHeader> {
public:
  CMimeHeaderTable() : CMyObjectHashTableT(CMimeHeader::kBuckets, /*exactCase=*/false) {}

  CMimeHeader* Find(const char* name) const;
  // Creates the header when missing. With a parameter name sets that
  // parameter (the header's value stays); otherwise sets the value (the
  // parameters stay). False for a null name or when memory is short.
  bool SetHeader(const char* name, const char* parameter, const char* value);
  // The parameter's (parameter given) or the header's value; the default
  // when the header or the parameter is missing.
  const char* GetHeader(const char* name, const char* parameter, const char* defaultValue) const;
};

// Transfer encodings known by name; GetEncoding matches the start of the
// Content-Transfer-Encoding value against them in this order, ignoring case.
enum MimeEncoding : int {
  kMimeEncodingUnknown = -1,
  kMimeEncodingBase64 = 0,
  kMimeEncodingQuotedPrintable = 1,
  kMimeEncoding8Bit = 2,
  kMimeEncoding7Bit = 3,  // also an absent header
  kMimeEncodingBinary = 4,
  kMimeEncodingUuencode = 5,  // "X-UUENCODE" and "UUENCODE"
};
// The encoding index of a Content-Transfer-Encoding value (null: absent).
int MimeEncodingOf(const char* value);

class CMimePartMulti;
class CMimeSink;

// A part: a header table and the container that holds it (none for the root).
class CMimePart {
public:
  CMimePart() = default;
  CMimePart(const CMimePart&) = delete;
  CMimePart& operator=(const CMimePart&) = delete;

  // ---- virtual operations, in slot order ----
  virtual ~CMimePart() = default;
  // Writes the part's headers, the blank line and its body. False when the
  // stream refused data (the document is then incomplete).
  virtual bool WriteMime(CMyStream& stream) = 0;
  // True for a multipart container.
  virtual bool IsContainer() const = 0;
  // Whether the part is an attached message object; no part of this
  // writer is one.
  virtual bool IsMessageObject() const { return false; }

  bool SetHeader(const char* name, const char* parameter, const char* value) {
    return headers_.SetHeader(name, parameter, value);
  }
  const char* GetHeader(const char* name, const char* parameter, const char* defaultValue) const {
    return headers_.GetHeader(name, parameter, defaultValue);
  }
  // The index of the part's Content-Transfer-Encoding (MimeEncoding).
  int GetEncoding() const;

  CMimeHeaderTable& Headers() { return headers_; }
  const CMimeHeaderTable& Headers() const { return headers_; }
  CMimePartMulti* Parent() const { return parent_; }
  void SetParent(CMimePartMulti* parent) { parent_ = parent; }

protected:
  // Content headers with their parameters first, then every other header
  // folded (see WriteFoldedHeader). No blank line.
  void WriteHeaders(CMimeSink& out) const;

private:
  CMimePartMulti* parent_ = nullptr;
  CMimeHeaderTable headers_;
};

// A leaf part: its body is the content of a data stream, written in the
// part's transfer encoding. Text parts are written as quoted-printable,
// everything else as base64, unless the Content-Type starts with "message"
// or "text/rfc822"; those keep their encoding and are copied unchanged
// unless it is base64 or quoted-printable.
class CMimePartFile : public CMimePart {
public:
  // ownsStream: the data stream is deleted with the part (and when replaced).
  explicit CMimePartFile(bool ownsStream, CMyStream* data = nullptr)
      : ownsStream_(ownsStream), data_(data) {}
  ~CMimePartFile() override;

  bool WriteMime(CMyStream& stream) override;
  bool IsContainer() const override { return false; }

  CMyStream* DataStream() const { return data_; }
  // Replaces the data stream; an owned old stream is deleted.
  void SetDataStream(CMyStream* data);
  bool OwnsStream() const { return ownsStream_; }

private:
  // The body: the data stream from its start, in the given encoding.
  bool WriteBody(CMimeSink& out, int encoding);

  bool ownsStream_;
  CMyStream* data_;
};

// A container of parts, written as a multipart with the boundary parameter
// of its Content-Type. The root container writes the preamble line.
class CMimePartMulti : public CMimePart {
public:
  static constexpr const char* kPreamble = "This is a multi-part message in MIME format.";

  // Content-Type "multipart/mixed" with a new boundary (MakeBoundary); a
  // first child, when given, becomes the first entry of the child list.
  explicit CMimePartMulti(CMimePart* firstChild = nullptr);
  ~CMimePartMulti() override = default;

  bool WriteMime(CMyStream& stream) override;
  bool IsContainer() const override { return true; }

  // Puts the child (owned from now on) at the front or the end and makes
  // this container its parent. False for a null child or short memory.
  bool AddChild(CMimePart* child, bool front);
  const CMyPtrListT<CMimePart>& Children() const { return children_; }

private:
  CMyPtrListT<CMimePart> children_{/*owned=*/true};
};

// The document.
class CMimeMail {
public:
  // Data streams of at least this size move from memory into a temporary
  // file (when a storage location is set).
  static constexpr uint64_t kMemoryThreshold = 0x80000;

  CMimeMail();
  CMimeMail(const CMimeMail&) = delete;
  CMimeMail& operator=(const CMimeMail&) = delete;

  // ---- virtual operations, in slot order ----
  virtual ~CMimeMail();
  // A new data stream for a new file part: memory (CMyStreamBuf) when the
  // storage name is empty or ":mem" (ignoring case), otherwise a
  // CMyStreamMixed with that location (a leading ":" dropped) as its
  // temporary directory, keeping up to kMemoryThreshold bytes in memory.
  // Null when memory is short.
  virtual CMyStream* CreateDataStream();

  // A raw line, written verbatim (plus CR LF) before everything else.
  bool AddRawLine(const char* line);
  // Appends (front false) or prepends (front true) a top-level header.
  bool AddHeader(const char* name, const char* value, bool front);
  // A new text part (not yet added): data stream from CreateDataStream,
  // Content-Type "text/plain" with charset "iso-8859-1", and
  // Content-Transfer-Encoding "quoted-printable". Null when memory is short.
  CMimePartFile* NewTextPart(CMimePartMulti* parent);
  // Adds a part (owned from now on): the first part becomes the root; a
  // second one wraps a non-container root into a new "multipart/mixed"
  // container, and the part goes to the front or the end of the root's
  // children. False (part not taken) for a null part or short memory.
  bool AddPart(CMimePart* part, bool front);

  // Raw lines, top-level headers (folded, in list order), then the root
  // part. False when the stream refused data.
  bool WriteMime(CMyStream& stream);

  void SetStorageName(const char* name) { storageName_.Assign(name); }
  const char* StorageName() const { return storageName_.GetString(); }
  CMimePart* Root() const { return root_; }
  size_t HeaderCount() const { return headers_.Count(); }

private:
  CMyPtrList rawLines_{/*owned=*/true};  // malloc'ed texts
  CMyPtrList headers_{/*owned=*/true};   // malloc'ed CMimeTopHeader records
  CMimePart* root_ = nullptr;
  CMyStringA storageName_;
};

// A new boundary "----=_NextPart_<seconds>_<ticks>_<counter>": the time in
// seconds since 1970 (low 32 bits), the millisecond tick count (low 32
// bits) and a process-wide counter (the first boundary uses 1), each in
// upper-case hexadecimal without leading zeros.
CMyStringA MakeBoundary();

// Writes one header line "name: value" folded for transport:
//  - a null or empty value writes "name:" alone;
//  - a line break "\r\n\t" goes in before any character once the column
//    passes 800;
//  - outside a quoted stretch (opened by a double quote, or by a single
//    quote at the start or after a blank or tab; closed by the same quote)
//    and before the last character: a ";" past column 40 is followed by
//    "\r\n\t" (one blank or tab after it is dropped), and a blank or tab
//    past column 81 is replaced by "\r\n\t".
// The column is reset by a line feed inside the value. False when the
// stream refused data.
bool WriteFoldedHeader(CMyStream& stream, const char* name, const char* value);

// A staging buffer between the writer and the stream: short pieces (header
// text, delimiters) are collected and passed to the stream's WriteBuffered
// in large pieces; bulk data (encoded bodies) goes through WriteBulk. The
// first refusal is remembered and everything after it is dropped. The
// printf engine writes into it as a CSeqWrite.
class CMimeSink : public CSeqWrite {
public:
  static constexpr size_t kStaging = 4096;

  explicit CMimeSink(CMyStream& stream) : stream_(stream) {}
  ~CMimeSink() override { Flush(); }
  CMimeSink(const CMimeSink&) = delete;
  CMimeSink& operator=(const CMimeSink&) = delete;

  // Takes everything (also after a refusal, so that the printf engine runs
  // to its end and reports the full length).
  size_t Write(const void* data, size_t length) override;
  void PutChar(char c) {
    if (used_ == kStaging) Flush();
    buffer_[used_++] = c;
  }
  // Formats through the printf engine; returns the characters formatted.
  size_t Format(const char* format, ...);
  // Flushes the staged text, then hands the data to the stream at once.
  bool WriteBulk(const void* data, size_t length);
  // Passes the staged text on; false once the stream has refused data.
  bool Flush();
  bool Ok() const { return !failed_; }

private:
  CMyStream& stream_;
  size_t used_ = 0;
  bool failed_ = false;
  char buffer_[kStaging];
};

// Writes the header line of WriteFoldedHeader into a sink.
void WriteFoldedHeader(CMimeSink& out, const char* name, const char* value);

}  // namespace tarvixlib
