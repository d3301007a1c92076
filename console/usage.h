// The usage text with its version header.
#pragma once

#include <windows.h>

#include "console/options.h"

namespace tarvixconsole {

// The strings of a module's version resource, converted to the ANSI code
// page (260 characters each; a missing value is empty).
struct SVersionHeader {
  static constexpr size_t kValueChars = 260;
  char fileVersion[kValueChars] = {};
  char companyName[kValueChars] = {};  // read, not shown
  char legalCopyright[kValueChars] = {};
  char fileDescription[kValueChars] = {};
};

// Reads the version resource of the file `modulePath` through version.dll,
// loaded at run time. False when the file has no version resource (or the
// functions are missing); `header` is then left empty.
bool ReadVersionHeader(const wchar_t* modulePath, SVersionHeader& header);
// The same for the running executable.
bool ReadOwnVersionHeader(SVersionHeader& header);

// Prints the usage block: the header lines (when `header` is not null), the
// USAGE line with the program name, then the options the command line asks
// for (all of them, or the selected ones without the help options).
void PrintUsage(const CConsoleCommandLine& commandLine, const SVersionHeader* header);

}  // namespace tarvixconsole
