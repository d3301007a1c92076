// Text conversions between the three encodings the product uses: narrow
// ANSI text in the calling thread's code page (inside the library), UTF-16
// (towards Windows and the mail client) and UTF-8 (on the pipe).
//
// UTF-8 here is the library's own dialect, chosen for round trips of
// whatever UTF-16 it is given:
//  - encoding works one UTF-16 unit at a time; surrogates are NOT joined,
//    each becomes its own three-byte sequence (D83D DE00 -> ED A0 BD ED B8 80);
//  - decoding never fails: stray continuation bytes and lead bytes without
//    enough continuation bytes are dropped, and so is the lead of an
//    overlong form (C0 80, E0 80 80: a value written longer than needed),
//    so no sequence decodes to U+0000; a real four-byte sequence
//    (F0..F3 + three continuation bytes) is skipped whole and produces
//    nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/platform.h"

namespace tarvixlib {

// ANSI <-> UTF-16 through the calling thread's ANSI code page. Return the
// number of characters written without the terminator; 0 on failure (also
// when the buffer is too small), and then a non-null buffer holds an empty
// text. With a null buffer they return the length the conversion needs.
// Sizes count the terminator. A null text converts as the empty text (0).
int AnsiToWide(WChar* buffer, const char* text, int bufferChars);
int WideToAnsi(char* buffer, const WChar* text, int bufferBytes);

// UTF-16 -> UTF-8: Utf8Length gives the bytes needed without the
// terminator; Utf8Encode writes them plus a terminator (buffer sized
// Utf8Length + 1) and returns the byte count.
size_t Utf8Length(const WChar* text);
size_t Utf8Encode(char* buffer, const WChar* text);
// Counted forms for text that is not zero-terminated; no terminator written.
size_t Utf8Length(const WChar* text, size_t units);
size_t Utf8EncodeN(char* buffer, const WChar* text, size_t units);

// UTF-8 -> UTF-16: Utf16Length gives the units needed without the
// terminator; Utf8Decode writes them plus a terminator (buffer sized
// Utf16Length + 1) and returns the unit count.
size_t Utf16Length(const char* utf8);
size_t Utf8Decode(WChar* buffer, const char* utf8);

// String hashes of the library's hash tables (mask with the bucket count).
// HashName: h = h * 33 + byte (bytes taken as signed), then + length.
// HashNameNoCase: the same after folding a-z and bytes 0xE0..0xFF to upper
// case by subtracting 32. A null text hashes like the empty text (0).
uint32_t HashName(const char* text);
uint32_t HashNameNoCase(const char* text);
// Equal texts under the folding of HashNameNoCase.
bool TextEqualsNoCase(const char* a, const char* b);

}  // namespace tarvixlib
