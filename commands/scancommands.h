// The two commands that ask the security service to judge mail content:
// SCAN_EMAIL sends one attachment for a virus scan, SCAN_SPAM a whole
// message as MIME text for the spam check. The same classes serve both
// ends: a client fills the request side and reads the response side after
// Send; a server derives and fills the response side in Execute.
#pragma once

#include "commands/command.h"

namespace tarvixlib {
namespace commands {
namespace tarvixservice {

// Verdict texts of SCANRET (compared without regard to letter case).
constexpr const char* kScanRetVirus = "VIRUS";
constexpr const char* kScanRetIgnored = "IGNORED";

class CScanEmailCommand : public CTarvixPipeCommand {
public:
  CScanEmailCommand();

  // Request.
  CStringParam file{"FILE", ""};
  CStringParam from{"FROM", ""};
  CStringParam subject{"SUBJECT", ""};
  CBinaryParam content;  // the attachment's bytes, in its own memory stream
  // Response.
  CStringParam attSaved{"ATT_SAVED", ""};
  CStringParam scanRet{"SCANRET", ""};
  CStringParam errorString{"ERRORSTRING", ""};
  CStringParam sigName{"SIGNAME", ""};
  CULongParam sigId{"SIGID", 0};

  bool IsVirus() const;
  bool IsIgnored() const;
};

class CScanSpamCommand : public CTarvixPipeCommand {
public:
  // The binary parameter reads the MIME text from `mime` (null: an own
  // memory stream); the stream must outlive the command.
  explicit CScanSpamCommand(CMyStream* mime);

  // Request.
  CULongParam msgId{"MSGID", 0};
  CStringParam subject{"SUBJECT", ""};
  CStringParam from{"FROM", ""};
  CStringParam to{"TO", ""};
  CBinaryParam document;
  // Response.
  CULongParam spamPoints{"SPAMPOINTS", 0};
  CULongParam spamLevel{"SPAMLEVEL", 0};

  // 0 no spam, 1 possible spam, 2 spam; no spam unless the reply was a
  // success.
  int Verdict() const;
};

}  // namespace tarvixservice
}  // namespace commands
}  // namespace tarvixlib
