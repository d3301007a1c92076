// Language files come from the product folder, written by whoever could
// write there: reading them must stay bounded, the pieces must decode
// exactly as the library decodes UTF-8, and parsing any piece must hold.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/mystream.h"
#include "foundation/textconv.h"
#include "mapilib/languagefile.h"

using tarvixlib::WChar;
using WString = std::basic_string<WChar>;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tarvixlib::CMyStreamBuf stream;
  stream.Write(data, size);
  stream.Seek(0, nullptr, 0);
  mapilib::CLanguageFileReader reader(stream);
  mapilib::LanguageLine line;
  WString all;
  const WChar* piece;
  size_t length;
  while (reader.NextPiece(&piece, &length)) {
    if (length == 0 || length > mapilib::kLanguagePieceChars || piece[length] != 0) std::abort();
    for (size_t i = 0; i + 1 < length; ++i)
      if (piece[i] == 0x0A) std::abort();  // a piece ends after its line feed
    all.append(piece, length);
    mapilib::ParseLanguageLine(piece, length, line);
    if (line.kind == mapilib::LanguageLineKind::kEntry && line.text.IsEmpty()) std::abort();
  }

  // The same bytes through the library's decoder, with the reader's text
  // mode applied: no leading byte-order mark, CR LF read as LF. Text with a
  // NUL byte cannot go through the zero-terminated decoder.
  if (std::memchr(data, 0, size)) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<WChar> wide(tarvixlib::Utf16Length(text.c_str()) + 1);
  size_t units = tarvixlib::Utf8Decode(wide.data(), text.c_str());
  WString expected;
  size_t i = units > 0 && wide[0] == 0xFEFF ? 1 : 0;
  for (; i < units; ++i) {
    if (wide[i] == 0x0D && i + 1 < units && wide[i + 1] == 0x0A) continue;
    expected.push_back(wide[i]);
  }
  if (all != expected) std::abort();
  return 0;
}
