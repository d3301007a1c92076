#include "commands/commandset.h"

#include <cstring>
#include <new>

#include "foundation/myprintf.h"

namespace tarvixlib {
namespace commands {

ServeResult ServeRequest(const char* name, CTarvixPipeCommand* command, CMyStream& reader,
                         CMyStream& writer, CCommandContext* context, bool answerUnknown,
                         CMyLineBuffer& line) {
  if (!name || !*name) return ServeResult::kServed;
  if (command) {
    int32_t code = command->Process(reader, writer, context);
    if (command->WireFailed()) return ServeResult::kTransportFailed;
    return code == kReturnFailed ? ServeResult::kCommandFailed : ServeResult::kServed;
  }
  bool complete = DrainBlock(reader, line);
  bool written = true;
  if (answerUnknown && std::strcmp(name, kAutoUpdatePostMessage) != 0) {
    char reply[64];
    int n = FormatToBuffer(reply, sizeof reply, "%d %s\n", kReturnUnknownCommand, kUnknownCommandText);
    written = WriteText(writer, reply, static_cast<size_t>(n)) && WriteTerminator(writer);
  }
  return complete && written ? ServeResult::kServed : ServeResult::kTransportFailed;
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

ServeResult CCommandSet::Dispatch(const char* name, CMyStream& reader, CMyStream& writer,
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
