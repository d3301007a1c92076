// UTF-8 arrives from the pipe: decoding arbitrary bytes must stay inside the
// buffer its length function sized, and what our encoder writes must decode
// back to the same UTF-16 units.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/textconv.h"

using tarvixlib::WChar;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);  // stops at the first NUL when read as C text
  const char* utf8 = text.c_str();

  size_t units = tarvixlib::Utf16Length(utf8);
  std::vector<WChar> wide(units + 1, WChar(0x5A5A));
  size_t written = tarvixlib::Utf8Decode(wide.data(), utf8);
  if (written != units || wide[units] != 0) std::abort();

  // No sequence decodes to U+0000 (overlong forms of it are dropped), so
  // the decoded text is never cut short.
  for (size_t i = 0; i < units; ++i)
    if (wide[i] == 0) std::abort();
  size_t m = units;
  size_t bytes = tarvixlib::Utf8Length(wide.data(), m);
  std::vector<char> back(bytes + 1, 'Z');
  if (tarvixlib::Utf8EncodeN(back.data(), wide.data(), m) != bytes) std::abort();
  back[bytes] = 0;

  std::vector<WChar> again(tarvixlib::Utf16Length(back.data()) + 1);
  size_t n = tarvixlib::Utf8Decode(again.data(), back.data());
  if (n != m) std::abort();
  for (size_t i = 0; i < n; ++i)
    if (again[i] != wide[i]) std::abort();
  return 0;
}
