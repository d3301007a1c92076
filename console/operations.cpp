#include "console/operations.h"

#include <climits>
#include <cstdint>
#include <cstdio>

#include "console/bstr.h"
#include "console/consoleline.h"
#include "console/tarvixevent.h"
#include "foundation/asciitext.h"
#include "foundation/comobject.h"
#include "foundation/myprintf.h"
#include "foundation/winhandles.h"

namespace tarvixconsole {

namespace {

constexpr HRESULT kHistoryError = static_cast<HRESULT>(0x80004005);

// A base-10 signed 64-bit number: leading white space and a sign allowed,
// reading stops at the first non-digit, no digits give 0, out of range
// saturates (as the C library's conversion does).
int64_t ParseInt64(const char* text) {
  if (!text) return 0;
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  uint64_t value = 0;
  const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
  bool overflow = false;
  for (; *text >= '0' && *text <= '9'; ++text) {
    unsigned digit = unsigned(*text - '0');
    if (overflow || value > (limit - digit) / 10) {
      overflow = true;
      continue;
    }
    value = value * 10 + digit;
  }
  if (overflow) return negative ? INT64_MIN : INT64_MAX;
  if (negative) return value == uint64_t(INT64_MAX) + 1 ? INT64_MIN : -int64_t(value);
  return int64_t(value);
}

// Calendar date of a day count since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(int64_t z, int64_t& year, unsigned& month, unsigned& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0);
}

const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct SLanguage {
  LONG value;
  const char* name;
};

const SLanguage kLanguages[] = {
    {0x04, "LANG_CHINESE_SIMPLIFIED"},  {0x07, "LANG_GERMAN"},    {0x09, "LANG_ENGLISH"},
    {0x0A, "LANG_SPANISH"},             {0x0C, "LANG_FRENCH"},    {0x10, "LANG_ITALIAN"},
    {0x13, "LANG_DUTCH"},               {0x15, "LANG_POLISH"},    {0x19, "LANG_RUSSIAN"},
    {0x1A, "LANG_CROATIAN"},            {0x1F, "LANG_TURKISH"},   {0x24, "LANG_SLOVENIAN"},
    {0x7C04, "LANG_CHINESE_TRADITIONAL"}, {0x7C1A, "LANG_SERBIAN_NEUTRAL"},
};

}  // namespace

// ---- helpers ---------------------------------------------------------------

const char* NormalizeScanName(const char* scan) {
  return tarvixlib::AsciiStartsWithNoCase(scan, "REMOVABLE") ? "REMOVEABLE" : scan;
}

EThreatFilter ThreatFilterFromArgument(const char* argument) {
  if (tarvixlib::AsciiStartsWithNoCase(argument, "EX")) return kFilterExisting;
  if (tarvixlib::AsciiStartsWithNoCase(argument, "NE")) return kFilterNotExisting;
  return kFilterAll;
}

bool ThreatFilterPasses(EThreatFilter filter, LONG status) {
  switch (filter) {
    case kFilterExisting: return status == 0;
    case kFilterNotExisting: return status != 0;
    default: return true;
  }
}

const char* ThreatStatusText(LONG status) {
  switch (status) {
    case 0: return "File exists.";
    case 1: return "File not found.";
    case 2: return "Deleted, but still in quarantine.";
    case 3: return "Deleted.";
    case 4: return "ENTRYSTATUS_EMAIL";
    case 5: return "ENTRYSTATUS_EMAIL_NOBACKUP";
    default: return "Unknown state!";
  }
}

const char* GuiLanguageName(LONG language) {
  for (const SLanguage& entry : kLanguages) {
    if (entry.value == language) return entry.name;
  }
  return nullptr;
}

