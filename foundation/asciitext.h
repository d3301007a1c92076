// ASCII character helpers for the whole tree: case folding, comparing
// without regard to ASCII case, hexadecimal digits. Only a-z and A-Z fold;
// every other byte, 0x80 and above included, stays as it is. (The name
// hashes and the text search of the library fold more: FoldNameByte.)
//
//   AsciiEqualsNoCase("Content-Type", "content-TYPE")   -> true
//   AsciiStartsWithNoCase("removable1", "REMOVABLE")    -> true
//   HexDigitValue('b')                                   -> 11
#pragma once

#include <cstddef>

namespace tarvixlib {

constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

inline void AsciiUpperInPlace(char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) text[i] = AsciiUpper(text[i]);
}
inline void AsciiLowerInPlace(char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) text[i] = AsciiLower(text[i]);
}

// Equal zero-terminated texts with ASCII letters compared without regard to
// case. A null text reads as the empty text.
inline bool AsciiEqualsNoCase(const char* a, const char* b) {
  if (!a) a = "";
  if (!b) b = "";
  for (;; ++a, ++b) {
    if (AsciiUpper(*a) != AsciiUpper(*b)) return false;
    if (*a == '\0') return true;
  }
}

// Whether `text` begins with `prefix`, compared as above. A null text
// begins with nothing.
inline bool AsciiStartsWithNoCase(const char* text, const char* prefix) {
  if (!text) return false;
  for (; *prefix; ++text, ++prefix) {
    if (AsciiUpper(*text) != AsciiUpper(*prefix)) return false;  // also the end of text
  }
  return true;
}

// The folding of the library's name hashes and text search: a-z and the
// bytes 0xE0..0xFF move down by 32 (to upper case in code page 1252).
constexpr unsigned char FoldNameByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || c >= 0xE0 ? static_cast<unsigned char>(c - 32) : c;
}

// The upper-case hexadecimal digit of the low four bits of `value`.
constexpr char HexDigitUpper(unsigned value) { return "0123456789ABCDEF"[value & 15]; }

// The value of a hexadecimal digit of either case, or -1.
constexpr int HexDigitValue(char c) {
  return c >= '0' && c <= '9'   ? c - '0'
         : c >= 'a' && c <= 'f' ? c - 'a' + 10
         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                : -1;
}

}  // namespace tarvixlib
