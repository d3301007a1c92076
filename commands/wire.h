// Line-level helpers of the pipe protocol, shared by parameter blocks,
// status lines, the LOG body and the request dispatch.
//
// Every line is written with a single LF; a reader drops every CR wherever
// it occurs, so CR LF works too. The wire has no escape: text written into
// a line goes through WriteLineText, which turns CR and LF into blanks so
// that no value can end its line early or start a protocol line of its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/mystream.h"

namespace tarvixlib {
namespace commands {

// Line limits in bytes, counted with the terminating zero: a line of
// limit - 1 bytes is taken, a line of limit bytes or more is an error.
constexpr size_t kMaxParamLine = 0x100000;
constexpr size_t kMaxStatusLine = 0x8000;
constexpr size_t kLineGrowth = 0x2000;

enum class LineResult {
  kLine,     // a line (also the last one, when the data ends without LF)
  kEnd,      // the data ended before anything was read
  kTooLong,  // the line reached its limit (the rest stays in the stream)
  kError,    // no memory for the line buffer
};

// Reads one line into `line` (CR dropped, the LF not kept).
LineResult ReadWireLine(CMyStream& reader, CMyLineBuffer& line, size_t limit);

// All of the bytes through the writer's buffer, or false.
bool WriteBytes(CMyStream& writer, const void* data, size_t length);
inline bool WriteText(CMyStream& writer, const char* text, size_t length) {
  return WriteBytes(writer, text, length);
}
// The text with every CR and LF replaced by a blank (no LF appended).
bool WriteLineText(CMyStream& writer, const char* text, size_t length);
// True when the text holds a CR or LF.
bool HasLineBreak(const char* text, size_t length);
// Writes the buffered bytes out and flushes the stream.
bool FlushWriter(CMyStream& writer);
// The terminator line "." LF, then a flush.
bool WriteTerminator(CMyStream& writer);

}  // namespace commands
}  // namespace tarvixlib
