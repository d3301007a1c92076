#include "mime/mimeencode.h"

#include <cstring>

#include "foundation/asciitext.h"

namespace tarvixlib {

namespace {

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two base64 characters per 12 input bits: one table lookup per half of a
// three-byte group instead of four single-character lookups.
struct Base64PairTable {
  char pairs[4096][2];
  Base64PairTable() {
    for (int i = 0; i < 4096; ++i) {
      pairs[i][0] = kBase64Alphabet[i >> 6];
      pairs[i][1] = kBase64Alphabet[i & 63];
    }
  }
};
const Base64PairTable kPairs;

inline char* EncodeGroup(const uint8_t* in, char* out) {
  uint32_t v = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
  std::memcpy(out, kPairs.pairs[v >> 12], 2);
  std::memcpy(out + 2, kPairs.pairs[v & 0xFFF], 2);
  return out + 4;
}

// Quoted-printable literal bytes, by byte value: tab, blank,
// % & ' ( * + , - . / (0x25-0x28, 0x2A-0x2F), the digits, : ; < > ?
// (0x3A-0x3C, 0x3E-0x3F), A-Z, _ and a-z. Everything else is encoded, among
// it ! " # $ ) = @ [ \ ] ^ ` { | } ~, the control characters, DEL and
// every byte from 0x80 up.
// The encoder's tables. A byte's output is looked up by the index
// c + 256 * (c is a blank or tab directly before CR or LF): the upper half
// holds the escapes that such white space needs. Each entry is stored as
// four bytes at once and the output advances by its length (1 or 3).
struct QpLiteralTable {
  bool literal[256] = {};
  uint8_t blank[256] = {};    // 1 for blank and tab
  uint8_t lineEnd[256] = {};  // 1 for CR and LF
  char code[512][4];
  uint8_t length[512];
  QpLiteralTable() {
    const char* set = "\t %&'(*+,-./:;<>?_";
    for (const char* p = set; *p; ++p) literal[static_cast<uint8_t>(*p)] = true;
    for (int c = '0'; c <= '9'; ++c) literal[c] = true;
    for (int c = 'A'; c <= 'Z'; ++c) literal[c] = true;
    for (int c = 'a'; c <= 'z'; ++c) literal[c] = true;
    blank[' '] = blank['\t'] = 1;
    lineEnd['\r'] = lineEnd['\n'] = 1;
    for (int i = 0; i < 512; ++i) {
      int c = i & 255;
      if (i < 256 && literal[c]) {
        code[i][0] = static_cast<char>(c);
        code[i][1] = code[i][2] = code[i][3] = 0;
        length[i] = 1;
      } else {
        code[i][0] = '=';
        code[i][1] = HexDigitUpper(c >> 4);
        code[i][2] = HexDigitUpper(c);
        code[i][3] = 0;
        length[i] = 3;
      }
    }
  }
};
const QpLiteralTable kQp;

}  // namespace

size_t CMimeBase64::EncodedSize(size_t length) {
  size_t lines = length / kLineBytes;
  size_t rest = length % kLineBytes;
  return lines * (kLineChars + 2) + (rest ? (rest + 2) / 3 * 4 + 2 : 0);
}

size_t CMimeBase64::Encode(const uint8_t* in, size_t length, char* out) {
  char* o = out;
  while (length >= kLineBytes) {
    for (int g = 0; g < 19; ++g, in += 3) o = EncodeGroup(in, o);
    *o++ = '\r';
    *o++ = '\n';
    length -= kLineBytes;
  }
  if (length) {
    for (; length >= 3; length -= 3, in += 3) o = EncodeGroup(in, o);
    if (length) {
      uint32_t v = uint32_t{in[0]} << 16;
      if (length == 2) v |= uint32_t{in[1]} << 8;
      *o++ = kBase64Alphabet[v >> 18];
      *o++ = kBase64Alphabet[(v >> 12) & 63];
      *o++ = length == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=';
      *o++ = '=';
    }
    *o++ = '\r';
    *o++ = '\n';
  }
  return static_cast<size_t>(o - out);
}

bool CMimeQuotedPrintable::IsLiteral(uint8_t c) { return kQp.literal[c]; }

inline char* CMimeQuotedPrintable::PutHardBreak(char* out) {
  *out++ = '\r';
  *out++ = '\n';
  column_ = 0;
  return out;
}

inline char* CMimeQuotedPrintable::PutByte(uint8_t c, int next, char* out) {
  bool literal = kQp.literal[c];
  if (literal && (c == ' ' || c == '\t') && (next == '\r' || next == '\n' || next < 0))
    literal = false;  // trailing white space would be dropped by a decoder
  if (literal) {
    if (column_ >= 75) {
      out[0] = '=';
      out[1] = '\r';
      out[2] = '\n';
      out += 3;
      column_ = 0;
    }
    *out++ = static_cast<char>(c);
    column_ += 1;
  } else {
    if (column_ >= 73) {
      out[0] = '=';
      out[1] = '\r';
      out[2] = '\n';
      out += 3;
      column_ = 0;
    }
    out[0] = '=';
    out[1] = HexDigitUpper(c >> 4);
    out[2] = HexDigitUpper(c);
    out += 3;
    column_ += 3;
  }
  return out;
}

size_t CMimeQuotedPrintable::Step(const uint8_t* in, size_t length, char* out) {
  if (length == 0) return 0;
  char* o = out;
  const uint8_t* p = in;
  if (held_ >= 0) {
    auto c = static_cast<uint8_t>(held_);
    held_ = -1;
    if (c == '\r' && in[0] == '\n') {
      o = PutHardBreak(o);
      ++p;
    } else {
      o = PutByte(c, in[0], o);
    }
  }
  // The column lives in a local: stores through `o` could alias the member
  // and force it back to memory on every byte. The loop has no branch per
  // byte on the byte's kind, only the rare soft break and the CR test.
  unsigned column = column_;
  const uint8_t* last = in + length - 1;  // held back for its look-ahead
  while (p < last) {
    uint8_t c = p[0];
    uint8_t next = p[1];
    if (c == '\r' && next == '\n') {
      o[0] = '\r';
      o[1] = '\n';
      o += 2;
      column = 0;
      p += 2;
      continue;
    }
    unsigned index = c + 256u * (kQp.blank[c] & kQp.lineEnd[next]);
    unsigned n = kQp.length[index];
    // A literal at column 75 or an escape at 73 goes onto a new line.
    if (column + n > 75) {
      std::memcpy(o, "=\r\n", 3);
      o += 3;
      column = 0;
    }
    std::memcpy(o, kQp.code[index], 4);
    o += n;
    column += n;
    ++p;
  }
  column_ = column;
  if (p == last) held_ = *p;  // not when a CR LF pair ended the data
  return static_cast<size_t>(o - out);
}

size_t CMimeQuotedPrintable::Finish(char* out) {
  char* o = out;
  if (held_ >= 0) o = PutByte(static_cast<uint8_t>(held_), -1, o);
  held_ = -1;
  column_ = 0;
  return static_cast<size_t>(o - out);
}

}  // namespace tarvixlib
