#include "commands/scancommands.h"

#include "foundation/textconv.h"

namespace tarvixlib {
namespace commands {
namespace tarvixservice {

CScanEmailCommand::CScanEmailCommand() : CTarvixPipeCommand("SCAN_EMAIL", 0) {
  AddRequestParam(file);
  AddRequestParam(from);
  AddRequestParam(subject);
  AddBinaryRequestParam(content);
  AddResponseParam(attSaved);
  AddResponseParam(scanRet);
  AddResponseParam(errorString);
  AddResponseParam(sigName);
  AddResponseParam(sigId);
  AddReturnMessage(800, 1326);
}

bool CScanEmailCommand::IsVirus() const { return TextEqualsNoCase(scanRet.Get().GetString(), kScanRetVirus); }
bool CScanEmailCommand::IsIgnored() const { return TextEqualsNoCase(scanRet.Get().GetString(), kScanRetIgnored); }

CScanSpamCommand::CScanSpamCommand(CMyStream* mime)
    : CTarvixPipeCommand("SCAN_SPAM", 0), document(mime) {
  AddRequestParam(msgId);
  AddRequestParam(subject);
  AddRequestParam(from);
  AddRequestParam(to);
  AddBinaryRequestParam(document);
  AddResponseParam(spamPoints);
  AddResponseParam(spamLevel);
}

int CScanSpamCommand::Verdict() const {
  if (GetReturnCode() != kReturnSuccess) return 0;
  uint32_t level = spamLevel.Get();
  return level >= 2 ? 2 : static_cast<int>(level);
}

}  // namespace tarvixservice
}  // namespace commands
}  // namespace tarvixlib
