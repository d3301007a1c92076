// Commands of the listener connection: the add-in asks the service with
// START_LISTENER to take a connection as its listener, and the service then
// sends its one-way notifications on it (STATUS_CHANGED, STOP_APPLICATION),
// which are never answered.
#pragma once

#include "commands/command.h"

namespace tarvixlib {
namespace commands {

// A one-way notification: served without writing anything back, and sent
// without waiting for a reply.
class CTarvixPipeEvent : public CCopyableTarvixPipeCommand {
public:
  using CCopyableTarvixPipeCommand::CCopyableTarvixPipeCommand;
  bool WriteResponse(CMyStream&) override { return true; }
  bool ReadResponse(CMyStream&) override { return true; }
  bool CanRun(CCommandContext*) override { return true; }

protected:
  CTarvixPipeEvent(const CTarvixPipeEvent& other, bool newId)
      : CCopyableTarvixPipeCommand(other, newId) {}
};

// Registers the connection it runs on as the sender's listener; 100 when
// the service took it.
class CStartListenerCommand : public CPipeHandleAwareCommandT<CTarvixPipeCommand> {
public:
  static constexpr int32_t kRefused = 170;
  CStartListenerCommand();
};

namespace kickoff {

// Something about the service changed; E says what (10: the language).
class CStatusChangedCommand : public CTarvixPipeEvent {
public:
  static constexpr int32_t kLanguageChanged = 10;
  CStatusChangedCommand();
  CCopyableTarvixPipeCommand* Clone(bool newId) const override;

  CIntParam event{"E", 0};

protected:
  CStatusChangedCommand(const CStatusChangedCommand& other, bool newId);
};

// The service stops; its clients stop using it until told otherwise.
class CStopApplicationCommand : public CTarvixPipeEvent {
public:
  CStopApplicationCommand() : CTarvixPipeEvent("STOP_APPLICATION", 0) {}
  CCopyableTarvixPipeCommand* Clone(bool newId) const override;

protected:
  CStopApplicationCommand(const CStopApplicationCommand& other, bool newId)
      : CTarvixPipeEvent(other, newId) {}
};

}  // namespace kickoff
}  // namespace commands
}  // namespace tarvixlib
