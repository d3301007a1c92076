// The printf engine. One run reads the format once, writing through three
// small output primitives (Put, PutChar, PutRepeat) whose fast path is an
// inline copy into the current area; everything else happens in Overflow,
// which knows the three output modes.
#include "foundation/myprintf.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "foundation/textconv.h"

namespace tarvixlib {
namespace {

// Padding is written in blocks of at most 16 characters.
constexpr size_t kPadBlock = 16;

// Width and precision digits beyond this are ignored (keeps the arithmetic
// in range; no real format asks for more).
constexpr int kMaxFieldDigitsValue = 100000000;

// Exact decimal expansions of doubles: at most 1074 digits after the
// decimal point and at most 767 significant digits, so requests beyond
// these limits only add zeros.
constexpr int kMaxFixedDigits = 1074;
constexpr int kMaxExpDigits = 800;
constexpr size_t kFloatBuffer = 1500;  // 309 integer digits + "." + 1074 + slack

template <typename CharT>
struct Literals {
  static constexpr CharT kNull[6] = {'(', 'n', 'u', 'l', 'l', ')'};
  static constexpr CharT kSpaces[kPadBlock] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                               ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  static constexpr CharT kZeros[kPadBlock] = {'0', '0', '0', '0', '0', '0', '0', '0',
                                              '0', '0', '0', '0', '0', '0', '0', '0'};
  static constexpr CharT kLowerHex[16] = {'0', '1', '2', '3', '4', '5', '6', '7',
                                          '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
  static constexpr CharT kUpperHex[16] = {'0', '1', '2', '3', '4', '5', '6', '7',
                                          '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
};

// "00" "01" ... "99": two decimal digits per division.
constexpr char kDigitPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the digits of value in base 10, 8 or 16 backwards ending at end;
// returns the first digit.
template <typename CharT>
CharT* DigitsBackwards(CharT* end, uint64_t value, unsigned base, bool upper) {
  CharT* p = end;
  if (base == 10) {
    while (value >= 100) {
      unsigned pair = static_cast<unsigned>(value % 100) * 2;
      value /= 100;
      *--p = static_cast<CharT>(kDigitPairs[pair + 1]);
      *--p = static_cast<CharT>(kDigitPairs[pair]);
    }
    if (value >= 10) {
      unsigned pair = static_cast<unsigned>(value) * 2;
      *--p = static_cast<CharT>(kDigitPairs[pair + 1]);
      *--p = static_cast<CharT>(kDigitPairs[pair]);
    } else {
      *--p = static_cast<CharT>('0' + value);
    }
    return p;
  }
  const CharT* digits = upper ? Literals<CharT>::kUpperHex : Literals<CharT>::kLowerHex;
  unsigned shift = base == 16 ? 4 : 3;
  uint64_t mask = base - 1;
  do {
    *--p = digits[value & mask];
    value >>= shift;
  } while (value);
  return p;
}

template <typename T>
size_t LengthLimited(const T* text, bool limited, int limit) {
  if (!limited) {
    if constexpr (sizeof(T) == 1) return std::strlen(text);  // the library's vectorized scan
    size_t n = 0;
    while (text[n]) ++n;
    return n;
  }
  size_t n = 0;
  size_t max = static_cast<size_t>(limit);
  while (n < max && text[n]) ++n;
  return n;
}

}  // namespace

template <typename CharT>
CMyPrintfT<CharT>::~CMyPrintfT() {
  Release();
}

template <typename CharT>
void CMyPrintfT<CharT>::Release() {
  if (!m_temp) return;  // the common run allocates nothing
  std::free(m_temp);
  m_temp = nullptr;
  m_tempChars = 0;
}

template <typename CharT>
void CMyPrintfT<CharT>::Begin(Mode mode, CharT* start, CharT* end) {
  m_mode = mode;
  m_pos = m_start = start;
  m_end = end;
  m_total = 0;
  m_stopped = false;
}

template <typename CharT>
CharT* CMyPrintfT<CharT>::TempBuffer(size_t chars) {
  if (chars <= m_tempChars) return m_temp;
  std::free(m_temp);
  m_temp = static_cast<CharT*>(std::malloc(chars * sizeof(CharT)));
  m_tempChars = m_temp ? chars : 0;
  return m_temp;
}

// ---- output primitives ---------------------------------------------------

template <typename CharT>
inline bool CMyPrintfT<CharT>::Put(const CharT* text, size_t count) {
  if (static_cast<size_t>(m_end - m_pos) >= count) {
    std::memcpy(m_pos, text, count * sizeof(CharT));
    m_pos += count;
    return true;
  }
  return Overflow(text, count);
}

template <typename CharT>
inline bool CMyPrintfT<CharT>::PutChar(CharT c) {
  if (m_pos != m_end) {
    *m_pos++ = c;
    return true;
  }
  return Overflow(&c, 1);
}

template <typename CharT>
bool CMyPrintfT<CharT>::PutRepeat(CharT c, size_t count) {
  if (count > kScratchChars && m_mode == kModeMeasure) {
    // Measuring only needs the count. A non-zero total means the text is
    // formatted again into its exact allocation, so nothing is lost.
    m_total += count;
    return true;
  }
  const CharT* block = c == CharT('0') ? Literals<CharT>::kZeros : Literals<CharT>::kSpaces;
  while (count) {
    size_t n = count < kPadBlock ? count : kPadBlock;
    if (!Put(block, n)) return false;
    count -= n;
  }
  return true;
}

template <typename CharT>
bool CMyPrintfT<CharT>::Overflow(const CharT* text, size_t count) {
  for (;;) {
    size_t room = static_cast<size_t>(m_end - m_pos);
    size_t n = count < room ? count : room;
    std::memcpy(m_pos, text, n * sizeof(CharT));
    m_pos += n;
    text += n;
    count -= n;
    if (count == 0) return true;
    if (!FlushChunk()) return false;
  }
}

// The current area is full: stop (fixed buffer), count and restart
// (measure) or pass the chunk on (stream).
template <typename CharT>
bool CMyPrintfT<CharT>::FlushChunk() {
  size_t chars = static_cast<size_t>(m_pos - m_start);
  switch (m_mode) {
    case kModeBuffer:
      m_stopped = true;
      return false;
    case kModeMeasure:
      m_total += chars;
      m_pos = m_start;
      return true;
    case kModeStream: {
      size_t bytes = chars * sizeof(CharT);
      size_t took = m_stream->Write(m_start, bytes);
      if (took > bytes) took = bytes;
      m_total += took / sizeof(CharT);
      m_pos = m_start;
      if (took < bytes) {
        m_stopped = true;
        return false;
      }
      return true;
    }
  }
  return false;
}

template <typename CharT>
void CMyPrintfT<CharT>::FinishStream() {
  if (!m_stopped && m_pos != m_start) FlushChunk();
}

// ---- field assembly --------------------------------------------------------

template <typename CharT>
bool CMyPrintfT<CharT>::PutField(const Spec& spec, const CharT* prefix, size_t prefixLength,
                                 size_t zeros, const CharT* body, size_t bodyLength) {
  size_t used = prefixLength + zeros + bodyLength;
  size_t width = static_cast<size_t>(spec.width);
  size_t pad = width > used ? width - used : 0;
  bool left = (spec.flags & kLeft) != 0;
  if (pad && !left && !PutRepeat(CharT(' '), pad)) return false;
  if (prefixLength && !Put(prefix, prefixLength)) return false;
  if (zeros && !PutRepeat(CharT('0'), zeros)) return false;
  if (bodyLength && !Put(body, bodyLength)) return false;
  if (pad && left && !PutRepeat(CharT(' '), pad)) return false;
  return true;
}

template <typename CharT>
bool CMyPrintfT<CharT>::PutText(const Spec& spec, const CharT* text, size_t length) {
  if (spec.width == 0) return Put(text, length);
  return PutField(spec, nullptr, 0, 0, text, length);
}

// ---- conversions -----------------------------------------------------------

template <typename CharT>
bool CMyPrintfT<CharT>::ConvertInteger(Spec& spec, CharT conversion) {
  bool isSigned = conversion == CharT('d');
  unsigned base = 10;
  if (conversion == CharT('o')) base = 8;
  else if (conversion == CharT('x') || conversion == CharT('X')) base = 16;

  uint64_t magnitude;
  bool negative = false;
  if (spec.flags & kInt64) {
    if (isSigned) {
      long long v = va_arg(m_args, long long);
      negative = v < 0;
      magnitude = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    } else {
      magnitude = va_arg(m_args, unsigned long long);
    }
  } else if (isSigned) {
    int v = va_arg(m_args, int);
    if (spec.flags & kShort) v = static_cast<short>(v);
    negative = v < 0;
    magnitude = negative ? 0 - static_cast<uint64_t>(static_cast<int64_t>(v)) : static_cast<uint64_t>(v);
  } else {
    unsigned v = va_arg(m_args, unsigned);
    if (spec.flags & kShort) v = static_cast<unsigned short>(v);
    magnitude = v;
  }

  CharT digitBuffer[24];
  CharT* end = digitBuffer + 24;
  CharT* first = end;
  bool hasPrecision = (spec.flags & kHasPrecision) != 0;
  if (magnitude != 0 || !hasPrecision || spec.precision != 0)
    first = DigitsBackwards(end, magnitude, base, conversion == CharT('X'));
  size_t digits = static_cast<size_t>(end - first);
  size_t zeros = hasPrecision && static_cast<size_t>(spec.precision) > digits
                     ? static_cast<size_t>(spec.precision) - digits
                     : 0;
  if (base == 8 && (spec.flags & kAlternate) && zeros == 0 && (digits == 0 || *first != CharT('0'))) {
    *--first = CharT('0');
    ++digits;
  }

  CharT prefix[2];
  size_t prefixLength = 0;
  if (negative) prefix[prefixLength++] = CharT('-');
  else if (isSigned && (spec.flags & kSignPlus)) prefix[prefixLength++] = CharT('+');
  else if (isSigned && (spec.flags & kSignSpace)) prefix[prefixLength++] = CharT(' ');
  if (base == 16 && (spec.flags & kAlternate) && magnitude != 0) {
    prefix[prefixLength++] = CharT('0');
    prefix[prefixLength++] = conversion;  // 'x' or 'X'
  }

  if ((spec.flags & (kZeroPad | kLeft | kHasPrecision)) == kZeroPad) {
    size_t used = prefixLength + digits;
    if (static_cast<size_t>(spec.width) > used) zeros = static_cast<size_t>(spec.width) - used;
  }
  if (spec.width == 0 && prefixLength == 0 && zeros == 0) return Put(first, digits);
  return PutField(spec, prefix, prefixLength, zeros, first, digits);
}

template <typename CharT>
bool CMyPrintfT<CharT>::ConvertPointer(Spec& spec, bool withPrefix) {
  auto value = reinterpret_cast<uintptr_t>(va_arg(m_args, void*));
  CharT digitBuffer[24];
  CharT* end = digitBuffer + 24;
  CharT* first = DigitsBackwards(end, value, 16, false);
  size_t digits = static_cast<size_t>(end - first);
  if (withPrefix) {
    const CharT prefix[2] = {CharT('0'), CharT('x')};
    return PutField(spec, prefix, 2, 0, first, digits);
  }
  // Without a width the full pointer width is shown.
  size_t full = sizeof(void*) * 2;
  size_t zeros = spec.width == 0 && digits < full ? full - digits : 0;
  return PutField(spec, nullptr, 0, zeros, first, digits);
}

// Whether a c/C/s/S argument is wide text: "h" forces narrow, "l"/"w" force
// wide, else the lower-case letter takes the engine's width and the
// upper-case letter the other one.
template <typename CharT>
static bool ArgumentIsWide(unsigned flags, unsigned narrowFlag, unsigned wideFlag, bool otherWidth) {
  if (flags & narrowFlag) return false;
  if (flags & wideFlag) return true;
  bool engineWide = sizeof(CharT) != 1;
  return engineWide != otherWidth;
}

template <typename CharT>
bool CMyPrintfT<CharT>::ConvertChar(Spec& spec, bool otherWidth) {
  bool wideArg = ArgumentIsWide<CharT>(spec.flags, kNarrowText, kWideText, otherWidth);
  int raw = va_arg(m_args, int);
  CharT text[8];
  size_t length = 1;
  if constexpr (sizeof(CharT) == 1) {
    if (wideArg) {
      WChar w = static_cast<WChar>(raw);
      int n = platform::WideToAnsi(&w, 1, text, static_cast<int>(sizeof(text)));
      length = n > 0 ? static_cast<size_t>(n) : 0;
    } else {
      text[0] = static_cast<char>(raw);
    }
  } else {
    if (!wideArg) {
      char c = static_cast<char>(raw);
      int n = platform::AnsiToWide(&c, 1, text, 8);
      length = n > 0 ? static_cast<size_t>(n) : 0;
    } else {
      text[0] = static_cast<CharT>(raw);
    }
  }
  return PutText(spec, text, length);
}

template <typename CharT>
bool CMyPrintfT<CharT>::ConvertString(Spec& spec, bool otherWidth) {
  using OtherT = std::conditional_t<sizeof(CharT) == 1, WChar, char>;
  bool wideArg = ArgumentIsWide<CharT>(spec.flags, kNarrowText, kWideText, otherWidth);
  bool sameWidth = wideArg == (sizeof(CharT) != 1);
  bool limited = (spec.flags & kHasPrecision) != 0;

  if (sameWidth) {
    const CharT* s = va_arg(m_args, const CharT*);
    if (!s) return PutText(spec, Literals<CharT>::kNull, 6);
    return PutText(spec, s, LengthLimited(s, limited, spec.precision));
  }

  const OtherT* s = va_arg(m_args, const OtherT*);
  if (!s) return PutText(spec, Literals<CharT>::kNull, 6);

  if constexpr (sizeof(CharT) == 1) {
    if (spec.flags & kUtf8Text) {
      // Wide to UTF-8, always whole. Encoded straight into the output while
      // the room surely holds it (3 bytes per unit at most), else in chunks
      // through a small local buffer. Only a width needs the length first.
      size_t units = LengthLimited(s, false, 0);
      size_t bytes = spec.width ? Utf8Length(s, units) : 0;
      size_t pad = static_cast<size_t>(spec.width) > bytes ? static_cast<size_t>(spec.width) - bytes : 0;
      bool left = (spec.flags & kLeft) != 0;
      if (pad && !left && !PutRepeat(' ', pad)) return false;
      while (units) {
        size_t take = std::min(units, static_cast<size_t>(m_end - m_pos) / 3);
        if (take >= 16 || take == units) {
          m_pos += Utf8EncodeN(m_pos, s, take);
        } else {
          char chunk[3 * 64];
          take = std::min<size_t>(units, 64);
          if (!Put(chunk, Utf8EncodeN(chunk, s, take))) return false;
        }
        s += take;
        units -= take;
      }
      if (pad && left && !PutRepeat(' ', pad)) return false;
      return true;
    }
  }

  // The other width through the thread's ANSI code page (narrow engine), or
  // ANSI / UTF-8 into UTF-16 (wide engine). The precision limits the source
  // units taken, except for UTF-8 which is always taken whole.
  CharT local[256];
  CharT* out = local;
  size_t length = 0;
  if constexpr (sizeof(CharT) == 1) {
    size_t units = LengthLimited(s, limited, spec.precision);
    if (units > INT_MAX) units = INT_MAX;
    int needed = units ? platform::WideToAnsi(s, static_cast<int>(units), nullptr, 0) : 0;
    if (needed > 0) {
      if (static_cast<size_t>(needed) > sizeof(local)) out = TempBuffer(static_cast<size_t>(needed));
      int n = out ? platform::WideToAnsi(s, static_cast<int>(units), out, needed) : 0;
      length = n > 0 ? static_cast<size_t>(n) : 0;
    }
  } else {
    if (spec.flags & kUtf8Text) {
      size_t units = Utf16Length(s);
      if (units + 1 > sizeof(local) / sizeof(CharT)) out = TempBuffer(units + 1);
      length = out ? Utf8Decode(reinterpret_cast<WChar*>(out), s) : 0;
    } else {
      size_t bytes = LengthLimited(s, limited, spec.precision);
      if (bytes > INT_MAX) bytes = INT_MAX;
      int needed = bytes ? platform::AnsiToWide(s, static_cast<int>(bytes), nullptr, 0) : 0;
      if (needed > 0) {
        if (static_cast<size_t>(needed) > sizeof(local) / sizeof(CharT))
          out = TempBuffer(static_cast<size_t>(needed));
        int n = out ? platform::AnsiToWide(s, static_cast<int>(bytes), reinterpret_cast<WChar*>(out), needed) : 0;
        length = n > 0 ? static_cast<size_t>(n) : 0;
      }
    }
  }
  return PutText(spec, out ? out : local, length);
}

// Floating point: exact digits from std::to_chars (correctly rounded, as
// the C library rounds), laid out as printf lays them out.
template <typename CharT>
bool CMyPrintfT<CharT>::ConvertFloat(Spec& spec, CharT conversion) {
  double value = va_arg(m_args, double);
  bool upper = conversion == CharT('E') || conversion == CharT('G');
  bool alternate = (spec.flags & kAlternate) != 0;
  int precision = (spec.flags & kHasPrecision) ? spec.precision : 6;

  char sign = 0;
  if (std::signbit(value) && !std::isnan(value)) sign = '-';
  else if (spec.flags & kSignPlus) sign = '+';
  else if (spec.flags & kSignSpace) sign = ' ';

  char buffer[kFloatBuffer];
  size_t mantissa = 0;       // characters of buffer before the exponent
  size_t trailingZeros = 0;  // zeros asked for beyond the exact digits
  const char* exponent = nullptr;
  size_t exponentLength = 0;
  bool zeroPad = (spec.flags & (kZeroPad | kLeft)) == kZeroPad;

  if (std::isinf(value) || std::isnan(value)) {
    std::memcpy(buffer, std::isinf(value) ? "Inf" : "NaN", 3);
    mantissa = 3;
    zeroPad = false;
  } else {
    double magnitude = std::fabs(value);
    char* end = buffer + sizeof(buffer);
    auto fixed = [&](int digits) {
      int exact = std::min(digits, kMaxFixedDigits);
      char* p = std::to_chars(buffer, end, magnitude, std::chars_format::fixed, exact).ptr;
      mantissa = static_cast<size_t>(p - buffer);
      trailingZeros = static_cast<size_t>(digits - exact);
    };
    auto scientific = [&](int digits) {
      int exact = std::min(digits, kMaxExpDigits);
      char* p = std::to_chars(buffer, end, magnitude, std::chars_format::scientific, exact).ptr;
      char* e = static_cast<char*>(std::memchr(buffer, 'e', static_cast<size_t>(p - buffer)));
      mantissa = static_cast<size_t>(e - buffer);
      trailingZeros = static_cast<size_t>(digits - exact);
      if (upper) *e = 'E';
      exponent = e;
      exponentLength = static_cast<size_t>(p - e);
    };
    bool stripZeros = false;
    if (conversion == CharT('f')) {
      fixed(precision);
    } else if (conversion == CharT('e') || conversion == CharT('E')) {
      scientific(precision);
    } else {
      // %g: the exponent X of the %e form with precision P - 1 decides.
      int p = precision == 0 ? 1 : precision;
      scientific(p - 1);
      int x = 0;
      for (size_t i = 2; i < exponentLength; ++i) x = x * 10 + (exponent[i] - '0');
      if (exponent[1] == '-') x = -x;
      if (x >= -4 && x < p) {
        exponent = nullptr;
        exponentLength = 0;
        fixed(p - 1 - x);
      }
      stripZeros = !alternate;
    }
    bool hasPoint = std::memchr(buffer, '.', mantissa) != nullptr;
    if (stripZeros) {
      trailingZeros = 0;
      if (hasPoint) {
        while (buffer[mantissa - 1] == '0') --mantissa;
        if (buffer[mantissa - 1] == '.') --mantissa;
      }
    } else if (alternate && !hasPoint) {
      // "#" keeps the decimal point even without fraction digits.
      if (exponent) {
        std::memmove(buffer + mantissa + 1, buffer + mantissa, exponentLength);
        exponent = buffer + mantissa + 1;
      }
      buffer[mantissa++] = '.';
    }
  }

  // Lay out: [spaces][sign][zeros][mantissa][trailing zeros][exponent][spaces]
  size_t used = (sign ? 1 : 0) + mantissa + trailingZeros + exponentLength;
  size_t width = static_cast<size_t>(spec.width);
  size_t pad = width > used ? width - used : 0;
  size_t leadZeros = zeroPad ? pad : 0;
  if (zeroPad) pad = 0;
  bool left = (spec.flags & kLeft) != 0;

  auto putAscii = [this](const char* text, size_t count) {
    if constexpr (sizeof(CharT) == 1) {
      return Put(text, count);
    } else {
      CharT wide[64];
      while (count) {
        size_t n = count < 64 ? count : 64;
        for (size_t i = 0; i < n; ++i) wide[i] = static_cast<CharT>(text[i]);
        if (!Put(wide, n)) return false;
        text += n;
        count -= n;
      }
      return true;
    }
  };
  if (pad && !left && !PutRepeat(CharT(' '), pad)) return false;
  if (sign && !PutChar(CharT(sign))) return false;
  if (leadZeros && !PutRepeat(CharT('0'), leadZeros)) return false;
  if (!putAscii(buffer, mantissa)) return false;
  if (trailingZeros && !PutRepeat(CharT('0'), trailingZeros)) return false;
  if (exponentLength && !putAscii(exponent, exponentLength)) return false;
  if (pad && left && !PutRepeat(CharT(' '), pad)) return false;
  return true;
}

// ---- the format reader -----------------------------------------------------

template <typename CharT>
void CMyPrintfT<CharT>::Run(const CharT* format) {
  const CharT* p = format;
  for (;;) {
    const CharT* run = p;
    while (*p != CharT('%') && *p != CharT(0)) ++p;
    if (p != run && !Put(run, static_cast<size_t>(p - run))) return;
    if (*p == CharT(0)) return;
    ++p;  // past '%'

    Spec spec;
    for (;; ++p) {
      CharT c = *p;
      if (c == CharT(' ')) spec.flags |= kSignSpace;
      else if (c == CharT('#')) spec.flags |= kAlternate;
      else if (c == CharT('+')) spec.flags |= kSignPlus;
      else if (c == CharT('-')) spec.flags |= kLeft;
      else if (c == CharT('0')) spec.flags |= kZeroPad;
      else break;
    }

    if (*p == CharT('*')) {
      int w = va_arg(m_args, int);
      if (w < 0) {
        spec.flags |= kLeft;
        w = w == INT_MIN ? INT_MAX : -w;
      }
      spec.width = std::min(w, kMaxFieldDigitsValue);
      ++p;
    } else {
      while (*p >= CharT('0') && *p <= CharT('9')) {
        if (spec.width < kMaxFieldDigitsValue) spec.width = spec.width * 10 + static_cast<int>(*p - CharT('0'));
        ++p;
      }
    }

    if (*p == CharT('.')) {
      ++p;
      spec.flags |= kHasPrecision;
      if (*p == CharT('*')) {
        int precision = va_arg(m_args, int);
        if (precision < 0) spec.flags &= ~static_cast<unsigned>(kHasPrecision);
        else spec.precision = std::min(precision, kMaxFieldDigitsValue);
        ++p;
      } else {
        while (*p >= CharT('0') && *p <= CharT('9')) {
          if (spec.precision < kMaxFieldDigitsValue)
            spec.precision = spec.precision * 10 + static_cast<int>(*p - CharT('0'));
          ++p;
        }
      }
    }

    for (bool more = true; more;) {
      switch (static_cast<int>(*p)) {
        case 'h':
          spec.flags |= kShort | kNarrowText;
          ++p;
          break;
        case 'l':
          if (p[1] == CharT('l')) {
            spec.flags |= kInt64;
            p += 2;
          } else {
            spec.flags |= kLong | kWideText;
            ++p;
          }
          break;
        case 'q': case 'j': case 't': case 'z':
          spec.flags |= kInt64;
          ++p;
          break;
        case 'L':
          spec.flags |= kLongDouble;
          ++p;
          break;
        case 'w':
          spec.flags |= kWideText;
          ++p;
          break;
        case 'I':
          if (p[1] == CharT('3') && p[2] == CharT('2')) {
            spec.flags &= ~static_cast<unsigned>(kInt64);
            p += 3;
          } else if (p[1] == CharT('6') && p[2] == CharT('4')) {
            spec.flags |= kInt64;
            p += 3;
          } else {
            spec.flags |= kInt64 | kUtf8Text;
            ++p;
          }
          break;
        default:
          more = false;
          break;
      }
    }

    CharT conversion = *p;
    if (conversion == CharT(0)) return;  // a '%' at the end ends the output
    ++p;
    bool ok;
    switch (static_cast<int>(conversion)) {
      case 'd': case 'i': ok = ConvertInteger(spec, CharT('d')); break;
      case 'D': ok = ConvertInteger(spec, CharT('d')); break;  // long implied: 32 bits
      case 'u': case 'U': ok = ConvertInteger(spec, CharT('u')); break;
      case 'o': case 'O': ok = ConvertInteger(spec, CharT('o')); break;
      case 'x': case 'X': ok = ConvertInteger(spec, conversion); break;
      case 'p': ok = ConvertPointer(spec, false); break;
      case 'P': ok = ConvertPointer(spec, true); break;
      case 'c': ok = ConvertChar(spec, false); break;
      case 'C': ok = ConvertChar(spec, true); break;
      case 's': ok = ConvertString(spec, false); break;
      case 'S': ok = ConvertString(spec, true); break;
      case 'e': case 'E': case 'f': case 'g': case 'G': ok = ConvertFloat(spec, conversion); break;
      default: ok = PutChar(conversion); break;  // "%%", "%n", "%y": the character itself
    }
    if (!ok) return;
  }
}

// ---- the three modes -------------------------------------------------------

template <typename CharT>
int CMyPrintfT<CharT>::FormatBuffer(CharT* buffer, size_t size, const CharT* format, va_list args) {
  if (!buffer || size == 0) return 0;
  if (size > static_cast<size_t>(INT_MAX)) size = static_cast<size_t>(INT_MAX);
  Begin(kModeBuffer, buffer, buffer + size - 1);
  va_copy(m_args, args);
  if (format) Run(format);
  va_end(m_args);
  *m_pos = CharT(0);
  Release();
  return static_cast<int>(m_pos - buffer);
}

template <typename CharT>
size_t CMyPrintfT<CharT>::Measure(const CharT* format, va_list args) {
  Begin(kModeMeasure, m_scratch, m_scratch + kScratchChars);
  va_copy(m_args, args);
  if (format) Run(format);
  va_end(m_args);
  Release();
  return m_total + static_cast<size_t>(m_pos - m_start);
}

template <typename CharT>
int CMyPrintfT<CharT>::FormatHeap(CharT*& heap, size_t position, const CharT* format, va_list args) {
  if (position && !heap) return -1;
  size_t length = Measure(format, args);
  bool inScratch = m_total == 0;
  if (length > static_cast<size_t>(INT_MAX) || position > static_cast<size_t>(INT_MAX) - length) return -1;
  auto* array = static_cast<CharT*>(std::malloc((position + length + 1) * sizeof(CharT)));
  if (!array) return -1;
  if (position) std::memcpy(array, heap, position * sizeof(CharT));
  if (inScratch) {
    std::memcpy(array + position, m_scratch, length * sizeof(CharT));
  } else {
    // Too long for the scratch buffer: run again straight into the exact
    // allocation (the old array is still alive for arguments pointing into it).
    int n = FormatBuffer(array + position, length + 1, format, args);
    length = static_cast<size_t>(n);
  }
  array[position + length] = CharT(0);
  std::free(heap);
  heap = array;
  return static_cast<int>(length);
}

template <typename CharT>
size_t CMyPrintfT<CharT>::FormatSeq(CSeqWrite& out, const CharT* format, va_list args) {
  Begin(kModeStream, m_scratch, m_scratch + kScratchChars);
  m_stream = &out;
  va_copy(m_args, args);
  if (format) Run(format);
  va_end(m_args);
  FinishStream();
  m_stream = nullptr;
  Release();
  return m_total;
}

template class CMyPrintfT<char>;
template class CMyPrintfT<WChar>;

// ---- entry points ----------------------------------------------------------

namespace {
template <typename CharT>
int HeapV(CharT*& heap, size_t position, const CharT* format, va_list args) {
  CMyPrintfT<CharT> engine;
  return engine.FormatHeap(heap, position, format, args);
}
template <typename CharT>
int BufferV(CharT* buffer, size_t size, const CharT* format, va_list args) {
  CMyPrintfT<CharT> engine;
  return engine.FormatBuffer(buffer, size, format, args);
}
template <typename CharT>
size_t SeqV(CSeqWrite& out, const CharT* format, va_list args) {
  CMyPrintfT<CharT> engine;
  return engine.FormatSeq(out, format, args);
}
template <typename CharT>
size_t LengthV(const CharT* format, va_list args) {
  CMyPrintfT<CharT> engine;
  return engine.Measure(format, args);
}
}  // namespace

// The body of a variadic entry point: hand the arguments to the va_list twin.
#define TARVIX_FORWARD_ARGS(Result, call) \
  va_list args;                           \
  va_start(args, format);                 \
  Result result = call;                   \
  va_end(args);                           \
  return result

int FormatToHeapV(char*& heap, size_t position, const char* format, va_list args) {
  return HeapV(heap, position, format, args);
}
int FormatToHeapV(WChar*& heap, size_t position, const WChar* format, va_list args) {
  return HeapV(heap, position, format, args);
}

int FormatToBufferV(char* buffer, size_t size, const char* format, va_list args) {
  return BufferV(buffer, size, format, args);
}
int FormatToBufferV(WChar* buffer, size_t size, const WChar* format, va_list args) {
  return BufferV(buffer, size, format, args);
}
int FormatToBuffer(char* buffer, size_t size, const char* format, ...) {
  TARVIX_FORWARD_ARGS(int, BufferV(buffer, size, format, args));
}
int FormatToBuffer(WChar* buffer, size_t size, const WChar* format, ...) {
  TARVIX_FORWARD_ARGS(int, BufferV(buffer, size, format, args));
}

int FormatToStringV(CMyStringA& out, const char* format, va_list args) { return out.FormatV(format, args); }
int FormatToStringV(CMyStringW& out, const WChar* format, va_list args) { return out.FormatV(format, args); }
int FormatToString(CMyStringA& out, const char* format, ...) {
  TARVIX_FORWARD_ARGS(int, out.FormatV(format, args));
}
int FormatToString(CMyStringW& out, const WChar* format, ...) {
  TARVIX_FORWARD_ARGS(int, out.FormatV(format, args));
}

size_t FormatToSeqV(CSeqWrite& out, const char* format, va_list args) { return SeqV(out, format, args); }
size_t FormatToSeqV(CSeqWrite& out, const WChar* format, va_list args) { return SeqV(out, format, args); }
size_t FormatToSeq(CSeqWrite& out, const char* format, ...) {
  TARVIX_FORWARD_ARGS(size_t, SeqV(out, format, args));
}
size_t FormatToSeq(CSeqWrite& out, const WChar* format, ...) {
  TARVIX_FORWARD_ARGS(size_t, SeqV(out, format, args));
}

size_t FormatLength(const char* format, ...) {
  TARVIX_FORWARD_ARGS(size_t, LengthV(format, args));
}
size_t FormatLength(const WChar* format, ...) {
  TARVIX_FORWARD_ARGS(size_t, LengthV(format, args));
}

#undef TARVIX_FORWARD_ARGS

}  // namespace tarvixlib
