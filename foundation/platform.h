// The one seam between the platform-neutral core and the operating system.
// Everything in foundation/ that needs the OS goes through these functions;
// platform_win32.cpp and platform_posix.cpp are the two sides.
#pragma once

#include <cstddef>

namespace tarvixlib {

// One 16-bit code unit of UTF-16 text: wchar_t on Windows, char16_t elsewhere.
#ifdef _WIN32
using WChar = wchar_t;
#else
using WChar = char16_t;
#endif
static_assert(sizeof(WChar) == 2, "UTF-16 code units are 16 bits");

namespace platform {

// Converts between the calling thread's ANSI code page and UTF-16 (Windows:
// CP_THREAD_ACP; elsewhere Windows-1252). Lengths are in code units and
// exclude any terminator; srcLen -1 means the source is zero-terminated and
// the terminator is then converted too (as MultiByteToWideChar does).
// With dst null or dstCap 0 the function returns the length the conversion
// needs. Returns 0 on failure, including a destination that is too small.
int AnsiToWide(const char* src, int srcLen, WChar* dst, int dstCap);
int WideToAnsi(const WChar* src, int srcLen, char* dst, int dstCap);

}  // namespace platform
}  // namespace tarvixlib
