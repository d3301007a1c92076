// One run of the console client: parse, then usage or connect and operate.
#pragma once

#include "console/operations.h"

namespace tarvixconsole {

// Exit codes of a run.
constexpr int kExitOk = 0;
constexpr int kExitNoConnection = 1;

// Runs the client with the given seams (the real program passes the
// Windows power seam and the standard input).
int RunConsoleClient(int argc, const char* const* argv, CSystemPower& power, CConsoleInput& input);

}  // namespace tarvixconsole
