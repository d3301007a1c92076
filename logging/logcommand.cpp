#include "logging/logcommand.h"

#include <cstring>

#include "commands/wire.h"
#include "foundation/asciitext.h"
#include "foundation/myprintf.h"

namespace tarvixlib {
namespace commands {

CLogCommand::CLogCommand() : CTarvixPipeCommand(kName, 0) {}

bool CLogCommand::WriteRequest(CMyStream& writer) {
  if (!WriteNameLine(writer) || !RequestParams().WriteBlock(writer)) return false;
  CMySynchronizedBlock<CMyThreadSave> hold(buffer_.EntryLock());
  for (size_t i = 0; i < buffer_.Count(); ++i) {
    char prefix[32];
    int n = FormatToBuffer(prefix, sizeof prefix, "[%04X] ", buffer_.LevelAt(i));
    const char* text = buffer_.TextAt(i);
    size_t length = std::strlen(text);
    if (length && text[length - 1] == '\n') {
      --length;
      if (length && text[length - 1] == '\r') --length;
    }
    // A longer line would make the receiver refuse the whole request.
    size_t room = kMaxLogLine - 1 - static_cast<size_t>(n);
    if (length > room) length = room;
    if (!WriteText(writer, prefix, static_cast<size_t>(n)) ||
        !WriteLineText(writer, text, length) || !writer.PutChar('\n'))
      return false;
  }
  return true;
}

void CLogCommand::TakeLine(CMyLogBuf& buffer, const char* line, size_t length) {
  if (length >= 7 && line[0] == '[' && line[5] == ']') {
    uint32_t level = 0;
    for (size_t i = 1; i < 5; ++i) {
      int d = HexDigitValue(line[i]);
      if (d < 0) break;
      level = level * 16 + static_cast<uint32_t>(d);
    }
    buffer.Log(level, "%s", line + 7);
  } else {
    buffer.Log(kLogInfo, "%s", line);
  }
}

bool CLogCommand::ReadRequest(CMyStream& reader) {
  buffer_.Clear();
  bool within = true;
  size_t lines = 0;
  for (;;) {
    if (ReadWireLine(reader, line_, kMaxLogLine) != LineResult::kLine) return false;
    if (line_.length == 1 && line_.data[0] == '.') return within;
    if (line_.length == 0) continue;
    // Past the bounds the lines are still read, so the request ends where
    // it should, but no longer stored.
    if (within && (++lines > kMaxEntriesPerRequest ||
                   buffer_.TextBytes() + line_.length > kMaxTextBytesPerRequest))
      within = false;
    if (within) TakeLine(buffer_, line_.data, line_.length);
  }
}

}  // namespace commands
}  // namespace tarvixlib
