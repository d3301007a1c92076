// Text conversions: ANSI <-> UTF-16 through the platform seam, the
// library's UTF-8 dialect, and the name hashes.
#include "foundation/textconv.h"

#include <cstring>

#include "foundation/asciitext.h"

namespace tarvixlib {
namespace {

template <typename T>
size_t Length(const T* text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

// Shared shape of both ANSI directions: measure with a null buffer, else
// convert leaving room for the terminator; failure leaves an empty text.
template <typename From, typename To, typename Convert>
int ConvertTerminated(To* buffer, const From* text, int bufferSize, Convert convert) {
  size_t length = text ? Length(text) : 0;
  if (length > 0x7FFFFFFF) length = 0;  // beyond what the platform takes
  int n = static_cast<int>(length);
  if (!buffer) return n ? convert(text, n, nullptr, 0) : 0;
  if (bufferSize <= 0) return 0;
  buffer[0] = To(0);
  // With room for no character the platform would only measure.
  if (n == 0 || bufferSize < 2) return 0;
  int written = convert(text, n, buffer, bufferSize - 1);
  if (written <= 0 || written > bufferSize - 1) {
    buffer[0] = To(0);
    return 0;
  }
  buffer[written] = To(0);
  return written;
}

inline bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Decodes one step of UTF-8 at p. Returns the bytes consumed (at least 1)
// and sets unit/produced when a UTF-16 unit results.
inline size_t DecodeStep(const unsigned char* p, WChar& unit, bool& produced) {
  unsigned char lead = p[0];
  produced = false;
  if (lead < 0x80) {
    unit = static_cast<WChar>(lead);
    produced = true;
    return 1;
  }
  if (lead < 0xC0) return 1;  // stray continuation byte
  // An overlong form (a value that fits a shorter sequence: C0 80 and
  // E0 80 80 would be U+0000 and cut the text there) is invalid like any
  // other broken sequence: its lead is dropped, and the continuation bytes
  // behind it then as strays.
  if (lead < 0xE0) {
    if (lead < 0xC2 || !IsContinuation(p[1])) return 1;
    unit = static_cast<WChar>(((lead << 6) & 0x7FF) | (p[1] & 0x3F));
    produced = true;
    return 2;
  }
  if (lead < 0xF0) {
    if (!IsContinuation(p[1]) || !IsContinuation(p[2])) return 1;
    if (lead == 0xE0 && p[1] < 0xA0) return 1;  // overlong: below U+0800
    unit = static_cast<WChar>(((lead << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F)) & 0xFFFF);
    produced = true;
    return 3;
  }
  // Four-byte sequences carry characters beyond the BMP; they are skipped.
  // (The short-circuit stops at the first non-continuation byte, so the
  // terminator is never passed.) An overlong four-byte form produces
  // nothing either way.
  if (lead < 0xF4 && IsContinuation(p[1]) && IsContinuation(p[2]) && IsContinuation(p[3])) return 4;
  return 1;
}

inline size_t EncodedSize(WChar unit) {
  auto u = static_cast<uint32_t>(unit);
  return u < 0x80 ? 1 : (u < 0x800 ? 2 : 3);
}

}  // namespace

int AnsiToWide(WChar* buffer, const char* text, int bufferChars) {
  return ConvertTerminated(buffer, text, bufferChars, platform::AnsiToWide);
}

int WideToAnsi(char* buffer, const WChar* text, int bufferBytes) {
  return ConvertTerminated(buffer, text, bufferBytes, platform::WideToAnsi);
}

size_t Utf8Length(const WChar* text, size_t units) {
  size_t bytes = 0;
  for (size_t i = 0; i < units; ++i) bytes += EncodedSize(text[i]);
  return bytes;
}

size_t Utf8Length(const WChar* text) {
  if (!text) return 0;
  size_t bytes = 0;
  for (; *text; ++text) bytes += EncodedSize(*text);
  return bytes;
}

size_t Utf8EncodeN(char* buffer, const WChar* text, size_t units) {
  unsigned char* out = reinterpret_cast<unsigned char*>(buffer);
  for (size_t i = 0; i < units; ++i) {
    // Runs of ASCII are the common case: four units per step.
    while (i + 4 <= units) {
      uint64_t four;
      std::memcpy(&four, text + i, sizeof(four));
      if (four & 0xFF80FF80FF80FF80ull) break;
      out[0] = static_cast<unsigned char>(text[i]);
      out[1] = static_cast<unsigned char>(text[i + 1]);
      out[2] = static_cast<unsigned char>(text[i + 2]);
      out[3] = static_cast<unsigned char>(text[i + 3]);
      out += 4;
      i += 4;
    }
    if (i == units) break;
    auto u = static_cast<uint32_t>(text[i]);
    if (u < 0x80) {
      *out++ = static_cast<unsigned char>(u);
    } else if (u < 0x800) {
      *out++ = static_cast<unsigned char>(0xC0 | (u >> 6));
      *out++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
    } else {
      *out++ = static_cast<unsigned char>(0xE0 | (u >> 12));
      *out++ = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
      *out++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
    }
  }
  return static_cast<size_t>(out - reinterpret_cast<unsigned char*>(buffer));
}

size_t Utf8Encode(char* buffer, const WChar* text) {
  size_t n = text ? Utf8EncodeN(buffer, text, Length(text)) : 0;
  buffer[n] = 0;
  return n;
}

size_t Utf16Length(const char* utf8) {
  if (!utf8) return 0;
  auto p = reinterpret_cast<const unsigned char*>(utf8);
  size_t units = 0;
  WChar unit;
  bool produced;
  while (*p) {
    p += DecodeStep(p, unit, produced);
    units += produced;
  }
  return units;
}

size_t Utf8Decode(WChar* buffer, const char* utf8) {
  size_t units = 0;
  if (utf8) {
    auto p = reinterpret_cast<const unsigned char*>(utf8);
    WChar unit;
    bool produced;
    while (*p) {
      p += DecodeStep(p, unit, produced);
      if (produced) buffer[units++] = unit;
    }
  }
  buffer[units] = WChar(0);
  return units;
}

namespace {
template <typename Fold>
uint32_t Hash(const char* text, Fold fold) {
  if (!text) return 0;
  uint32_t hash = 0;
  size_t length = 0;
  for (; text[length]; ++length) {
    auto b = static_cast<signed char>(fold(static_cast<unsigned char>(text[length])));
    hash = hash * 33u + static_cast<uint32_t>(static_cast<int32_t>(b));
  }
  return hash + static_cast<uint32_t>(length);
}
}  // namespace

uint32_t HashName(const char* text) {
  return Hash(text, [](unsigned char b) { return b; });
}

uint32_t HashNameNoCase(const char* text) { return Hash(text, FoldNameByte); }

bool TextEqualsNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char ca = FoldNameByte(static_cast<unsigned char>(*a));
    unsigned char cb = FoldNameByte(static_cast<unsigned char>(*b));
    if (ca != cb) return false;
    if (ca == 0) return true;
  }
}

}  // namespace tarvixlib
