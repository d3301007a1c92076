// A LOG request body arrives from the pipe: any bytes read by the LOG
// receiver. It keeps within its bounds, stores no dbg entry and no line
// beyond the limit, and what it stored is sent again by a LOG command and
// received to the very same entries.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "logging/logcommand.h"

using namespace tarvixlib;
using namespace tarvixlib::commands;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CLogCommand received;
  CMyStreamStaticBuffer in(const_cast<uint8_t*>(data), size, size, 0);
  CMyStreamBuf reply;
  int32_t code = received.Process(in, reply, nullptr);
  CMyLogBuf& got = received.Buffer();
  Check(got.Count() <= CLogCommand::kMaxEntriesPerRequest);
  Check(got.TextBytes() <= CLogCommand::kMaxTextBytesPerRequest);
  Check(got.TextBytes() <= size);
  for (size_t i = 0; i < got.Count(); ++i) {
    Check(got.LevelAt(i) != kLogDebug);
    Check(got.LevelAt(i) <= 0xFFFF);  // four hex digits at most
    Check(std::strlen(got.TextAt(i)) < CLogCommand::kMaxLogLine);
    Check(!std::strchr(got.TextAt(i), '\r') && !std::strchr(got.TextAt(i), '\n'));
  }
  reply.Sync();
  if (code != kReturnSuccess) {
    Check(code == kReturnFailed && reply.GetSize() == 0);
    return 0;
  }

  // Send the entries again and receive them on a second command.
  CLogCommand sender;
  sender.Buffer().EnableAllLevels();
  for (size_t i = 0; i < got.Count(); ++i) sender.Buffer().Log(got.LevelAt(i), "%s", got.TextAt(i));
  static const char kReply[] = "100 1536\n.\n";
  CMyStreamStaticBuffer status(const_cast<char*>(kReply), sizeof kReply - 1, sizeof kReply - 1, 0);
  CMyStreamBuf wire;
  Check(sender.Send(status, wire, nullptr) == kReturnSuccess);
  wire.Seek(0, nullptr, 0);
  CMyLineBuffer name;
  Check(ReadWireLine(wire, name, kMaxParamLine) == LineResult::kLine);
  Check(std::strcmp(name.Text(), "LOG") == 0);
  CLogCommand again;
  CMyStreamBuf reply2;
  Check(again.Process(wire, reply2, nullptr) == kReturnSuccess);
  Check(again.Buffer().Count() == got.Count());
  for (size_t i = 0; i < got.Count(); ++i) {
    Check(again.Buffer().LevelAt(i) == got.LevelAt(i));
    // Sent as "[XXXX] " and the text, cut to the receiver's line limit.
    size_t keep = std::strlen(got.TextAt(i));
    if (keep > CLogCommand::kMaxLogLine - 1 - 7) keep = CLogCommand::kMaxLogLine - 1 - 7;
    Check(std::strlen(again.Buffer().TextAt(i)) == keep);
    Check(std::strncmp(again.Buffer().TextAt(i), got.TextAt(i), keep) == 0);
  }
  return 0;
}
