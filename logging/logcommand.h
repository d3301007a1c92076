// The "LOG" pipe command: carries log entries to the service.
//
// Request body, after the name line (LOG has no request parameters): one
// line per entry, "[%04X] %s" with the level in upper-case hex and the
// text, then the "." line that Send adds. The text is made one line: a
// trailing line break is the line's end, any other CR or LF becomes a
// blank, so that no logged text (a subject, a file name) can end the
// request early or start a command of its own. A text too long for the
// receiver's line limit is cut to fit.
//
// A receiver clears its buffer and reads lines (each below 32768 bytes) up
// to a line that is exactly "."; empty lines are skipped. A line of at least
// seven characters that begins with "[" and has "]" at position 5 gives the
// level from the hex digits after "[" and the text from position 7 on; any
// other line is taken whole at info. Each is logged into the buffer with
// "%s", so the buffer's filter applies (dbg entries are dropped by default).
#pragma once

#include <cstddef>

#include "commands/command.h"
#include "logging/mylog.h"

namespace tarvixlib {
namespace commands {

class CLogCommand : public CTarvixPipeCommand {
public:
  static constexpr const char* kName = "LOG";
  // Line limit counted with the terminator: a line of 32767 bytes is taken.
  static constexpr size_t kMaxLogLine = 0x8000;
  // What one request may put into the buffer. Beyond it the rest of the
  // request is read up to "." and the request fails.
  static constexpr size_t kMaxEntriesPerRequest = 65536;
  static constexpr size_t kMaxTextBytesPerRequest = 0x1000000;  // 16 MiB

  CLogCommand();

  bool WriteRequest(CMyStream& writer) override;
  bool ReadRequest(CMyStream& reader) override;

  CMyLogBuf& Buffer() { return buffer_; }

  // One received body line into the buffer (exposed for the tests).
  static void TakeLine(CMyLogBuf& buffer, const char* line, size_t length);

private:
  CMyLogBuf buffer_;
  CMyLineBuffer line_;
};

}  // namespace commands
}  // namespace tarvixlib
