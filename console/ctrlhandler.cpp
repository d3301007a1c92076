#include "console/ctrlhandler.h"

#include "console/consoleline.h"

namespace tarvixconsole {

namespace {

volatile LONG g_presses = 0;
volatile LONG g_pressed = 0;

}  // namespace

BOOL WINAPI ConsoleCtrlHandler(DWORD controlType) {
  if (controlType != CTRL_C_EVENT && controlType != CTRL_BREAK_EVENT) return FALSE;
  if (InterlockedIncrement(&g_presses) == 1) {
    InterlockedExchange(&g_pressed, 1);
    WriteText("\r\n Ctrl-C pressed, exiting...\r\n");
    return TRUE;
  }
  WriteText("\r\n Ctrl-C pressed again, hard exit...\r\n");
  return FALSE;
}

bool WasCtrlCPressed() { return InterlockedCompareExchange(&g_pressed, 0, 0) != 0; }

bool InstallCtrlHandler() { return SetConsoleCtrlHandler(ConsoleCtrlHandler, TRUE) != FALSE; }

void ResetCtrlHandlerState() {
  InterlockedExchange(&g_presses, 0);
  InterlockedExchange(&g_pressed, 0);
}

}  // namespace tarvixconsole
