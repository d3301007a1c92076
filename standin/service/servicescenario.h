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
//   clear <NAME>                 drops the values given so far for NAME
//                                (the built-in ones included)
//   push <ms> <NAME> [KEY=VALUE ...]
//                                <ms> after the first listener registration,
//                                writes NAME (letter case as given), one
//                                parameter line "KEY:VALUE" per pair and "."
//                                down the listener connection; the value is
//                                everything after the first "="
//   push <ms> hangup             ... closes the listener connection instead
//   push <ms> language <code>    ... sets the add-in's language choice for
//                                this user (the registry value its language
//                                manager reads), as the service's settings
//                                would before STATUS_CHANGED E=10
//   answer-wait <ms>             how long a pushed command that is answered
//                                may take to answer (5000)
//
// Values: a `value` line for a key NAME already has replaces that value in
// place (keys compared ignoring case); other keys are appended in file
// order. GET_TARVIXSTATUS, GET_SPECIFICATION_VALUE and GET_MAPISETTINGS come
// with built-in values (AddQueryDefaults) that such lines replace; `command`
// changes only their code. `command START_LISTENER <code>` with a code other
// than 100 refuses the listener: the connection then goes on carrying the
// client's commands.
//
// The listener: once START_LISTENER was answered with 100 the connection
// changes direction. The service writes the pushes down it, one at a time,
// and reports each with what came back: STATUS_CHANGED, STOP_APPLICATION
// (any letter case) and AUTOUPDATE_POSTMESSAGE are one-way, so it waits
// 300 ms and expects nothing; anything else must be answered (status line,
// parameter lines, ".") within the answer wait. Each timed push fires once,
// on the listener registered last that is still open, or on the next one to
// register when none is. Without push lines the service stays silent.
//
// Before each reply the service reports the bytes that reached the pipe
// after the request ("... bytes arrived before the reply"): a client must
// never write into the middle of an exchange.
//
// Numbers are decimal or 0x hexadecimal. Without a scenario the service is
// a healthy one: type 0x1001, EICAR is a virus, GTUBE is spam, the three
// queries give their built-in values, every other command in its set
// answers 100, START_LISTENER included.
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

// A command the service writes down the listener connection, or the
// hang-up of that connection.
struct ListenerPush {
  uint32_t atMs = 0;  // timed pushes: after the first registration
  bool hangup = false;
  std::string language;  // not empty: set the language choice, push nothing
  std::string name;  // as given
  std::vector<ScriptedValue> params;

  // "NAME KEY=VALUE ..." or "hangup", for the output.
  std::string Describe() const;
  // Whether the listener never answers it.
  bool OneWay() const;
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
  std::vector<ListenerPush> pushes;  // file order
  uint32_t answerWaitMs = 5000;

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

// Gives the three queries the add-in loads its details with their built-in
// answers (code 100): a status whose MAIN_PATH_W (UTF-8) and MAIN_PATH
// (ANSI) are the texts given, the product's specification values, and mail
// settings with scanning, the window, the notices and the spam check on.
// Call it before parsing, so that the scenario's lines replace them.
void AddQueryDefaults(ServiceScenario& scenario, const std::string& mainPathUtf8,
                      const std::string& mainPathAnsi);

// Parses the words of a push, "NAME [KEY=VALUE ...]" or "hangup" (also the
// service's control line "push ..." without its first word); false with the
// reason. The time is left as it is.
bool ParsePushWords(const std::string& words, ListenerPush& push, std::string& why);

}  // namespace tarvixstandin
