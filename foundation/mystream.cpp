// The stream base: buffering, line reading, search, copying and checksums.
#include "foundation/mystream.h"

#include <cstdlib>
#include <cstring>

#include "foundation/asciitext.h"
#include "foundation/myprintf.h"

namespace tarvixlib {

namespace {

constexpr size_t kCopyPiece = 32768;
constexpr size_t kCopySpan = 1u << 20;  // bytes handed on per ReadSpan
constexpr size_t kFirstLine = 256;      // ReadLineAlloc's first line buffer

CMyStreamBuffer* NewBuffer(size_t capacity) {
  auto* b = static_cast<CMyStreamBuffer*>(std::malloc(sizeof(CMyStreamBuffer) + capacity));
  if (!b) return nullptr;
  b->dirty = 0;
  b->pos = 0;
  b->valid = 0;
  b->capacity = capacity;
  return b;
}

// CRC tables: POSIX cksum (MSB first, 0x04C11DB7) and CRC-32 (reflected).
struct CrcTables {
  uint32_t msb[256];
  uint32_t lsb[256];
  CrcTables() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i << 24;
      for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
      msb[i] = c;
      uint32_t r = i;
      for (int k = 0; k < 8; ++k) r = (r & 1) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
      lsb[i] = r;
    }
  }
};
const CrcTables& Tables() {
  static const CrcTables tables;
  return tables;
}

inline uint32_t CksumByte(uint32_t crc, uint8_t b) {
  return (crc << 8) ^ Tables().msb[((crc >> 24) ^ b) & 0xFF];
}

}  // namespace

CMyLineBuffer::~CMyLineBuffer() { std::free(data); }

CMyStream::~CMyStream() { FreeBuffers(); }

void CMyStream::FreeBuffers() {
  if (writeBuf_ && writeBuf_ != readBuf_) std::free(writeBuf_);
  std::free(readBuf_);
  readBuf_ = writeBuf_ = nullptr;
  bufferFlags_ = 0;
}

// ---- reading ----

void CMyStream::PrepareRead() {
  if (writeBuf_ && writeBuf_->dirty) FlushWriteBuffer();
}

size_t CMyStream::ReadBuffered(void* buffer, size_t length) {
  CMyStreamBuffer* b = readBuf_;
  if (!b) {
    PrepareRead();
    return Read(buffer, length);
  }
  PrepareRead();
  if (b->dirty) return 0;  // shared buffer whose data could not be written out
  auto* out = static_cast<uint8_t*>(buffer);
  size_t got = b->valid - b->pos;
  if (got > length) got = length;
  std::memcpy(out, b->Data() + b->pos, got);
  b->pos += got;
  if (got == length) return got;
  size_t rest = length - got;
  if (rest >= b->capacity) return got + Read(out + got, rest);
  size_t n = Read(b->Data(), b->capacity);
  b->valid = n;
  size_t take = rest < n ? rest : n;
  std::memcpy(out + got, b->Data(), take);
  b->pos = take;
  return got + take;
}

bool CMyStream::ReadExact(void* buffer, size_t length) {
  auto* out = static_cast<uint8_t*>(buffer);
  while (length > 0) {
    size_t n = ReadBuffered(out, length);
    if (n == 0) return false;
    out += n;
    length -= n;
  }
  return true;
}

bool CMyStream::ReadSpan(const uint8_t** data, size_t max, size_t* length) {
  *data = nullptr;
  *length = 0;
  CMyStreamBuffer* b = readBuf_;
  PrepareRead();
  if (b && b->dirty) return false;
  if (!b || b->pos == b->valid) {
    if (ReadDirect(data, max, length)) return true;
    if (!b) return false;
    b->valid = Read(b->Data(), b->capacity);
    b->pos = 0;
  }
  size_t n = b->valid - b->pos;
  if (n > max) n = max;
  *data = b->Data() + b->pos;
  *length = n;
  b->pos += n;
  return true;
}

bool CMyStream::ReadDirect(const uint8_t**, size_t, size_t*) { return false; }

int CMyStream::ReadByteSlow() {
  uint8_t c;
  return ReadBuffered(&c, 1) == 1 ? c : -1;
}

