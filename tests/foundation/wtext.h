// Wide string literals for tests: wchar_t on Windows, char16_t elsewhere,
// matching tarvixlib::WChar.
#pragma once

#include <string>

#include "foundation/platform.h"

#ifdef _WIN32
#define WTEXT(s) L##s
#else
#define WTEXT(s) u##s
#endif

using WString = std::basic_string<tarvixlib::WChar>;

// Printable form of wide text for failure messages: \uXXXX beyond ASCII.
inline std::string Escaped(const WString& text) {
  std::string out;
  char buf[8];
  for (auto c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      std::snprintf(buf, sizeof(buf), "\\u%04X", static_cast<unsigned>(c));
      out += buf;
    }
  }
  return out;
}
