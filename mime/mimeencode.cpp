#include "mime/mimeencode.h"

#include <cstring>

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
struct QpLiteralTable {
  bool literal[256] = {};
  QpLiteralTable() {
    const char* set = "\t %&'(*+,-./:;<>?_";
    for (const char* p = set; *p; ++p) literal[static_cast<uint8_t>(*p)] = true;
    for (int c = '0'; c <= '9'; ++c) literal[c] = true;
    for (int c = 'A'; c <= 'Z'; ++c) literal[c] = true;
    for (int c = 'a'; c <= 'z'; ++c) literal[c] = true;
  }
};
const QpLiteralTable kQp;

const char kHexUpper[] = "0123456789ABCDEF";

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
    out[1] = kHexUpper[c >> 4];
    out[2] = kHexUpper[c & 15];
    out += 3;
    column_ += 3;
  }
  return out;
}

size_t CMimeQuotedPrintable::Step(const uint8_t* in, size_t length, char* out) {
  if (length == 0) return 0;
  char* o = out;
  size_t i = 0;
  if (held_ >= 0) {
    auto c = static_cast<uint8_t>(held_);
    held_ = -1;
    if (c == '\r' && in[0] == '\n') {
      o = PutHardBreak(o);
      i = 1;
    } else {
      o = PutByte(c, in[0], o);
    }
  }
  while (i + 1 < length) {
    uint8_t c = in[i];
    // The common case first: a literal byte that is not white space.
    if (kQp.literal[c] && c != ' ' && c != '\t' && column_ < 75) {
      *o++ = static_cast<char>(c);
      ++column_;
      ++i;
      continue;
    }
    if (c == '\r' && in[i + 1] == '\n') {
      o = PutHardBreak(o);
      i += 2;
      continue;
    }
    o = PutByte(c, in[i + 1], o);
    ++i;
  }
  if (i < length) held_ = in[i];
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
