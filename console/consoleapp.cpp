#include "console/consoleapp.h"

#include "console/connection.h"
#include "console/ctrlhandler.h"
#include "console/usage.h"

namespace tarvixconsole {

int RunConsoleClient(int argc, const char* const* argv, CSystemPower& power, CConsoleInput& input) {
  CConsoleCommandLine commandLine;
  commandLine.Parse(argc, argv);
  if (commandLine.WantsUsage()) {
    SVersionHeader header;
    bool hasHeader = ReadOwnVersionHeader(header);
    PrintUsage(commandLine, hasHeader ? &header : nullptr);
    return kExitOk;
  }
  InstallCtrlHandler();
  CComApartment apartment;
  CR6EnginePtr engine;
  if (!ConnectToEngine(apartment, engine)) return kExitNoConnection;
  CConsoleOperations operations(engine.Get(), power, input);
  operations.Run(commandLine);
  engine.Reset();  // before the apartment goes
  return kExitOk;
}

}  // namespace tarvixconsole
