// The operations of one run against the automation object, in their fixed
// order, and the helpers behind their output.
#pragma once

#include <windows.h>

#include "console/options.h"
#include "console/r6engine.h"

namespace tarvixconsole {

// The system calls of "-ShutdownIfIdle". The real one adjusts the process
// token and asks Windows to power off; tests substitute a recorder so that
// no machine is switched off by a test run.
class CSystemPower {
public:
  virtual ~CSystemPower() = default;
  // Enables SeShutdownPrivilege in the process token (results ignored).
  virtual void EnableShutdownPrivilege() = 0;
  // Asks for a forced-if-hung power-off; returns at once.
  virtual void RequestPowerOff() = 0;
  // The pause between two scanning checks.
  virtual void Wait(DWORD milliseconds) = 0;
};

class CWindowsSystemPower : public CSystemPower {
public:
  void EnableShutdownPrivilege() override;
  void RequestPowerOff() override;
  void Wait(DWORD milliseconds) override;
};

// Where "-Callback" waits for the user: one character from the input.
class CConsoleInput {
public:
  virtual ~CConsoleInput() = default;
  virtual int ReadChar() = 0;
};

class CStdinInput : public CConsoleInput {
public:
  int ReadChar() override;
};

constexpr DWORD kIdleShutdownWaitMs = 300000;
constexpr UINT kPowerOffFlags = EWX_POWEROFF | EWX_FORCEIFHUNG;
constexpr DWORD kPowerOffReason = SHTDN_REASON_FLAG_PLANNED;

// Runs the operations that `commandLine` selects, once each, in order. Each
// operation reads the argument its own option received. Failures are printed
// per operation and never stop the run.
class CConsoleOperations {
public:
  CConsoleOperations(IR6Engine* engine, CSystemPower& power, CConsoleInput& input)
      : m_engine(engine), m_power(power), m_input(input) {}
  void Run(const CConsoleCommandLine& commandLine);

private:
  void ShutdownIfIdle();
  void ScanFile(const char* fileName);
  void ShowUpdateServers();
  void GuiLanguage();
  void StartOrStopScan(bool start, const char* scan);
  void GetLastScan(const char* scan);
  void Viruslist(const char* filter);
  void EntryAction(EConsoleOption option, const char* id);
  void ClearViruslist();
  void SwapVdb(const char* fileName);
  void SwapSdb(const char* fileName);
  void AntispamReport(const CConsoleCommandLine& commandLine);
  void WaitForCallbacks();

  IR6Engine* m_engine;
  CSystemPower& m_power;
  CConsoleInput& m_input;
};

// "REMOVABLE..." (first nine characters, any case) becomes "REMOVEABLE",
// the name the object expects; anything else is returned unchanged.
const char* NormalizeScanName(const char* scan);

// Threat-history filter of "-Viruslist".
enum EThreatFilter { kFilterAll, kFilterExisting, kFilterNotExisting };
EThreatFilter ThreatFilterFromArgument(const char* argument);
bool ThreatFilterPasses(EThreatFilter filter, LONG status);

const char* ThreatStatusText(LONG status);
// The name of a GUI language identifier (exact values only), or null.
const char* GuiLanguageName(LONG language);

// A FILETIME count (decimal text) as "Mon, 1 Jan 1601 00:00:00 GMT" into a
// 32-character buffer; "TIME ERROR" for a number that is no valid time.
constexpr size_t kThreatTimeChars = 32;
void FormatThreatTime(const char* text, char (&buffer)[kThreatTimeChars]);

}  // namespace tarvixconsole