void FormatThreatTime(const char* text, char (&buffer)[kThreatTimeChars]) {
  const int64_t ticks = ParseInt64(text);
  if (ticks < 0) {  // beyond what a FILETIME converts
    tarvixlib::FormatToBuffer(buffer, kThreatTimeChars, "%s", "TIME ERROR");
    return;
  }
  constexpr int64_t kTicksPerSecond = 10000000;
  constexpr int64_t kSecondsPerDay = 86400;
  constexpr int64_t kDaysFrom1601To1970 = 134774;
  const int64_t seconds = ticks / kTicksPerSecond;
  const int64_t days = seconds / kSecondsPerDay;
  const int64_t secondOfDay = seconds % kSecondsPerDay;
  const int64_t unixDays = days - kDaysFrom1601To1970;
  int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(unixDays, year, month, day);
  // 1601-01-01 was a Monday.
  const int64_t weekday = (days + 1) % 7;
  if (weekday < 0 || weekday > 6 || month < 1 || month > 12) {
    tarvixlib::FormatToBuffer(buffer, kThreatTimeChars, "%s", "TIME ERROR");
    return;
  }
  tarvixlib::FormatToBuffer(buffer, kThreatTimeChars, "%s, %u %s %u %.2u:%.2u:%.2u GMT",
                            kWeekdays[weekday], day, kMonths[month - 1],
                            static_cast<unsigned>(year), static_cast<unsigned>(secondOfDay / 3600),
                            static_cast<unsigned>(secondOfDay / 60 % 60),
                            static_cast<unsigned>(secondOfDay % 60));
}

// ---- system seams ----------------------------------------------------------

void CWindowsSystemPower::EnableShutdownPrivilege() {
  tarvixlib::CUniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Out()))
    return;
  TOKEN_PRIVILEGES privileges = {};
  LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
}

void CWindowsSystemPower::RequestPowerOff() { ExitWindowsEx(kPowerOffFlags, kPowerOffReason); }

void CWindowsSystemPower::Wait(DWORD milliseconds) { Sleep(milliseconds); }

int CStdinInput::ReadChar() { return getchar(); }

// ---- operations ------------------------------------------------------------

void CConsoleOperations::Run(const CConsoleCommandLine& commandLine) {
  CMyConsoleLog& log = CMyConsoleLog::Instance();
  auto selected = [&commandLine](EConsoleOption option) { return commandLine.IsSelected(option); };
  auto argument = [&commandLine](EConsoleOption option) { return commandLine.GetArgument(option); };
  R6BOOL flag = 0;
  HRESULT hr = S_OK;

  if (selected(kOptDetect)) {
    flag = 0;
    hr = m_engine->DetectionOfProduct(&flag);
    if (hr != S_OK) log.Message("DetectionOfProduct ERROR!");
    else log.YesNo("Product is installed", flag != 0);
  }
  if (selected(kOptIsProtectionEnabled)) {
    flag = 0;
    hr = m_engine->IsProtectionEnabled(&flag);
    if (hr != S_OK && hr != S_FALSE) log.Message("IsProtectionEnabled ERROR!");
    else log.YesNo("Protection is enabled", flag != 0);
  }
  if (selected(kOptVerify)) {
    flag = 0;
    hr = m_engine->VerifyAuthenticity(&flag);
    if (hr != S_OK && hr != S_FALSE) log.Message("VerifyAuthenticity ERROR!");
    else if (flag) log.Message("All executables are digitally signed");
    else log.Message("One ore more files are not properly signed");
  }
  if (selected(kOptIsUpdateInProgress)) {
    flag = 0;
    hr = m_engine->IsUpdateInProgress(&flag);
    if (hr != S_OK && hr != S_FALSE) log.Message("IsUpdateInProgress ERROR!");
    else log.YesNo("Update in progress", flag != 0);
  }
  if (selected(kOptIsScanning)) {
    flag = 0;
    hr = m_engine->IsProductScanning(&flag);
    if (hr != S_OK && hr != S_FALSE) log.Message("IsProductScanning ERROR!");
    else log.YesNo("Product is scanning", flag != 0);
  }
  if (selected(kOptShutdownIfIdle)) ShutdownIfIdle();

  // String results: one call, one value line.
  struct SStringQuery {
    EConsoleOption option;
    HRESULT (STDMETHODCALLTYPE IR6Engine::*method)(BSTR*);
    const char* error;
    const char* label;
  };
  auto stringQuery = [&](const SStringQuery& query) {
    if (!selected(query.option)) return;
    tarvixlib::CUniqueBstr text;
    if ((m_engine->*query.method)(text.Out()) != S_OK) log.Message("%s", query.error);
    else log.Value(query.label, AnsiFromBstr(text.Get()).GetString());
  };
  auto flagAction = [&](EConsoleOption option, HRESULT (STDMETHODCALLTYPE IR6Engine::*method)(R6BOOL*),
                        const char* error, const char* label) {
    if (!selected(option)) return;
    R6BOOL value = 0;
    if ((m_engine->*method)(&value) != S_OK) log.Message("%s", error);
    else log.YesNo(label, value != 0);
  };

  stringQuery({kOptVDBSignatureCount, &IR6Engine::DataFileSignatureCount,
               "DataFileSignatureCount ERROR!", "Data file signature count"});
  flagAction(kOptDisableProtection, &IR6Engine::DisableProtection, "DisableProtection ERROR!",
             "Protection has been disabled");
  flagAction(kOptEnableProtection, &IR6Engine::EnableProtection, "EnableProtection ERROR!",
             "Protection has been enabled");
  stringQuery({kOptVDBVersion, &IR6Engine::DataFileVersion, "DataFileVersion ERROR!",
               "Data file version"});
  stringQuery({kOptVDBTime, &IR6Engine::DataFileTime, "DataFileTime ERROR!", "Data file time"});
  stringQuery({kOptEngineVersion, &IR6Engine::EngineVersion, "EngineVersion ERROR!",
               "Engine version"});
  flagAction(kOptStartUpdate, &IR6Engine::ActivateAnUpdate, "ActivateAnUpdate ERROR!",
             "Starting update succeeded");

  if (selected(kOptScanFile)) ScanFile(argument(kOptScanFile));
  if (selected(kOptActivateGUI)) {
    hr = m_engine->ActivateMainGUI();
    log.YesNo("Activating main GUI succeeded", hr >= 0);
  }
  if (selected(kOptShowUpdateServers)) ShowUpdateServers();
  if (selected(kOptGUILanguage)) GuiLanguage();
  if (selected(kOptStartScan)) StartOrStopScan(true, argument(kOptStartScan));
  if (selected(kOptStopScan)) StartOrStopScan(false, argument(kOptStopScan));
  if (selected(kOptGetLastScan)) GetLastScan(argument(kOptGetLastScan));
  if (selected(kOptViruslist)) Viruslist(argument(kOptViruslist));
  if (selected(kOptDelete)) EntryAction(kOptDelete, argument(kOptDelete));
  if (selected(kOptDeleteAndSave)) EntryAction(kOptDeleteAndSave, argument(kOptDeleteAndSave));
  if (selected(kOptIgnore)) EntryAction(kOptIgnore, argument(kOptIgnore));
  if (selected(kOptRestore)) EntryAction(kOptRestore, argument(kOptRestore));
  if (selected(kOptClearViruslist)) ClearViruslist();
  if (selected(kOptSwapVDB)) SwapVdb(argument(kOptSwapVDB));
  if (selected(kOptSwapSDB)) SwapSdb(argument(kOptSwapSDB));
  AntispamReport(commandLine);
  if (selected(kOptCallback)) WaitForCallbacks();
}