int CMyStream::PeekByte() {
  CMyStreamBuffer* b = readBuf_;
  if (!b) return -1;
  PrepareRead();
  if (b->dirty) return -1;
  if (b->pos < b->valid) return b->Data()[b->pos];
  b->valid = Read(b->Data(), b->capacity);
  b->pos = 0;
  return b->valid ? b->Data()[0] : -1;
}

// ---- writing ----

// A shared buffer that holds read data is emptied before it takes written
// data; the position moves back over what was buffered but not consumed.
bool CMyStream::DropReadData() {
  CMyStreamBuffer* b = readBuf_;
  if (!b || b->dirty || b->valid == 0) return true;
  size_t unread = b->valid - b->pos;
  b->valid = b->pos = 0;
  return unread == 0 || Seek(-static_cast<int64_t>(unread), nullptr, 1);
}

size_t CMyStream::WriteBuffered(const void* data, size_t length) {
  CMyStreamBuffer* b = writeBuf_;
  if (!b) return Write(data, length);
  if (b == readBuf_ && !DropReadData()) return 0;
  const auto* in = static_cast<const uint8_t*>(data);
  size_t taken = 0;
  while (taken < length) {
    size_t rest = length - taken;
    if (b->valid == 0 && rest >= b->capacity) return taken + Write(in + taken, rest);
    size_t space = b->capacity - b->valid;
    size_t piece = rest < space ? rest : space;
    std::memcpy(b->Data() + b->valid, in + taken, piece);
    b->valid += piece;
    b->pos = 0;
    if (piece) b->dirty = 1;
    taken += piece;
    if (b->valid == b->capacity && FlushWriteBuffer() != 1) {
      // The stream refused data. What went into the buffer is kept there
      // for the next flush; report only what was taken.
      return taken;
    }
  }
  return taken;
}

int CMyStream::FlushWriteBuffer() {
  CMyStreamBuffer* b = writeBuf_;
  if (!b || !b->dirty) return 0;
  if (b->valid == 0) {
    b->dirty = 0;
    return 0;
  }
  size_t n = Write(b->Data(), b->valid);
  if (n >= b->valid) {
    b->valid = b->pos = 0;
    b->dirty = 0;
    return 1;
  }
  // Short: keep only what was not written, so a later flush does not write
  // the accepted part twice.
  std::memmove(b->Data(), b->Data() + n, b->valid - n);
  b->valid -= n;
  return -1;
}

bool CMyStream::Sync() {
  bool ok = FlushWriteBuffer() >= 0;
  if (writeBuf_ && writeBuf_->dirty) return false;  // refused data stays buffered
  return DropReadData() && ok;
}

int64_t CMyStream::SeekBuffered(int64_t offset, int origin) {
  if (FlushWriteBuffer() < 0) return -1;
  CMyStreamBuffer* b = readBuf_;
  if (b && !b->dirty && b->valid > 0) {
    size_t unread = b->valid - b->pos;
    if (origin == 1 && offset >= 0 && static_cast<uint64_t>(offset) <= unread) {
      int64_t underlying = 0;
      if (!Seek(0, &underlying, 1)) return -1;
      b->pos += static_cast<size_t>(offset);
      return underlying - static_cast<int64_t>(b->valid - b->pos);
    }
    if (origin == 1) offset -= static_cast<int64_t>(unread);
    b->valid = b->pos = 0;
  }
  int64_t position = 0;
  return Seek(offset, &position, origin) ? position : -1;
}

int64_t CMyStream::GetSize() {
  if (FlushWriteBuffer() < 0) return -1;
  int64_t position = 0, end = 0;
  if (!Seek(0, &position, 1) || !Seek(0, &end, 2)) return -1;
  if (!Seek(position, nullptr, 0)) return -1;
  return end;
}

void CMyStream::DiscardBuffers() {
  CMyStreamBuffer* buffers[2] = {readBuf_, writeBuf_};
  for (CMyStreamBuffer* b : buffers) {
    if (!b) continue;
    b->dirty = 0;
    b->pos = 0;
    b->valid = 0;
  }
}

