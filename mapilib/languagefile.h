// The language file format: UTF-8 text, one "NAME=text" line per text id.
//
// Lines reach the parser in pieces of at most kLanguagePieceChars UTF-16
// units (a longer line arrives as several pieces, each parsed as a line of
// its own). A piece that begins with "#" is a comment. Everything from the
// first line feed on is cut off; then the escapes \n \r \t \\ \" are
// replaced left to right (a backslash before anything else stays, and the
// next character is read normally); then the piece is split at "=" into
// tokens. A token that begins with a double quote runs to the next double
// quote (without the quotes) and may hold "="; after its closing quote the
// next token begins. Empty tokens are dropped and nothing is trimmed. The
// first token names the id, the text is the second token followed by "="
// and each further token.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/mystream.h"
#include "foundation/mystring.h"

namespace mapilib {

using tarvixlib::CMyStream;
using tarvixlib::CMyStringW;
using tarvixlib::WChar;

// The reader's buffer holds 1024 units with the terminator.
constexpr size_t kLanguagePieceChars = 1023;

enum class LanguageLineKind {
  kComment,   // "#" first
  kNoTokens,  // nothing left after escapes and the split
  kNameOnly,  // one token: no text
  kEntry,     // a name and a text
};

struct LanguageLine {
  LanguageLineKind kind = LanguageLineKind::kNoTokens;
  CMyStringW name;
  CMyStringW text;
};

// Parses one piece of `length` units (no terminator needed).
void ParseLanguageLine(const WChar* piece, size_t length, LanguageLine& line);

// Reads a language file's bytes as UTF-8 text in pieces: a byte-order mark
// at the very start is skipped, CR before LF is dropped, a piece ends after
// a line feed or when it holds kLanguagePieceChars units. Memory stays
// bounded whatever the file holds.
class CLanguageFileReader {
public:
  explicit CLanguageFileReader(CMyStream& stream) : stream_(stream) {}
  // The next piece (terminated, with its line feed if it had one); false at
  // the end of the file.
  bool NextPiece(const WChar** piece, size_t* length);

private:
  int NextUnit();  // next UTF-16 unit, -1 at the end
  int NextByte();
  void PushBack(int byte) { pushed_ = byte; }

  CMyStream& stream_;
  bool started_ = false;
  int pushed_ = -2;  // -2: nothing pushed back
  int pendingUnit_ = -1;
  WChar buffer_[kLanguagePieceChars + 1];
};

}  // namespace mapilib
