#include "commands/notifycommands.h"

#include <new>

namespace tarvixlib {
namespace commands {

CStartListenerCommand::CStartListenerCommand()
    : CPipeHandleAwareCommandT<CTarvixPipeCommand>("START_LISTENER", 0) {
  AddReturnMessage(kRefused, 1355);
}

namespace kickoff {

CStatusChangedCommand::CStatusChangedCommand() : CTarvixPipeEvent("STATUS_CHANGED", 0) {
  AddRequestParam(event);
}

CStatusChangedCommand::CStatusChangedCommand(const CStatusChangedCommand& other, bool newId)
    : CTarvixPipeEvent(other, newId) {
  AddRequestParam(event);  // resets it
  event.Set(other.event.Get());
}

CCopyableTarvixPipeCommand* CStatusChangedCommand::Clone(bool newId) const {
  return new (std::nothrow) CStatusChangedCommand(*this, newId);
}

CCopyableTarvixPipeCommand* CStopApplicationCommand::Clone(bool newId) const {
  return new (std::nothrow) CStopApplicationCommand(*this, newId);
}

}  // namespace kickoff
}  // namespace commands
}  // namespace tarvixlib
