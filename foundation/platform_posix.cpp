// The platform seam outside Windows: the "thread's ANSI code page" is always
// Windows-1252, converted exactly as Windows converts it.
//
// Narrow to wide: every byte maps (bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D,
// undefined in the code page, map to U+0081 etc. as on Windows).
// Wide to narrow: characters outside the code page become '?'. Windows
// would first try a best-fit character (e.g. U+0100 -> 'A'); that table is
// not reproduced here, so such text differs from Windows in those places.
#include "foundation/platform.h"

namespace tarvixlib {
namespace platform {
namespace {

// Bytes 0x80..0x9F of Windows-1252.
constexpr char16_t kHigh1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

char16_t ByteToWide(unsigned char b) {
  return (b >= 0x80 && b <= 0x9F) ? kHigh1252[b - 0x80] : static_cast<char16_t>(b);
}

char WideToByte(char16_t w) {
  if (w < 0x80 || (w >= 0xA0 && w <= 0xFF)) return static_cast<char>(w);
  for (int i = 0; i < 32; ++i)
    if (kHigh1252[i] == w) return static_cast<char>(0x80 + i);
  return '?';
}

template <typename S>
int SourceLength(const S* src, int srcLen) {
  if (srcLen >= 0) return srcLen;
  int n = 0;
  while (src[n]) ++n;
  return n + 1;  // the terminator is converted too
}

}  // namespace

// Both directions are one unit to one unit in this code page.
int AnsiToWide(const char* src, int srcLen, WChar* dst, int dstCap) {
  if (!src || srcLen < -1) return 0;
  int n = SourceLength(src, srcLen);
  if (!dst || dstCap == 0) return n;
  if (dstCap < n) return 0;
  for (int i = 0; i < n; ++i) dst[i] = static_cast<WChar>(ByteToWide(static_cast<unsigned char>(src[i])));
  return n;
}

int WideToAnsi(const WChar* src, int srcLen, char* dst, int dstCap) {
  if (!src || srcLen < -1) return 0;
  int n = SourceLength(src, srcLen);
  if (!dst || dstCap == 0) return n;
  if (dstCap < n) return 0;
  for (int i = 0; i < n; ++i) dst[i] = WideToByte(static_cast<char16_t>(src[i]));
  return n;
}

}  // namespace platform
}  // namespace tarvixlib
