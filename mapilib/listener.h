// What the add-in serves on its listener connection: NOP, CLOSE_CONNECTION
// (built into every command set), and the service's two notifications,
// which act on the application details.
#pragma once

#include "commands/commandset.h"
#include "commands/notifycommands.h"

namespace mapilib {

class CAppDetails;

namespace commands {

// Reloads the mail settings; with E equal to 10 also the language.
class CStatusChangedCommand : public tarvixlib::commands::kickoff::CStatusChangedCommand {
public:
  explicit CStatusChangedCommand(CAppDetails* details) : details_(details) {}
  int32_t Execute(tarvixlib::commands::CCommandContext* context) override;
  tarvixlib::commands::CCopyableTarvixPipeCommand* Clone(bool newId) const override;

private:
  CStatusChangedCommand(const CStatusChangedCommand& other, bool newId)
      : tarvixlib::commands::kickoff::CStatusChangedCommand(other, newId),
        details_(other.details_) {}
  CAppDetails* details_;
};

// Marks the mail settings as not valid: no scans until they are reloaded.
class CStopApplicationCommand : public tarvixlib::commands::kickoff::CStopApplicationCommand {
public:
  explicit CStopApplicationCommand(CAppDetails* details) : details_(details) {}
  int32_t Execute(tarvixlib::commands::CCommandContext* context) override;
  tarvixlib::commands::CCopyableTarvixPipeCommand* Clone(bool newId) const override;

private:
  CStopApplicationCommand(const CStopApplicationCommand& other, bool newId)
      : tarvixlib::commands::kickoff::CStopApplicationCommand(other, newId),
        details_(other.details_) {}
  CAppDetails* details_;
};

}  // namespace commands
}  // namespace mapilib

// The listener's command set: NOP, STATUS_CHANGED and STOP_APPLICATION
// bound to the application details, beside the built-in CLOSE_CONNECTION.
class CListenerCommandSet : public tarvixlib::commands::CCommandSet {
public:
  explicit CListenerCommandSet(mapilib::CAppDetails* details);
};
