// The stand-in automation engine: implements IR6Engine with the service's
// slot layout and answers from a scenario (standin/scenario.h). Every call
// is recorded (method and input strings) and, when TARVIX_R6_LOG names a
// file, appended to it as a UTF-8 line, so tests can see what was passed.
//
// The callback sink is held like a real server holds it: a reference of its
// own from RegisterCallback to UnregisterCallback (or the engine's end), so
// a client that counts the sink's references wrongly fails here as it would
// against the service.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "console/r6engine.h"
#include "foundation/comobject.h"
#include "foundation/comptr.h"
#include "foundation/winhandles.h"
#include "standin/scenario.h"

namespace tarvixstandin {

class CStandinEngine final : public tarvixlib::CComObject<IR6Engine> {
public:
  explicit CStandinEngine(const CScenario& scenario);

  // Creates an engine whose scenario comes from the file TARVIX_R6_SCENARIO
  // names (none set: an empty scenario). Fails with E_FAIL when the file
  // cannot be read or parsed.
  static HRESULT CreateFromEnvironment(tarvixlib::CComPtr<CStandinEngine>& engine);

  // The calls so far, e.g. "LaunchAScan <REMOVEABLE>" or "DeleteInfection null".
  std::vector<std::string> GetCalls() const;
  // Fires the scenario's events into `sink` now, on the calling thread.
  void FireCallbacks(ITarvixEvent* sink);
  // The same into the sink RegisterCallback received (none: nothing).
  void FireRegisteredCallbacks();

  // IR6Engine
  HRESULT STDMETHODCALLTYPE DetectionOfProduct(R6BOOL* installed) override;
  HRESULT STDMETHODCALLTYPE ActivateAnUpdate(R6BOOL* started) override;
  HRESULT STDMETHODCALLTYPE IsProtectionEnabled(R6BOOL* enabled) override;
  HRESULT STDMETHODCALLTYPE EnableProtection(R6BOOL* enabled) override;
  HRESULT STDMETHODCALLTYPE IsUpdateInProgress(R6BOOL* running) override;
  HRESULT STDMETHODCALLTYPE IsProductScanning(R6BOOL* scanning) override;
  HRESULT STDMETHODCALLTYPE DisableProtection(R6BOOL* disabled) override;
  HRESULT STDMETHODCALLTYPE DataFileSignatureCount(BSTR* count) override;
  HRESULT STDMETHODCALLTYPE DataFileVersion(BSTR* version) override;
  HRESULT STDMETHODCALLTYPE DataFileTime(BSTR* time) override;
  HRESULT STDMETHODCALLTYPE EngineVersion(BSTR* version) override;
  HRESULT STDMETHODCALLTYPE RetrieveLastScan(BSTR* scanName, BSTR* date) override;
  HRESULT STDMETHODCALLTYPE GetUpdateServer(LONG* index, BSTR* url) override;
  HRESULT STDMETHODCALLTYPE GetGUILanguage(LONG* language) override;
  HRESULT STDMETHODCALLTYPE Reserved17() override;
  HRESULT STDMETHODCALLTYPE Reserved18() override;
  HRESULT STDMETHODCALLTYPE LaunchAFileScan(BSTR* fileName, R6BOOL* infected, BSTR* signatureId,
                                            BSTR* signatureName) override;
  HRESULT STDMETHODCALLTYPE ActivateMainGUI() override;
  HRESULT STDMETHODCALLTYPE LaunchAScan(BSTR* scan) override;
  HRESULT STDMETHODCALLTYPE StopAScan(BSTR* scan) override;
  HRESULT STDMETHODCALLTYPE DeleteInfection(BSTR* entryId) override;
  HRESULT STDMETHODCALLTYPE DeleteInfectionKeepBackup(BSTR* entryId) override;
  HRESULT STDMETHODCALLTYPE IgnoreInfection(BSTR* entryId) override;
  HRESULT STDMETHODCALLTYPE RestoreInfection(BSTR* entryId) override;
  HRESULT STDMETHODCALLTYPE ClearThreatHistory() override;
  HRESULT STDMETHODCALLTYPE RefreshThreatHistory() override;
  HRESULT STDMETHODCALLTYPE RewindThreatHistory() override;
  HRESULT STDMETHODCALLTYPE GetThreatHistoryEntry(BSTR* time, LONG* status, BSTR* signatureName,
                                                  BSTR* file, BSTR* signatureId, BSTR* process,
                                                  LONG* entryId) override;
  HRESULT STDMETHODCALLTYPE GetAntispamInfo(BSTR* engineVersion, BSTR* databaseTime,
                                            BSTR* databaseVersion,
                                            BSTR* databaseEntries) override;
  HRESULT STDMETHODCALLTYPE SwapVirusDatabase(BSTR* fileName) override;
  HRESULT STDMETHODCALLTYPE SwapAntispamDatabase(BSTR* fileName) override;
  HRESULT STDMETHODCALLTYPE VerifyAuthenticity(R6BOOL* allSigned) override;
  HRESULT STDMETHODCALLTYPE RegisterCallback(LONG reserved, ITarvixEvent* sink) override;
  HRESULT STDMETHODCALLTYPE UnregisterCallback(LONG reserved) override;

private:
  ~CStandinEngine() override;

  // Records the call and returns its answer (null: E_NOTIMPL, write nothing).
  const SAnswer* Begin(EMethod method, const BSTR* input = nullptr);
  void Record(const std::string& line);
  HRESULT AnswerFlag(EMethod method, R6BOOL* flag);
  HRESULT AnswerString(EMethod method, BSTR* text, const BSTR* input = nullptr);
  HRESULT AnswerPlain(EMethod method, const BSTR* input = nullptr);
  // The registered sink, with a reference for the caller; null when none.
  tarvixlib::CComPtr<ITarvixEvent> RegisteredSink() const;
  void StopCallbackThread();
  static DWORD WINAPI CallbackThread(void* self);

  CScenario m_scenario;
  size_t m_calls[kMethodCount] = {};
  mutable std::mutex m_lock;
  std::vector<std::string> m_log;
  std::wstring m_logPath;
  tarvixlib::CComPtr<ITarvixEvent> m_sink;  // under m_lock
  // The thread that fires the events after RegisterCallback, and its stop
  // event; touched only by the calls that register and unregister.
  tarvixlib::CUniqueHandle m_thread;
  tarvixlib::CUniqueHandle m_stop;
};

}  // namespace tarvixstandin
