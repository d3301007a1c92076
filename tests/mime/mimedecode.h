// Strict decoders of the writer's transfer encodings, written from RFC 2045
// and RFC 4648 for the tests and the fuzz target. They reject anything the
// writer must not produce (long lines, bare CR or LF, lower-case hex,
// trailing white space, characters outside the literal set), so a decode
// that succeeds also checks the line rules.
#pragma once

#include <cstdint>
#include <string>

namespace mimetest {

inline int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Base64 body: lines of 76 characters, each followed by CR LF, the last
// line shorter or equal; "=" padding only at the very end. An empty text
// decodes to nothing.
inline bool DecodeBase64Body(const std::string& text, std::string* out, std::string* why) {
  out->clear();
  size_t pos = 0;
  bool ended = false;  // a short or padded line was seen
  while (pos < text.size()) {
    size_t eol = text.find("\r\n", pos);
    if (eol == std::string::npos) return *why = "line without CR LF", false;
    std::string line = text.substr(pos, eol - pos);
    pos = eol + 2;
    if (ended) return *why = "line after the last line", false;
    if (line.empty() || line.size() > 76 || line.size() % 4 != 0)
      return *why = "bad line length " + std::to_string(line.size()), false;
    if (line.size() < 76) ended = true;
    for (size_t i = 0; i < line.size(); i += 4) {
      int v[4];
      int pad = 0;
      for (int k = 0; k < 4; ++k) {
        char c = line[i + k];
        if (c == '=') {
          v[k] = 0;
          ++pad;
        } else {
          if (pad) return *why = "data after padding", false;
          v[k] = Base64Value(c);
          if (v[k] < 0) return *why = std::string("bad character ") + c, false;
        }
      }
      if (pad > 2 || (pad && i + 4 != line.size())) return *why = "misplaced padding", false;
      if (pad) ended = true;
      uint32_t bits = (uint32_t(v[0]) << 18) | (uint32_t(v[1]) << 12) | (uint32_t(v[2]) << 6) |
                      uint32_t(v[3]);
      out->push_back(static_cast<char>(bits >> 16));
      if (pad < 2) out->push_back(static_cast<char>((bits >> 8) & 0xFF));
      if (pad < 1) out->push_back(static_cast<char>(bits & 0xFF));
    }
  }
  return true;
}

// The bytes the writer leaves unencoded inside a line.
inline bool IsQpLiteral(unsigned char c) {
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  for (const char* p = "\t %&'(*+,-./:;<>?_"; *p; ++p)
    if (c == static_cast<unsigned char>(*p)) return true;
  return false;
}

inline int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // lower case is not what the writer produces
}

// Quoted-printable body: lines of at most 76 characters separated by CR LF
// (hard breaks, decoded as CR LF) or ended by "=" (soft breaks); "=XX" with
// upper-case hex; no white space at the end of a line or of the body.
inline bool DecodeQpBody(const std::string& text, std::string* out, std::string* why) {
  out->clear();
  size_t pos = 0;
  for (;;) {
    size_t eol = text.find("\r\n", pos);
    bool last = eol == std::string::npos;
    std::string line = text.substr(pos, last ? std::string::npos : eol - pos);
    if (line.size() > 76) return *why = "line of " + std::to_string(line.size()), false;
    bool soft = false;
    for (size_t i = 0; i < line.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(line[i]);
      if (c == '=') {
        if (i + 1 == line.size()) {
          if (last) return *why = "soft break at the end", false;
          soft = true;
          break;
        }
        if (i + 2 >= line.size()) return *why = "cut escape", false;
        int hi = HexValue(line[i + 1]), lo = HexValue(line[i + 2]);
        if (hi < 0 || lo < 0) return *why = "bad escape", false;
        out->push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
      } else if (IsQpLiteral(c)) {
        out->push_back(static_cast<char>(c));
      } else {
        return *why = "unencoded byte " + std::to_string(c), false;
      }
    }
    if (!soft && !line.empty() && (line.back() == ' ' || line.back() == '\t'))
      return *why = "trailing white space", false;
    if (last) return true;
    if (!soft) out->append("\r\n");
    pos = eol + 2;
  }
}

}  // namespace mimetest
