#include "mapilib/languagefile.h"

namespace mapilib {
namespace {

constexpr WChar kLineFeed = 0x0A;
constexpr WChar kQuote = '"';
constexpr WChar kBackslash = '\\';
constexpr WChar kEquals = '=';

// The character an escape stands for, 0 when backslash + c is no escape.
WChar Unescaped(WChar c) {
  switch (c) {
    case 'n': return 0x0A;
    case 'r': return 0x0D;
    case 't': return 0x09;
    case '\\': return '\\';
    case '"': return '"';
    default: return 0;
  }
}

}  // namespace

void ParseLanguageLine(const WChar* piece, size_t length, LanguageLine& line) {
  line.name.Empty();
  line.text.Empty();
  if (length > 0 && piece[0] == '#') {
    line.kind = LanguageLineKind::kComment;
    return;
  }
  // Cut at the first line feed, then replace the escapes. A NUL ends the
  // line too: the tokens are zero-terminated texts, and one that began with
  // a NUL would make an entry with an empty text.
  WChar text[kLanguagePieceChars + 1];
  size_t n = 0;
  for (size_t i = 0; i < length && piece[i] != kLineFeed && piece[i] != 0 &&
                     n < kLanguagePieceChars;
       ++i) {
    WChar c = piece[i];
    if (c == kBackslash && i + 1 < length && piece[i + 1] != kLineFeed) {
      if (WChar replaced = Unescaped(piece[i + 1])) {
        text[n++] = replaced;
        ++i;
        continue;
      }
    }
    text[n++] = c;
  }
  text[n] = 0;

  // Split at "=" into tokens; quoted tokens run to the next quote.
  size_t tokens = 0;
  size_t i = 0;
  while (i < n) {
    if (text[i] == kEquals) {
      ++i;
      continue;
    }
    size_t start, end;
    if (text[i] == kQuote) {
      start = ++i;
      while (i < n && text[i] != kQuote) ++i;
      end = i;
      if (i < n) ++i;  // the closing quote
    } else {
      start = i;
      while (i < n && text[i] != kEquals) ++i;
      end = i;
    }
    if (end == start) continue;
    WChar saved = text[end];
    text[end] = 0;
    if (tokens == 0) {
      line.name.Assign(text + start);
    } else {
      if (tokens > 1) line.text.Append(TARVIX_WTEXT("="));
      line.text.Append(text + start);
    }
    text[end] = saved;
    ++tokens;
  }
  line.kind = tokens == 0   ? LanguageLineKind::kNoTokens
              : tokens == 1 ? LanguageLineKind::kNameOnly
                            : LanguageLineKind::kEntry;
}

int CLanguageFileReader::NextByte() {
  if (pushed_ != -2) {
    int byte = pushed_;
    pushed_ = -2;
    return byte;
  }
  return stream_.ReadByte();
}

// UTF-8 as the library decodes it: invalid and overlong sequences and
// four-byte forms produce nothing.
int CLanguageFileReader::NextUnit() {
  if (pendingUnit_ >= 0) {
    int unit = pendingUnit_;
    pendingUnit_ = -1;
    return unit;
  }
  for (;;) {
    int lead = NextByte();
    if (lead < 0) return -1;
    if (lead < 0x80) return lead;
    if (lead < 0xC0) continue;  // stray continuation byte
    int need = lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : lead < 0xF4 ? 3 : 0;
    if (need == 0) continue;
    uint32_t value = static_cast<uint32_t>(lead) & (need == 1 ? 0x1F : need == 2 ? 0x0F : 0x07);
    int got = 0;
    for (; got < need; ++got) {
      int next = NextByte();
      if (next < 0x80 || next > 0xBF) {
        PushBack(next);
        break;
      }
      value = (value << 6) | (static_cast<uint32_t>(next) & 0x3F);
    }
    if (got < need) continue;  // the lead is dropped; the byte that broke it is read anew
    if (need == 3) continue;   // beyond the BMP: nothing
    uint32_t least = need == 1 ? 0x80 : 0x800;
    if (value < least) continue;  // overlong
    return static_cast<int>(value & 0xFFFF);
  }
}

bool CLanguageFileReader::NextPiece(const WChar** piece, size_t* length) {
  size_t n = 0;
  for (;;) {
    int unit = NextUnit();
    if (!started_) {
      started_ = true;
      if (unit == 0xFEFF) continue;  // byte-order mark
    }
    if (unit < 0) break;
    if (unit == 0x0D) {
      int next = NextUnit();
      if (next == kLineFeed) {
        unit = kLineFeed;
      } else if (next >= 0) {
        pendingUnit_ = next;
      }
    }
    buffer_[n++] = static_cast<WChar>(unit);
    if (unit == kLineFeed || n == kLanguagePieceChars) break;
  }
  buffer_[n] = 0;
  *piece = buffer_;
  *length = n;
  return n > 0;
}

}  // namespace mapilib