bool CMyStream::SetBuffering(uint32_t flags, size_t readSize, size_t writeSize) {
  bool shared = (flags & kSharedBuffer) != 0;
  size_t newRead = (flags & kReadBuffer) || shared ? (readSize ? readSize : writeSize) : 0;
  size_t newWrite = shared ? newRead : (flags & kWriteBuffer) ? writeSize : 0;
  if ((flags & kReadBuffer) && newRead == 0) return false;
  if ((flags & kWriteBuffer) && newWrite == 0) return false;

  bool oldShared = readBuf_ && readBuf_ == writeBuf_;
  size_t oldReadCap = readBuf_ ? readBuf_->capacity : 0;
  size_t oldWriteCap = writeBuf_ ? writeBuf_->capacity : 0;
  if (oldShared == shared && oldReadCap == newRead && oldWriteCap == newWrite) {
    bufferFlags_ = flags;
    return true;  // unchanged
  }

  size_t unread = UnreadBytes();
  size_t pending = writeBuf_ && writeBuf_->dirty ? writeBuf_->valid : 0;
  // Data that has no place in the new layout is written out or given back
  // to the stream first; data that does not fit refuses the change.
  if (pending && (newWrite == 0 || (shared && unread))) {
    if (FlushWriteBuffer() != 1) return false;
    pending = 0;
  }
  if (unread && newRead == 0) {
    if (!DropReadData()) return false;
    unread = 0;
  }
  if (unread > newRead || pending > newWrite) return false;

  CMyStreamBuffer* r = newRead ? NewBuffer(newRead) : nullptr;
  CMyStreamBuffer* w = shared ? r : newWrite ? NewBuffer(newWrite) : nullptr;
  if ((newRead && !r) || (newWrite && !w)) {
    std::free(r);
    if (w != r) std::free(w);
    return false;
  }
  if (unread) {
    std::memcpy(r->Data(), readBuf_->Data() + readBuf_->pos, unread);
    r->valid = unread;
  }
  if (pending) {
    std::memcpy(w->Data(), writeBuf_->Data(), pending);
    w->valid = pending;
    w->dirty = 1;
  }
  FreeBuffers();
  readBuf_ = r;
  writeBuf_ = w;
  bufferFlags_ = flags;
  return true;
}

bool CMyStream::TruncateHere() { return Sync() && Truncate(); }

// ---- lines and search ----

int CMyStream::ReadLine(char* buffer, bool singleLine, size_t size) {
  if (!buffer || size == 0) return -1;
  size_t n = 0;
  bool any = false;
  while (n + 1 < size) {
    int c = ReadByte();
    if (c < 0) break;
    any = true;
    if (c == '\r') continue;
    if (c == '\n') {
      if (!singleLine && readBuf_) {
        int next = PeekByte();
        if (next == ' ' || next == '\t') continue;  // folded continuation
      }
      break;
    }
    buffer[n++] = static_cast<char>(c);
  }
  buffer[n] = '\0';
  return any ? static_cast<int>(n) : -1;
}

namespace {

// Appends the bytes to the line with every CR dropped, growing the line by
// `growth` up to `limit` bytes with the terminator. *used: the bytes taken
// (CRs included). 0 all taken; -3 the limit was reached (the next byte is
// not taken); -2 no memory.
int AppendLineBytes(CMyLineBuffer& line, const uint8_t* bytes, size_t n, size_t limit,
                    size_t growth, size_t* used) {
  size_t i = 0;
  int result = 0;
  while (i < n) {
    if (bytes[i] == '\r') {
      ++i;
      continue;
    }
    const void* cr = std::memchr(bytes + i, '\r', n - i);
    size_t run = (cr ? static_cast<const uint8_t*>(cr) - bytes : n) - i;
    size_t room = limit - 1 - line.length;
    size_t take = run < room ? run : room;
    size_t needed = line.length + take + 1;
    if (needed > line.capacity) {
      size_t grown = line.capacity;
      while (grown < needed) grown = grown + growth < limit ? grown + growth : limit;
      char* bigger = static_cast<char*>(std::realloc(line.data, grown));
      if (!bigger) {
        result = -2;
        break;
      }
      line.data = bigger;
      line.capacity = grown;
    }
    std::memcpy(line.data + line.length, bytes + i, take);
    line.length += take;
    i += take;
    if (take < run) {
      result = -3;
      break;
    }
  }
  *used = i;
  return result;
}

}  // namespace

