// Console Ctrl-C handling: the first Ctrl-C or Ctrl-Break is reported as
// handled (the run goes on to its normal end), any further one is left to
// the system, which ends the process. Other control events take the
// system's default course.
#pragma once

#include <windows.h>

namespace tarvixconsole {

BOOL WINAPI ConsoleCtrlHandler(DWORD controlType);
// True once Ctrl-C or Ctrl-Break was pressed.
bool WasCtrlCPressed();
// Installs ConsoleCtrlHandler for the process.
bool InstallCtrlHandler();
// Forgets earlier presses (tests).
void ResetCtrlHandlerState();

}  // namespace tarvixconsole
