// Scenario of the stand-in automation engine: what each method answers.
//
// A scenario is a text file of lines (UTF-8, at most 1 MiB, lines of at
// most 64 KiB; "#" starts a comment line, blank lines are ignored):
//
//   <Method> <result> [values...]     one answer of a method
//   Callback                          starts one virus-found event
//   CallbackValue <index> <result> <string>   a value of the last event
//   CallbackTrigger <event-name>      events fire once this named event is set
//                                     (not at all when unregistered first)
//   CallbackDelay <ms>                ... or this long after RegisterCallback
//                                     (the default, 0 ms; unregistering waits)
//   CallbackManual                    ... or only when a test fires them
//
// <result> is a 32-bit code in decimal or 0x hex (0, 1, 0x80004005, -1).
// Values by kind:
//   bool    true | false | 1 | 0
//   int     decimal or 0x hex; "keep" leaves the caller's preset
//   string  "text" with escapes \" \\ \n \r \t \xHH (U+00HH) \uHHHH (one
//           UTF-16 unit); null (a null BSTR); fill:N:C (N copies of the
//           ASCII character C, N at most 1048576)
//
// Values per method (in order):
//   DetectionOfProduct ActivateAnUpdate IsProtectionEnabled EnableProtection
//   IsUpdateInProgress IsProductScanning DisableProtection VerifyAuthenticity: bool
//   DataFileSignatureCount DataFileVersion DataFileTime EngineVersion
//   RetrieveLastScan: string
//   GetGUILanguage: int
//   LaunchAFileScan: bool infected, string signature id, string signature name
//   GetAntispamInfo: string engine version, database time, database version, entries
//   GetUpdateServer (list): string URL
//   GetThreatHistoryEntry (list): string time, int status, string signature
//     name, string file, string signature id, string process, int entry id
//   ActivateMainGUI LaunchAScan StopAScan DeleteInfection
//   DeleteInfectionKeepBackup IgnoreInfection RestoreInfection
//   ClearThreatHistory RefreshThreatHistory RewindThreatHistory
//   SwapVirusDatabase SwapAntispamDatabase RegisterCallback UnregisterCallback: none
//
// Several lines of one method answer successive calls and the last one
// repeats; list methods answer each line once and then 1 (the end). A
// method without a line answers 0x80004001 (E_NOTIMPL) and writes nothing.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "standin/scenariolines.h"

namespace tarvixstandin {

enum EMethod {
  kDetectionOfProduct,
  kActivateAnUpdate,
  kIsProtectionEnabled,
  kEnableProtection,
  kIsUpdateInProgress,
  kIsProductScanning,
  kDisableProtection,
  kDataFileSignatureCount,
  kDataFileVersion,
  kDataFileTime,
  kEngineVersion,
  kRetrieveLastScan,
  kGetUpdateServer,
  kGetGUILanguage,
  kLaunchAFileScan,
  kActivateMainGUI,
  kLaunchAScan,
  kStopAScan,
  kDeleteInfection,
  kDeleteInfectionKeepBackup,
  kIgnoreInfection,
  kRestoreInfection,
  kClearThreatHistory,
  kRefreshThreatHistory,
  kRewindThreatHistory,
  kGetThreatHistoryEntry,
  kGetAntispamInfo,
  kSwapVirusDatabase,
  kSwapAntispamDatabase,
  kVerifyAuthenticity,
  kRegisterCallback,
  kUnregisterCallback,
  kMethodCount
};

const char* MethodName(EMethod method);

// One value of an answer.
struct SValue {
  bool isNull = false;     // strings: a null BSTR
  bool keep = false;       // ints: leave the caller's preset
  long long number = 0;    // bools and ints
  std::wstring text;       // strings
};

struct SAnswer {
  HRESULT result = E_NOTIMPL;
  std::vector<SValue> values;
};

struct SEventValue {
  bool defined = false;
  HRESULT result = S_OK;
  SValue value;  // a string
};

constexpr int kEventValueCount = 8;

struct SCallbackEvent {
  SEventValue values[kEventValueCount];
};

enum ECallbackMode { kCallbackDelay, kCallbackTrigger, kCallbackManual };

class CScenario {
public:
  static constexpr size_t kMaxFileBytes = CScenarioLines::kMaxTextBytes;
  static constexpr size_t kMaxFill = 1 << 20;
  static constexpr size_t kMaxAnswersPerMethod = 4096;
  static constexpr size_t kMaxEvents = 256;

  // Parses `text` (`length` bytes). On failure returns false, describes the
  // first error with its line number in `error`, and keeps nothing.
  bool Parse(const char* text, size_t length, std::string& error);
  bool LoadFile(const wchar_t* path, std::string& error);

  // The answer for call number `call` (0-based) of `method`, or null when
  // the method has none (E_NOTIMPL, nothing written).
  const SAnswer* Answer(EMethod method, size_t call) const;
  bool IsListMethod(EMethod method) const;

  const std::vector<SCallbackEvent>& Events() const { return m_events; }
  ECallbackMode GetCallbackMode() const { return m_callbackMode; }
  DWORD GetCallbackDelay() const { return m_callbackDelay; }
  const std::wstring& GetCallbackTrigger() const { return m_callbackTrigger; }

private:
  std::vector<SAnswer> m_answers[kMethodCount];
  std::vector<SCallbackEvent> m_events;
  ECallbackMode m_callbackMode = kCallbackDelay;
  DWORD m_callbackDelay = 0;
  std::wstring m_callbackTrigger;
};

}  // namespace tarvixstandin