int CMyStream::ReadLineAlloc(CMyLineBuffer& line, size_t limit, size_t growth) {
  line.length = 0;
  if (line.data) line.data[0] = '\0';
  if (limit < 2) return -3;  // no room for even one character
  if (growth == 0) growth = limit;
  if (!line.data) {
    // Most lines are short: the buffer starts small and then grows in
    // steps of `growth`.
    size_t first = growth < limit ? growth : limit;
    if (first > kFirstLine) first = kFirstLine;
    if (first < 2) first = 2;
    line.data = static_cast<char*>(std::malloc(first));
    if (!line.data) return -2;
    line.capacity = first;
  }
  PrepareRead();
  bool consumed = false;
  int result;
  for (;;) {
    // A stream that keeps its bytes in memory lends them and needs no read
    // buffer; any other gets one of 65536 bytes.
    const uint8_t* span = nullptr;
    size_t n = 0;
    bool lent = !readBuf_ && ReadDirect(&span, kCopySpan, &n);
    CMyStreamBuffer* b = readBuf_;
    if (!lent) {
      if (!b) {
        if (!SetBuffering(bufferFlags_ | kReadBuffer, 65536, writeBuf_ ? writeBuf_->capacity : 0)) {
          result = -2;
          break;
        }
        b = readBuf_;
      }
      if (!b->dirty && b->pos == b->valid) {
        b->valid = Read(b->Data(), b->capacity);
        b->pos = 0;
      }
      span = b->Data() + b->pos;
      n = b->dirty ? 0 : b->valid - b->pos;
    }
    if (n == 0) {
      result = consumed ? 0 : -1;
      break;
    }
    const void* lf = std::memchr(span, '\n', n);
    size_t segment = lf ? static_cast<const uint8_t*>(lf) - span : n;
    size_t used = 0;
    result = AppendLineBytes(line, span, segment, limit, growth, &used);
    if (result == 0 && lf) {
      ++used;
      result = 1;
    }
    consumed = consumed || used > 0;
    // What was not taken stays in the stream.
    if (!lent) {
      b->pos += used;
    } else if (used < n) {
      Seek(-static_cast<int64_t>(n - used), nullptr, 1);
    }
    if (result != 0) break;
  }
  line.data[line.length] = '\0';
  return result;
}

// A correct forward search: on a mismatch the comparison falls back to the
// longest prefix of the text that still matches (a prefix table), so no
// occurrence is skipped.
bool CMyStream::FindString(const char* text) {
  if (!text || !*text) return true;
  size_t n = std::strlen(text);
  uint8_t stackPattern[64];
  size_t stackFallback[64];
  uint8_t* pattern = stackPattern;
  size_t* fallback = stackFallback;
  void* heap = nullptr;
  if (n > 64) {
    heap = std::malloc(n * (1 + sizeof(size_t)));
    if (!heap) return false;
    fallback = static_cast<size_t*>(heap);
    pattern = reinterpret_cast<uint8_t*>(fallback + n);
  }
  for (size_t i = 0; i < n; ++i) pattern[i] = FoldNameByte(static_cast<uint8_t>(text[i]));
  fallback[0] = 0;
  for (size_t i = 1, k = 0; i < n; ++i) {
    while (k > 0 && pattern[i] != pattern[k]) k = fallback[k - 1];
    if (pattern[i] == pattern[k]) ++k;
    fallback[i] = k;
  }
  bool found = false;
  size_t matched = 0;
  for (int c; (c = ReadByte()) >= 0;) {
    uint8_t f = FoldNameByte(static_cast<uint8_t>(c));
    while (matched > 0 && f != pattern[matched]) matched = fallback[matched - 1];
    if (f == pattern[matched] && ++matched == n) {
      found = true;
      break;
    }
  }
  std::free(heap);
  return found;
}

// ---- copying, checksums, ranges ----