void CConsoleOperations::ShutdownIfIdle() {
  CMyConsoleLog& log = CMyConsoleLog::Instance();
  m_power.EnableShutdownPrivilege();
  for (;;) {
    R6BOOL scanning = 0;
    HRESULT hr = m_engine->IsProductScanning(&scanning);
    if (hr != S_OK && hr != S_FALSE) {
      log.Message("VEXAL_IDLESHUTDOWN ERROR!");
      return;
    }
    if (!scanning) {
      log.Message("Shutting down...");
      m_power.RequestPowerOff();
      return;
    }
    log.Message("Scan in progress. Waiting for 5 minutes...");
    m_power.Wait(kIdleShutdownWaitMs);
  }
}

void CConsoleOperations::ScanFile(const char* fileName) {
  CMyConsoleLineContainer block(false);
  block.AddText("Scanning single File:");
  block.AddValue("Filename", fileName);
  tarvixlib::CUniqueBstr name = BstrFromAnsi(fileName), signatureId, signatureName;
  R6BOOL infected = 0;
  HRESULT hr = m_engine->LaunchAFileScan(CBstrInput(name), &infected, signatureId.Out(),
                                         signatureName.Out());
  if (hr == S_FALSE) {
    block.AddYesNo("Virus found", infected != 0);
    if (infected) {
      block.AddValue("Sig-ID", AnsiFromBstr(signatureId.Get()).GetString());
      block.AddValue("Sig-Name", AnsiFromBstr(signatureName.Get()).GetString());
    }
  } else if (hr == S_OK) {
    block.AddText("No infection found.");
  } else {
    block.AddText("LaunchAFileScan ERROR!");
  }
  block.Print();
}

