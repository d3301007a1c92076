// vexal-client: controls the local security service from the command line.
#include <fcntl.h>
#include <io.h>
#include <cstdio>

#include "console/consoleapp.h"

int main(int argc, char** argv) {
  // Output bytes go out exactly as formatted (no LF -> CR LF translation).
  _setmode(_fileno(stdout), _O_BINARY);
  tarvixconsole::CWindowsSystemPower power;
  tarvixconsole::CStdinInput input;
  return tarvixconsole::RunConsoleClient(argc, argv, power, input);
}
