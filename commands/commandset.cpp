#include "commands/commandset.h"

#include <cstring>
#include <new>

#include "foundation/myprintf.h"

namespace tarvixlib {
namespace commands {

bool ServeRequest(const char* name, CTarvixPipeCommand* command, CMyStream& reader,
                  CMyStream& writer, CCommandContext* context, bool answerUnknown,
                  CMyLineBuffer& line) {
  if (!name || !*name) return true;
  if (command) return command->Process(reader, writer, context) != kReturnFailed;
  bool complete = DrainBlock(reader, line);
  if (!answerUnknown || std::strcmp(name, kAutoUpdatePostMessage) == 0) return complete;
  char reply[64];
  int n = FormatToBuffer(reply, sizeof reply, "%d %s\n", kReturnUnknownCommand, kUnknownCommandText);
  return WriteText(writer, reply, static_cast<size_t>(n)) && WriteTerminator(writer) && complete;
}

int32_t CCloseConnectionCommand::Execute(CCommandContext* context) {
  if (context) context->SetVariable("${STOP}", "yes");
  return kReturnSuccess;
}

CCommandSet::CCommandSet() : commands_(64, /*exactCase=*/false, /*owned=*/true) {
  Add(new (std::nothrow) CCloseConnectionCommand());
}

CCommandSet::~CCommandSet() = default;

bool CCommandSet::Add(CTarvixPipeCommand* command) {
  if (!command) return false;
  if (!commands_.Set(command->GetName(), command)) {
    delete command;
    return false;
  }
  return true;
}

CTarvixPipeCommand* CCommandSet::Find(const char* name) const {
  CTarvixPipeCommand* command = nullptr;
  return name && commands_.Get(name, &command) ? command : nullptr;
}

bool CCommandSet::Dispatch(const char* name, CMyStream& reader, CMyStream& writer,
                           CCommandContext* context, bool answerUnknown) {
  return ServeRequest(name, Find(name), reader, writer, context, answerUnknown, line_);
}

void CCommandSet::Describe(CMyStringA& text, bool brief, bool append) const {
  if (!append) text.Empty();
  for (CMyHashEntry* e = commands_.First(); e; e = commands_.Next(e)) {
    commands_.ValueOf(e)->Describe(text, brief, true);
    text.Append("\n\n");
  }
}

}  // namespace commands
}  // namespace tarvixlib
