// Transfer encoders of the MIME writer: base64 in lines of 57 input bytes,
// and quoted-printable with soft breaks. Both work step by step into a
// caller-sized output buffer and allocate nothing.
//
// Namespace: tarvixlib (the shared library's own namespace).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvixlib {

// Base64 body lines: every 57 input bytes become one line of 76 characters
// followed by CR LF; a final shorter piece becomes one shorter line padded
// with "=" (RFC 4648), also followed by CR LF. An empty input writes nothing.
class CMimeBase64 {
public:
  static constexpr size_t kLineBytes = 57;
  static constexpr size_t kLineChars = 76;

  // Output size of Encode for `length` input bytes.
  static size_t EncodedSize(size_t length);
  // Encodes `length` bytes into `out` (EncodedSize(length) bytes) and
  // returns that size. Callers encoding a body in several calls pass
  // multiples of 57 bytes to all but the last.
  static size_t Encode(const uint8_t* in, size_t length, char* out);
};

// Quoted-printable, one byte at a time with one byte of look-ahead:
//  - CR LF in the input is a hard line break (written as CR LF);
//  - literal bytes: tab, blank, % & ' ( * + , - . / : ; < > ? _ 0-9 A-Z a-z,
//    except a blank or tab directly before CR, LF or the end of the data
//    (a decoder would drop it as trailing white space);
//  - every other byte is "=XX" with upper-case hex digits;
//  - a soft break "=\r\n" comes before a literal byte at column 75 or more
//    and before an encoded byte at column 73 or more, so no line is longer
//    than 76 characters.
// The encoder keeps the column and holds back the last byte of each step
// (its look-ahead is in the next step); Finish writes it.
class CMimeQuotedPrintable {
public:
  // Upper bound of Step's output for `length` input bytes (plus a held byte).
  static size_t MaxStepOutput(size_t length) { return length * 4 + 16; }
  static constexpr size_t kMaxFinishOutput = 16;
  // True for the bytes written literally (in the middle of a line).
  static bool IsLiteral(uint8_t c);

  // Encodes `length` more bytes into `out`; returns the characters written.
  size_t Step(const uint8_t* in, size_t length, char* out);
  // Writes the held byte as the last of the data; returns the characters
  // written. The encoder is then ready for a new body.
  size_t Finish(char* out);

private:
  // Writes byte c (not the CR of a CR LF pair), whose successor is `next`
  // (-1: end of the data).
  inline char* PutByte(uint8_t c, int next, char* out);
  inline char* PutHardBreak(char* out);

  unsigned column_ = 0;
  int held_ = -1;  // the last byte of the previous step, not yet written
};

}  // namespace tarvixlib
