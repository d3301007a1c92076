#include "mapilib/listener.h"

#include <new>

#include "mapilib/appdetails.h"

namespace mapilib {
namespace commands {

using tarvixlib::commands::CCommandContext;
using tarvixlib::commands::CCopyableTarvixPipeCommand;
using tarvixlib::commands::kReturnSuccess;

int32_t CStatusChangedCommand::Execute(CCommandContext*) {
  if (details_) {
    details_->ReloadSettings();
    if (event.Get() == kLanguageChanged) details_->ReloadLanguage();
  }
  return kReturnSuccess;
}

CCopyableTarvixPipeCommand* CStatusChangedCommand::Clone(bool newId) const {
  return new (std::nothrow) CStatusChangedCommand(*this, newId);
}

int32_t CStopApplicationCommand::Execute(CCommandContext*) {
  if (details_) details_->Invalidate();
  return kReturnSuccess;
}

CCopyableTarvixPipeCommand* CStopApplicationCommand::Clone(bool newId) const {
  return new (std::nothrow) CStopApplicationCommand(*this, newId);
}

}  // namespace commands
}  // namespace mapilib

CListenerCommandSet::CListenerCommandSet(mapilib::CAppDetails* details) {
  Add(new tarvixlib::commands::CNopCommand("NOP"));
  Add(new mapilib::commands::CStatusChangedCommand(details));
  Add(new mapilib::commands::CStopApplicationCommand(details));
}
