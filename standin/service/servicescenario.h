// Scenario of the stand-in security service: how it presents itself in the
// handshake, what it answers, and which faults it shows.
//
// A scenario is a text file of lines ("#" starts a comment, blank lines are
// ignored; at most 1 MiB, lines of at most 64 KiB; words are separated by
// blanks, the last argument of a line takes the rest of it):
//
//   apptype <n>                  application type in the handshake (0x1001)
//   handshake-version <n>        version word sent first (1)
//   record-length <n>            length word sent with the record (460); the
//                                record then holds n - 8 bytes
//   command <NAME> <code>        NAME is answered with <code> and the values
//   value <NAME> <KEY> <text>    given for it, in file order
//   file <name> <SCANRET> [text] SCAN_EMAIL of that file name (letter case
//                                ignored) answers SCANRET; the text is the
//                                SIGNAME of a VIRUS, else the ERRORSTRING
//   spamlevel <n>                SCAN_SPAM level of mail without GTUBE (0)
//   spam <subject> <n>           ... of mail with exactly this subject
//   fault <NAME|*> delay <ms>    hold the reply back this long after the
//                                request was read
//   fault <NAME|*> trickle <ms>  send the reply one byte every <ms>
//   fault <NAME|*> noreply       read the request, never answer
//   fault <NAME|*> close-mid-reply   send half a reply, then hang up
//   fault <NAME|*> close-mid-data    hang up in the middle of the request's DATA
//   fault <NAME|*> malformed-status  answer with a status line without blank
//   lifetime <seconds>           the service ends by itself after this time
//
// Before each reply the service reports the bytes that reached the pipe
// after the request ("... bytes arrived before the reply"): a client must
// never write into the middle of an exchange.
//
// Numbers are decimal or 0x hexadecimal. Without a scenario the service is
// a healthy one: type 0x1001, EICAR is a virus, GTUBE is spam, every other
// command in its set answers 100.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "comm/protocol.h"

namespace tarvixstandin {

enum class FaultKind {
  kNone,
  kDelay,
  kTrickle,
  kNoReply,
  kCloseMidReply,
  kCloseMidData,
  kMalformedStatus
};

struct ServiceFault {
  std::string command;  // upper case; "*" for every command
  FaultKind kind = FaultKind::kNone;
  uint32_t delayMs = 0;  // delay: the hold; trickle: the pause per byte
};

struct ScriptedValue {
  std::string key;
  std::string text;
};

struct ScriptedCommand {
  std::string name;  // upper case
  int32_t code = 100;
  std::vector<ScriptedValue> values;
};

struct FileVerdict {
  std::string file;
  std::string scanRet;
  std::string text;
};

struct SpamRule {
  std::string subject;
  uint32_t level = 0;
};

struct ServiceScenario {
  uint32_t appType = tarvixlib::comm::kServiceType;
  uint32_t handshakeVersion = tarvixlib::comm::kHandshakeVersion;
  uint32_t recordLength = tarvixlib::comm::kIdentityWireLength;
  uint32_t spamLevel = 0;
  uint32_t lifetimeSeconds = 0;  // 0: until stopped
  std::vector<ScriptedCommand> commands;
  std::vector<FileVerdict> files;
  std::vector<SpamRule> spam;
  std::vector<ServiceFault> faults;

  const ScriptedCommand* FindCommand(const std::string& name) const;
  const FileVerdict* FindFile(const std::string& file) const;
  // The first fault for this command (a named one before "*"), or null.
  const ServiceFault* FindFault(const std::string& name, FaultKind kind) const;
};

// Parses scenario text; false with a message naming the line on an error.
bool ParseServiceScenario(const std::string& text, ServiceScenario& scenario,
                          std::string& error);
// Reads and parses a file.
bool LoadServiceScenario(const std::string& path, ServiceScenario& scenario, std::string& error);

}  // namespace tarvixstandin
