// The library's printf engine, narrow (CMyPrintfT<char>) and wide
// (CMyPrintfT<WChar>), with one format language:
//
//   %[flags][width][.precision][size]conversion
//   flags      " " "#" "+" "-" "0" in any order ("+" beats " ")
//   width      digits or "*" (int argument; negative = left-adjust)
//   precision  "." digits or ".*" (negative = none); "." alone = 0
//   size       h (short; narrow text)  l (32 bits; wide text)  ll q j t z (64)
//              L (long double, read as a double)  I32  I64
//              I (64 bits; for strings: UTF-8)  w (wide text)
//   conversion d i D u U o O x X p P c C s S e E f g G
//
// Beyond standard printf:
//  - "%S" takes a string of the other width (narrow engine: a const WChar*,
//    e.g. a BSTR, converted to the thread's ANSI code page; wide engine: a
//    narrow ANSI string); "%IS" converts a wide string to UTF-8 in the
//    narrow engine (always whole, precision ignored) and UTF-8 to UTF-16 in
//    the wide engine. A null string prints "(null)".
//  - "%p" prints 16 lower-case hex digits (fewer when a width is given),
//    "%P" the value with "0x".
//  - "l" is 32 bits as on Windows; any unknown conversion character
//    (including "%", "n", "F") is printed as itself; a "%" at the very end
//    of the format ends the output.
//  - Infinity prints "Inf" (with "-" or the sign flag), NaN prints "NaN".
//
// Output modes: a fixed buffer (truncates silently), a heap string (one
// measuring pass through a scratch buffer, then one exact allocation; long
// results are formatted a second time straight into it) and a sequential
// writer (the scratch buffer is passed on each time it is full; the run
// stops when the writer takes less than offered).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "foundation/mystring.h"
#include "foundation/platform.h"
#include "foundation/seqwrite.h"

namespace tarvixlib {

template <typename CharT>
class CMyPrintfT {
public:
  // Scratch buffer: 1024 narrow or 512 wide characters (1 KiB either way).
  static constexpr size_t kScratchChars = sizeof(CharT) == 1 ? 1024 : 512;

  CMyPrintfT() = default;
  CMyPrintfT(const CMyPrintfT&) = delete;
  CMyPrintfT& operator=(const CMyPrintfT&) = delete;
  ~CMyPrintfT();

  // Fixed buffer: at most size - 1 characters plus a terminator; returns
  // the characters written. size must be at least 1 (0 writes nothing).
  int FormatBuffer(CharT* buffer, size_t size, const CharT* format, va_list args);

  // Heap array at a character position; see FormatToHeapV in mystring.h.
  // Returns the formatted length or -1 when allocation failed.
  int FormatHeap(CharT*& heap, size_t position, const CharT* format, va_list args);

  // Stream: returns the characters the writer accepted.
  size_t FormatSeq(CSeqWrite& out, const CharT* format, va_list args);

  // Measure only: the full length of the formatted text.
  size_t Measure(const CharT* format, va_list args);

private:
  enum Mode { kModeStream = 0, kModeBuffer = 1, kModeMeasure = 2 };

  // Conversion flags of one specification.
  enum : unsigned {
    kAlternate = 1u << 0,   // "#"
    kLeft = 1u << 1,        // "-"
    kZeroPad = 1u << 2,     // "0"
    kSignPlus = 1u << 3,    // "+"
    kSignSpace = 1u << 4,   // " "
    kShort = 1u << 5,       // "h"
    kLong = 1u << 6,        // "l"
    kInt64 = 1u << 7,       // "ll" "q" "I64" "I" "j" "t" "z"
    kLongDouble = 1u << 8,  // "L"
    kNarrowText = 1u << 9,  // "h" for c, s, C, S
    kWideText = 1u << 10,   // "l" "w" for c, s, C, S
    kUtf8Text = 1u << 11,   // bare "I" for strings
    kHasPrecision = 1u << 12,
    kUpper = 1u << 13,
  };

  struct Spec {
    unsigned flags = 0;
    int width = 0;
    int precision = 0;
  };

  void Begin(Mode mode, CharT* start, CharT* end);
  void Run(const CharT* format);
  void Release();

  // Output primitives; false once the run has stopped.
  bool Put(const CharT* text, size_t count);
  bool PutChar(CharT c);
  bool PutRepeat(CharT c, size_t count);
  bool Overflow(const CharT* text, size_t count);
  bool FlushChunk();
  void FinishStream();

  // Field assembly: prefix, padding, precision zeros, body, trailing pad.
  bool PutField(const Spec& spec, const CharT* prefix, size_t prefixLength, size_t zeros,
                const CharT* body, size_t bodyLength);

  bool ConvertInteger(Spec& spec, CharT conversion);
  bool ConvertPointer(Spec& spec, bool withPrefix);
  bool ConvertChar(Spec& spec, bool otherWidth);
  bool ConvertString(Spec& spec, bool otherWidth);
  bool ConvertFloat(Spec& spec, CharT conversion);
  bool PutText(const Spec& spec, const CharT* text, size_t length);
  CharT* TempBuffer(size_t chars);

  Mode m_mode = kModeBuffer;
  CharT* m_pos = nullptr;    // next character to write
  CharT* m_start = nullptr;  // start of the current chunk
  CharT* m_end = nullptr;    // end of the writable area
  size_t m_total = 0;        // characters already passed on (modes 0, 2)
  bool m_stopped = false;
  CSeqWrite* m_stream = nullptr;
  va_list m_args;
  // One temporary allocation of the run (conversions of long strings),
  // reused while large enough and freed when the run ends.
  CharT* m_temp = nullptr;
  size_t m_tempChars = 0;
  CharT m_scratch[kScratchChars];
};

extern template class CMyPrintfT<char>;
extern template class CMyPrintfT<WChar>;

// Convenience entry points; each has a va_list twin ending in V.
int FormatToBuffer(char* buffer, size_t size, const char* format, ...);
int FormatToBuffer(WChar* buffer, size_t size, const WChar* format, ...);
int FormatToBufferV(char* buffer, size_t size, const char* format, va_list args);
int FormatToBufferV(WChar* buffer, size_t size, const WChar* format, va_list args);

// Replaces the string's contents, sized exactly; returns the length, 0 and
// the old contents kept when allocation fails.
int FormatToString(CMyStringA& out, const char* format, ...);
int FormatToString(CMyStringW& out, const WChar* format, ...);
int FormatToStringV(CMyStringA& out, const char* format, va_list args);
int FormatToStringV(CMyStringW& out, const WChar* format, va_list args);

// Stream mode; returns the characters the writer accepted.
size_t FormatToSeq(CSeqWrite& out, const char* format, ...);
size_t FormatToSeq(CSeqWrite& out, const WChar* format, ...);
size_t FormatToSeqV(CSeqWrite& out, const char* format, va_list args);
size_t FormatToSeqV(CSeqWrite& out, const WChar* format, va_list args);

// The full length the format produces (no output).
size_t FormatLength(const char* format, ...);
size_t FormatLength(const WChar* format, ...);

}  // namespace tarvixlib