void CConsoleOperations::ShowUpdateServers() {
  CMyConsoleLineContainer block(false);
  block.AddText("Get update server URL:");
  LONG counter = 0;
  for (;;) {
    tarvixlib::CUniqueBstr url;
    if (m_engine->GetUpdateServer(&counter, url.Out()) != S_OK) break;
    ++counter;
    char label[64];
    tarvixlib::FormatToBuffer(label, sizeof(label), "Update Server #%d", static_cast<int>(counter));
    block.AddValue(label, AnsiFromBstr(url.Get()).GetString());
  }
  block.Print();
}

void CConsoleOperations::GuiLanguage() {
  LONG language = -1;
  m_engine->GetGUILanguage(&language);  // result ignored: the preset shows a failure
  const char* name = GuiLanguageName(language);
  if (name) {
    CMyConsoleLog::Instance().Value("GUI language", name);
    return;
  }
  char text[64];
  tarvixlib::FormatToBuffer(text, sizeof(text), "Unable to resolve language: %d",
                            static_cast<int>(language));
  CMyConsoleLog::Instance().Value("GUI language", text);
}

void CConsoleOperations::StartOrStopScan(bool start, const char* scan) {
  tarvixlib::CUniqueBstr name = BstrFromAnsi(NormalizeScanName(scan));
  HRESULT hr = start ? m_engine->LaunchAScan(CBstrInput(name)) : m_engine->StopAScan(CBstrInput(name));
  CMyConsoleLog::Instance().YesNo(
      start ? "Launching the scan succeeded" : "Stopping the scan succeeded", hr == S_OK);
}

void CConsoleOperations::GetLastScan(const char* scan) {
  CMyConsoleLog& log = CMyConsoleLog::Instance();
  log.Message("Retrieve last scan:");
  tarvixlib::CUniqueBstr name = BstrFromAnsi(scan);  // passed as typed: no scan-name substitution here
  tarvixlib::CUniqueBstr date;
  if (m_engine->RetrieveLastScan(CBstrInput(name), date.Out()) != S_OK) {
    log.Message("RetrieveLastScan ERROR!");
    return;
  }
  tarvixlib::CMyStringA text = AnsiFromBstr(date.Get());
  log.Value("Last scan", text.IsEmpty() ? "Never completed!" : text.GetString());
}

void CConsoleOperations::Viruslist(const char* filterArgument) {
  CMyConsoleLog& log = CMyConsoleLog::Instance();
  const EThreatFilter filter = ThreatFilterFromArgument(filterArgument);
  m_engine->RefreshThreatHistory();
  m_engine->RewindThreatHistory();
  log.Message("Enumerate threat history:");
  HRESULT hr;
  for (;;) {
    tarvixlib::CUniqueBstr time, signatureName, file, signatureId, process;
    LONG status = 0, entryId = 0;
    hr = m_engine->GetThreatHistoryEntry(time.Out(), &status, signatureName.Out(), file.Out(),
                                         signatureId.Out(), process.Out(), &entryId);
    if (hr != S_OK) break;
    if (!ThreatFilterPasses(filter, status)) continue;
    char timeText[kThreatTimeChars];
    FormatThreatTime(AnsiFromBstr(time.Get()).GetString(), timeText);
    CMyConsoleLineContainer block(true);
    block.AddHeader("Virus (ID %d):", static_cast<int>(entryId));
    block.AddValue("File", AnsiFromBstr(file.Get()).GetString());
    block.AddValue("Sig-ID", AnsiFromBstr(signatureId.Get()).GetString());
    block.AddValue("Sig-Name", AnsiFromBstr(signatureName.Get()).GetString());
    block.AddValue("Process", AnsiFromBstr(process.Get()).GetString());
    block.AddValue("Time found", timeText);
    block.AddValue("Status", ThreatStatusText(status));
    block.Print();
  }
  if (hr == S_FALSE) log.Message("No more threat history entries found.");
  else if (hr == kHistoryError) log.Message("GetThreatHistoryEntry ERROR!");
}