uint64_t CMyStream::CopyStream(CMyStream& source, CMyStream& destination, uint64_t length) {
  uint8_t* piece = nullptr;  // only for sources that cannot hand out their memory
  CSeqWriteStream out(destination);
  uint64_t written = 0;
  bool ok = true;
  while (ok && written < length) {
    uint64_t left = length - written;
    size_t want = left < kCopySpan ? static_cast<size_t>(left) : kCopySpan;
    const uint8_t* data = nullptr;
    size_t got = 0;
    if (!source.ReadSpan(&data, want, &got)) {
      if (want > kCopyPiece) want = kCopyPiece;
      if (!piece && !(piece = static_cast<uint8_t*>(std::malloc(kCopyPiece)))) break;
      got = source.ReadBuffered(piece, want);
      data = piece;
    }
    if (got == 0) break;
    size_t put = out.Write(data, got);
    written += put;
    ok = put == got;
  }
  std::free(piece);
  return written;
}

uint32_t CMyStream::Checksum(uint64_t* length) {
  if (length) *length = 0;
  Sync();
  int64_t position = 0;
  if (!Seek(0, &position, 1) || !Seek(0, nullptr, 0)) return 0;
  auto* piece = static_cast<uint8_t*>(std::malloc(kCopyPiece));
  uint32_t crc = 0;
  uint64_t total = 0;
  if (piece) {
    for (size_t n; (n = Read(piece, kCopyPiece)) > 0; total += n)
      for (size_t i = 0; i < n; ++i) crc = CksumByte(crc, piece[i]);
    std::free(piece);
  }
  for (uint64_t v = total; v; v >>= 8) crc = CksumByte(crc, static_cast<uint8_t>(v));
  Seek(position, nullptr, 0);
  if (length) *length = total;
  return ~crc;
}

uint32_t CMyStream::Crc32() {
  Sync();
  int64_t position = 0;
  if (!Seek(0, &position, 1) || !Seek(0, nullptr, 0)) return 0;
  auto* piece = static_cast<uint8_t*>(std::malloc(kCopyPiece));
  uint32_t crc = 0xFFFFFFFFu;
  if (piece) {
    const uint32_t* table = Tables().lsb;
    for (size_t n; (n = Read(piece, kCopyPiece)) > 0;)
      for (size_t i = 0; i < n; ++i) crc = (crc >> 8) ^ table[(crc ^ piece[i]) & 0xFF];
    std::free(piece);
  }
  Seek(position, nullptr, 0);
  return crc;
}

bool CMyStream::GetRange(uint64_t offset, const void** data, size_t length, bool* owned) {
  *data = nullptr;
  *owned = false;
  if (!Sync()) return false;
  int64_t position = 0;
  if (!Seek(0, &position, 1)) return false;
  int64_t at = 0;
  auto* copy = static_cast<uint8_t*>(std::malloc(length ? length : 1));
  bool ok = copy && Seek(static_cast<int64_t>(offset), &at, 0) &&
            static_cast<uint64_t>(at) == offset;
  size_t got = 0;
  while (ok && got < length) {
    size_t n = Read(copy + got, length - got);
    if (n == 0) ok = false;
    got += n;
  }
  Seek(position, nullptr, 0);
  if (!ok) {
    std::free(copy);
    return false;
  }
  *data = copy;
  *owned = true;
  return true;
}

// ---- formatting into a stream ----

size_t FormatToStreamV(CMyStream& stream, const char* format, va_list args) {
  CSeqWriteStream out(stream);
  return FormatToSeqV(out, format, args);
}

size_t FormatToStreamV(CMyStream& stream, const WChar* format, va_list args) {
  CSeqWriteStream out(stream);
  return FormatToSeqV(out, format, args);
}

size_t FormatToStream(CMyStream& stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  size_t n = FormatToStreamV(stream, format, args);
  va_end(args);
  return n;
}

size_t FormatToStream(CMyStream& stream, const WChar* format, ...) {
  va_list args;
  va_start(args, format);
  size_t n = FormatToStreamV(stream, format, args);
  va_end(args);
  return n;
}

}  // namespace tarvixlib
