// The server side: a set of commands served by name, and the handling of
// one request whose name line was read.
#pragma once

#include "commands/command.h"
#include "foundation/hashtable.h"

namespace tarvixlib {
namespace commands {

// The name a listener never answers when it does not know it.
constexpr const char* kAutoUpdatePostMessage = "AUTOUPDATE_POSTMESSAGE";
constexpr const char* kUnknownCommandText = "Unknown command";

// How serving one request went. Only kTransportFailed ends a session: a
// command that chose code 2 has still read its request and written its
// whole reply.
enum class ServeResult {
  kServed,           // the request was read and answered (or needs no answer)
  kCommandFailed,    // the command's own Execute ended it with code 2
  kTransportFailed,  // reading, parsing or writing failed: the connection is out of step
};

// Handles one request. Empty name: nothing. No command: the rest of the
// request is drained by its structure (DrainBlock: DATA bytes are skipped
// as bytes) up to its "." (or the end of the data); then, with
// answerUnknown and a name other than AUTOUPDATE_POSTMESSAGE, the reply
// "101 Unknown command" LF "." LF is written and flushed. Otherwise the
// command's Process runs.
ServeResult ServeRequest(const char* name, CTarvixPipeCommand* command, CMyStream& reader,
                         CMyStream& writer, CCommandContext* context, bool answerUnknown,
                         CMyLineBuffer& line);

// Ends the session that serves it: sets "${STOP}" to "yes", answers 100.
class CCloseConnectionCommand : public CTarvixPipeCommand {
public:
  CCloseConnectionCommand() : CTarvixPipeCommand("CLOSE_CONNECTION", 0) {}
  int32_t Execute(CCommandContext* context) override;
};

// Commands by name (64 buckets, letter case ignored); the set owns them.
// "CLOSE_CONNECTION" is there from the start.
class CCommandSet {
public:
  CCommandSet();
  virtual ~CCommandSet();
  CCommandSet(const CCommandSet&) = delete;
  CCommandSet& operator=(const CCommandSet&) = delete;

  // Takes the command; one of the same name is replaced (and deleted).
  bool Add(CTarvixPipeCommand* command);
  CTarvixPipeCommand* Find(const char* name) const;
  size_t Count() const { return commands_.Count(); }

  // ServeRequest with the command of that name.
  ServeResult Dispatch(const char* name, CMyStream& reader, CMyStream& writer,
                       CCommandContext* context, bool answerUnknown);

  // Clears the text unless append is set, then every command's Describe
  // (appended, brief as asked) followed by two LF, in the set's order.
  void Describe(CMyStringA& text, bool brief, bool append) const;

  CReturnMessages& ReturnMessages() { return messages_; }

private:
  CMyObjectHashTableT<const char*, CTarvixPipeCommand> commands_;
  CReturnMessages messages_;
  CMyLineBuffer line_;
};

}  // namespace commands
}  // namespace tarvixlib