void CConsoleOperations::EntryAction(EConsoleOption option, const char* id) {
  const char* header;
  const char* result;
  HRESULT (STDMETHODCALLTYPE IR6Engine::*method)(BSTR*);
  switch (option) {
    case kOptDelete:
      header = "Deleting Virus:";
      result = "Deleted successfully";
      method = &IR6Engine::DeleteInfection;
      break;
    case kOptDeleteAndSave:
      header = "Creating backup and deleting virus:";
      result = "Deleted (but backuped) successfully";
      method = &IR6Engine::DeleteInfectionKeepBackup;
      break;
    case kOptIgnore:
      header = "Temporarily ignoring virus:";
      result = "Ignored successfully";
      method = &IR6Engine::IgnoreInfection;
      break;
    case kOptRestore:
      header = "Restoring file:";
      result = "Restored successfully";
      method = &IR6Engine::RestoreInfection;
      break;
    default:
      return;
  }
  CMyConsoleLineContainer block(false);
  block.AddText(header);
  block.AddValue("ID", id);
  tarvixlib::CUniqueBstr entry = BstrFromAnsi(id);
  block.AddYesNo(result, (m_engine->*method)(CBstrInput(entry)) == S_OK);
  block.Print();
}

void CConsoleOperations::ClearViruslist() {
  CMyConsoleLineContainer block(false);
  block.AddText("Cleaning list and removing backups:");
  block.AddYesNo("Viruslist cleaned successfully", m_engine->ClearThreatHistory() == S_OK);
  block.Print();
}

void CConsoleOperations::SwapVdb(const char* fileName) {
  CMyConsoleLineContainer block(false);
  block.AddText("Replacing Virus Database:");
  block.AddValue("Filename", fileName);
  tarvixlib::CUniqueBstr name = BstrFromAnsi(fileName);
  block.AddYesNo("Replaced successfully", m_engine->SwapVirusDatabase(CBstrInput(name)) == S_OK);
  block.Print();
}

void CConsoleOperations::SwapSdb(const char* fileName) {
  CMyConsoleLineContainer block(false);
  block.AddText("Replacing Antispam Database:");
  block.AddValue("Filename", fileName);
  tarvixlib::CUniqueBstr name = BstrFromAnsi(fileName);
  HRESULT hr = m_engine->SwapAntispamDatabase(CBstrInput(name));
  block.AddYesNo("The virus database was successfully replaced", hr == S_OK || hr == S_FALSE);
  block.AddEmpty();
  if (hr == S_OK) {
    block.AddText("The AntiSPAM database was successfully replaced.");
  } else if (hr == S_FALSE) {
    block.AddText(
        "The AntiSPAM database was successfully replaced but was not reloaded (AntiSPAM not "
        "loaded).");
  }
  block.Print();
}

void CConsoleOperations::AntispamReport(const CConsoleCommandLine& commandLine) {
  const bool all = commandLine.IsSelected(kOptASInfo);
  const bool version = all || commandLine.IsSelected(kOptASVersion);
  const bool time = all || commandLine.IsSelected(kOptSDBTime);
  const bool databaseVersion = all || commandLine.IsSelected(kOptSDBVersion);
  const bool entries = all || commandLine.IsSelected(kOptSDBSignatureCount);
  if (!version && !time && !databaseVersion && !entries) return;
  CMyConsoleLog& log = CMyConsoleLog::Instance();
  tarvixlib::CUniqueBstr engineVersion, databaseTime, databaseVersionText, databaseEntries;
  if (m_engine->GetAntispamInfo(engineVersion.Out(), databaseTime.Out(),
                                databaseVersionText.Out(), databaseEntries.Out()) != S_OK) {
    log.Message("GetAntispamInfo ERROR!");
    return;
  }
  if (version) log.Value("Antispam Engine Version", AnsiFromBstr(engineVersion.Get()).GetString());
  if (time) log.Value("Antispam Database Time", AnsiFromBstr(databaseTime.Get()).GetString());
  if (databaseVersion)
    log.Value("Antispam Database Version", AnsiFromBstr(databaseVersionText.Get()).GetString());
  if (entries) log.Value("Antispam Database Entries", AnsiFromBstr(databaseEntries.Get()).GetString());
}

void CConsoleOperations::WaitForCallbacks() {
  CMyConsoleLog& log = CMyConsoleLog::Instance();
  // The object may keep a reference to the sink beyond UnregisterCallback.
  tarvixlib::CComPtr<CTarvixEvent> sink = tarvixlib::CComObjectMake<CTarvixEvent>();
  m_engine->RegisterCallback(0, sink.Get());
  log.Message("Waiting for incoming callbacks - Press \"Return\" to quit");
  m_input.ReadChar();
  log.Message("Stop.");
  m_engine->UnregisterCallback(0);
}

}  // namespace tarvixconsole
