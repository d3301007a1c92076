// The platform seam on Windows: conversions through the calling thread's
// ANSI code page (CP_THREAD_ACP, so SetThreadLocale changes it).
#include "foundation/platform.h"

#include <windows.h>

namespace tarvixlib {
namespace platform {

// Narrow to wide with precomposed characters.
int AnsiToWide(const char* src, int srcLen, WChar* dst, int dstCap) {
  if (!src || srcLen < -1 || srcLen == 0) return 0;
  if (!dst) dstCap = 0;
  return MultiByteToWideChar(CP_THREAD_ACP, MB_PRECOMPOSED, src, srcLen, dst, dstCap);
}

// Wide to narrow without flags and without a default character: characters
// the code page lacks get the system's treatment (best fit, else its
// default character).
int WideToAnsi(const WChar* src, int srcLen, char* dst, int dstCap) {
  if (!src || srcLen < -1 || srcLen == 0) return 0;
  if (!dst) dstCap = 0;
  return WideCharToMultiByte(CP_THREAD_ACP, 0, src, srcLen, dst, dstCap, nullptr, nullptr);
}

}  // namespace platform
}  // namespace tarvixlib
