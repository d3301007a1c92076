#include "commands/wire.h"

#include <cstring>

namespace tarvixlib {
namespace commands {

LineResult ReadWireLine(CMyStream& reader, CMyLineBuffer& line, size_t limit) {
  switch (reader.ReadLineAlloc(line, limit, kLineGrowth)) {
    case 1:
    case 0:
      return LineResult::kLine;
    case -1:
      return LineResult::kEnd;
    case -3:
      return LineResult::kTooLong;
    default:
      return LineResult::kError;
  }
}

bool WriteBytes(CMyStream& writer, const void* data, size_t length) {
  return length == 0 || writer.WriteBuffered(data, length) == length;
}

bool HasLineBreak(const char* text, size_t length) {
  return std::memchr(text, '\n', length) || std::memchr(text, '\r', length);
}

bool WriteLineText(CMyStream& writer, const char* text, size_t length) {
  size_t start = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    if (!WriteBytes(writer, text + start, i - start) || !writer.PutChar(' ')) return false;
    start = i + 1;
  }
  return WriteBytes(writer, text + start, length - start);
}

bool FlushWriter(CMyStream& writer) {
  if (writer.FlushWriteBuffer() < 0) return false;
  return writer.Flush();
}

bool WriteTerminator(CMyStream& writer) {
  return WriteBytes(writer, ".\n", 2) && FlushWriter(writer);
}

}  // namespace commands
}  // namespace tarvixlib
