#include "standin/engine.h"

#include <oleauto.h>

#include <cstdio>
#include <new>

namespace tarvixstandin {

using tarvixlib::CComObjectMake;
using tarvixlib::CComPtr;
using tarvixlib::CUniqueHandle;

namespace {

std::string ToUtf8(const wchar_t* text, size_t length) {
  std::string out;
  if (length == 0) return out;
  int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr,
                              nullptr);
  if (n <= 0) return out;
  out.resize(static_cast<size_t>(n));
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &out[0], n, nullptr, nullptr);
  return out;
}

// "null", or the text in angle brackets (long texts cut, with their length).
std::string DescribeInput(const BSTR* input) {
  if (!input) return "(no address)";
  if (!*input) return "null";
  constexpr size_t kShown = 256;
  size_t length = SysStringLen(*input);
  std::string text = "<" + ToUtf8(*input, length < kShown ? length : kShown) + ">";
  if (length > kShown) text += "...(" + std::to_string(length) + ")";
  return text;
}

BSTR MakeString(const SValue& value) {
  if (value.isNull) return nullptr;
  return SysAllocStringLen(value.text.data(), static_cast<UINT>(value.text.size()));
}

// The data object of one event: values 0 to 7 as the scenario gives them.
class CStandinEventInfo final : public tarvixlib::CComObject<ITarvixEventInfo> {
public:
  explicit CStandinEventInfo(const SCallbackEvent& event) : m_event(event) {}
  HRESULT STDMETHODCALLTYPE GetValueCount(LONG* count) noexcept override {
    if (!count) return E_POINTER;
    *count = kEventValueCount;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetValue(LONG index, BSTR* value) noexcept override {
    if (!value) return E_POINTER;
    *value = nullptr;
    if (index < 0 || index >= kEventValueCount) return E_INVALIDARG;
    const SEventValue& entry = m_event.values[index];
    if (!entry.defined) return S_OK;  // a null value
    *value = MakeString(entry.value);
    return entry.result;
  }

private:
  SCallbackEvent m_event;
};

}  // namespace

CStandinEngine::CStandinEngine(const CScenario& scenario) : m_scenario(scenario) {
  wchar_t path[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"TARVIX_R6_LOG", path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) m_logPath.assign(path, n);
}

CStandinEngine::~CStandinEngine() { StopCallbackThread(); }

HRESULT CStandinEngine::CreateFromEnvironment(CComPtr<CStandinEngine>& engine) {
  engine.Reset();
  CScenario scenario;
  wchar_t path[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"TARVIX_R6_SCENARIO", path, MAX_PATH);
  if (n >= MAX_PATH) return E_FAIL;
  if (n == 0) {
    // Worth a word: without a scenario every method answers E_NOTIMPL.
    fprintf(stderr, "stand-in engine: TARVIX_R6_SCENARIO is not set; nothing is answered\n");
  } else {
    std::string error;
    if (!scenario.LoadFile(path, error)) {
      fprintf(stderr, "stand-in engine: scenario: %s\n", error.c_str());
      return E_FAIL;
    }
  }
  engine = CComObjectMake<CStandinEngine>(scenario);
  return S_OK;
}

std::vector<std::string> CStandinEngine::GetCalls() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_log;
}

void CStandinEngine::Record(const std::string& line) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_log.push_back(line);
  if (m_logPath.empty()) return;
  CUniqueHandle file(CreateFileW(m_logPath.c_str(), FILE_APPEND_DATA,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

const SAnswer* CStandinEngine::Begin(EMethod method, const BSTR* input) {
  std::string line = MethodName(method);
  if (input) line += " " + DescribeInput(input);
  Record(line);
  size_t call;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    call = m_calls[method]++;
  }
  return m_scenario.Answer(method, call);
}

HRESULT CStandinEngine::AnswerFlag(EMethod method, R6BOOL* flag) {
  const SAnswer* answer = Begin(method);
  if (!flag) return E_POINTER;
  if (!answer) return E_NOTIMPL;
  *flag = answer->values[0].number ? 1 : 0;
  return answer->result;
}

HRESULT CStandinEngine::AnswerString(EMethod method, BSTR* text, const BSTR* input) {
  const SAnswer* answer = Begin(method, input);
  if (!text) return E_POINTER;
  if (!answer) return E_NOTIMPL;
  *text = MakeString(answer->values[0]);
  return answer->result;
}

HRESULT CStandinEngine::AnswerPlain(EMethod method, const BSTR* input) {
  const SAnswer* answer = Begin(method, input);
  return answer ? answer->result : E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CStandinEngine::DetectionOfProduct(R6BOOL* v) {
  return AnswerFlag(kDetectionOfProduct, v);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::ActivateAnUpdate(R6BOOL* v) {
  return AnswerFlag(kActivateAnUpdate, v);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::IsProtectionEnabled(R6BOOL* v) {
  return AnswerFlag(kIsProtectionEnabled, v);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::EnableProtection(R6BOOL* v) {
  return AnswerFlag(kEnableProtection, v);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::IsUpdateInProgress(R6BOOL* v) {
  return AnswerFlag(kIsUpdateInProgress, v);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::IsProductScanning(R6BOOL* v) {
  return AnswerFlag(kIsProductScanning, v);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::DisableProtection(R6BOOL* v) {
  return AnswerFlag(kDisableProtection, v);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::VerifyAuthenticity(R6BOOL* v) {
  return AnswerFlag(kVerifyAuthenticity, v);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::DataFileSignatureCount(BSTR* v) {
  return AnswerString(kDataFileSignatureCount, v);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::DataFileVersion(BSTR* v) {
  return AnswerString(kDataFileVersion, v);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::DataFileTime(BSTR* v) {
  return AnswerString(kDataFileTime, v);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::EngineVersion(BSTR* v) {
  return AnswerString(kEngineVersion, v);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::RetrieveLastScan(BSTR* scanName, BSTR* date) {
  return AnswerString(kRetrieveLastScan, date, scanName);
}

HRESULT STDMETHODCALLTYPE CStandinEngine::GetUpdateServer(LONG* index, BSTR* url) {
  Record(std::string("GetUpdateServer ") + (index ? std::to_string(*index) : "null"));
  if (!index || !url) return E_POINTER;
  // The list is indexed by the caller's counter, as the service does.
  const SAnswer* answer = m_scenario.Answer(kGetUpdateServer, static_cast<size_t>(*index < 0 ? 1u << 30 : *index));
  if (!answer->values.empty()) *url = MakeString(answer->values[0]);
  return answer->result;
}

HRESULT STDMETHODCALLTYPE CStandinEngine::GetGUILanguage(LONG* language) {
  const SAnswer* answer = Begin(kGetGUILanguage);
  if (!language) return E_POINTER;
  if (!answer) return E_NOTIMPL;
  if (!answer->values[0].keep) *language = static_cast<LONG>(answer->values[0].number);
  return answer->result;
}

HRESULT STDMETHODCALLTYPE CStandinEngine::Reserved17() {
  Record("Reserved17");
  return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE CStandinEngine::Reserved18() {
  Record("Reserved18");
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CStandinEngine::LaunchAFileScan(BSTR* fileName, R6BOOL* infected,
                                                          BSTR* signatureId, BSTR* signatureName) {
  const SAnswer* answer = Begin(kLaunchAFileScan, fileName);
  if (!infected || !signatureId || !signatureName) return E_POINTER;
  if (!answer) return E_NOTIMPL;
  *infected = answer->values[0].number ? 1 : 0;
  *signatureId = MakeString(answer->values[1]);
  *signatureName = MakeString(answer->values[2]);
  return answer->result;
}

HRESULT STDMETHODCALLTYPE CStandinEngine::ActivateMainGUI() { return AnswerPlain(kActivateMainGUI); }
HRESULT STDMETHODCALLTYPE CStandinEngine::LaunchAScan(BSTR* scan) {
  return AnswerPlain(kLaunchAScan, scan);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::StopAScan(BSTR* scan) {
  return AnswerPlain(kStopAScan, scan);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::DeleteInfection(BSTR* id) {
  return AnswerPlain(kDeleteInfection, id);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::DeleteInfectionKeepBackup(BSTR* id) {
  return AnswerPlain(kDeleteInfectionKeepBackup, id);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::IgnoreInfection(BSTR* id) {
  return AnswerPlain(kIgnoreInfection, id);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::RestoreInfection(BSTR* id) {
  return AnswerPlain(kRestoreInfection, id);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::ClearThreatHistory() {
  return AnswerPlain(kClearThreatHistory);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::RefreshThreatHistory() {
  return AnswerPlain(kRefreshThreatHistory);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::RewindThreatHistory() {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_calls[kGetThreatHistoryEntry] = 0;
  }
  return AnswerPlain(kRewindThreatHistory);
}

HRESULT STDMETHODCALLTYPE CStandinEngine::GetThreatHistoryEntry(BSTR* time, LONG* status,
                                                                BSTR* signatureName, BSTR* file,
                                                                BSTR* signatureId, BSTR* process,
                                                                LONG* entryId) {
  const SAnswer* answer = Begin(kGetThreatHistoryEntry);
  if (!time || !status || !signatureName || !file || !signatureId || !process || !entryId)
    return E_POINTER;
  if (answer->values.empty()) return answer->result;
  *time = MakeString(answer->values[0]);
  *status = static_cast<LONG>(answer->values[1].number);
  *signatureName = MakeString(answer->values[2]);
  *file = MakeString(answer->values[3]);
  *signatureId = MakeString(answer->values[4]);
  *process = MakeString(answer->values[5]);
  *entryId = static_cast<LONG>(answer->values[6].number);
  return answer->result;
}

HRESULT STDMETHODCALLTYPE CStandinEngine::GetAntispamInfo(BSTR* engineVersion, BSTR* databaseTime,
                                                          BSTR* databaseVersion,
                                                          BSTR* databaseEntries) {
  const SAnswer* answer = Begin(kGetAntispamInfo);
  if (!engineVersion || !databaseTime || !databaseVersion || !databaseEntries) return E_POINTER;
  if (!answer) return E_NOTIMPL;
  *engineVersion = MakeString(answer->values[0]);
  *databaseTime = MakeString(answer->values[1]);
  *databaseVersion = MakeString(answer->values[2]);
  *databaseEntries = MakeString(answer->values[3]);
  return answer->result;
}

HRESULT STDMETHODCALLTYPE CStandinEngine::SwapVirusDatabase(BSTR* fileName) {
  return AnswerPlain(kSwapVirusDatabase, fileName);
}
HRESULT STDMETHODCALLTYPE CStandinEngine::SwapAntispamDatabase(BSTR* fileName) {
  return AnswerPlain(kSwapAntispamDatabase, fileName);
}

void CStandinEngine::FireCallbacks(ITarvixEvent* sink) {
  if (!sink) return;
  for (const SCallbackEvent& event : m_scenario.Events()) {
    CComPtr<CStandinEventInfo> info = CComObjectMake<CStandinEventInfo>(event);
    HRESULT hr = sink->OnVirusFound(info.Get());
    char line[64];
    snprintf(line, sizeof(line), "OnVirusFound -> 0x%08lx", static_cast<unsigned long>(hr));
    Record(line);
  }
}

CComPtr<ITarvixEvent> CStandinEngine::RegisteredSink() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_sink;
}

void CStandinEngine::FireRegisteredCallbacks() { FireCallbacks(RegisteredSink().Get()); }

DWORD WINAPI CStandinEngine::CallbackThread(void* self) {
  CStandinEngine* engine = static_cast<CStandinEngine*>(self);
  const CScenario& scenario = engine->m_scenario;
  bool fire = false;
  if (scenario.GetCallbackMode() == kCallbackTrigger) {
    CUniqueHandle trigger(CreateEventW(nullptr, TRUE, FALSE, scenario.GetCallbackTrigger().c_str()));
    if (trigger) {
      HANDLE waits[2] = {engine->m_stop.Get(), trigger.Get()};
      fire = WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
    }
  } else {
    // A delayed run always fires: unregistering waits for it to finish.
    Sleep(scenario.GetCallbackDelay());
    fire = true;
  }
  if (fire) engine->FireRegisteredCallbacks();
  return 0;
}

HRESULT STDMETHODCALLTYPE CStandinEngine::RegisterCallback(LONG reserved, ITarvixEvent* sink) {
  Record("RegisterCallback " + std::to_string(reserved));
  const SAnswer* answer = m_scenario.Answer(kRegisterCallback, 0);
  StopCallbackThread();
  CComPtr<ITarvixEvent> previous;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    previous = std::move(m_sink);
    m_sink = CComPtr<ITarvixEvent>(sink);  // our own reference, as the service takes one
  }
  if (sink && m_scenario.GetCallbackMode() != kCallbackManual && !m_scenario.Events().empty()) {
    m_stop.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (m_stop) m_thread.Reset(CreateThread(nullptr, 0, CallbackThread, this, 0, nullptr));
  }
  return answer ? answer->result : S_OK;  // `previous` is released outside the lock
}

HRESULT STDMETHODCALLTYPE CStandinEngine::UnregisterCallback(LONG reserved) {
  Record("UnregisterCallback " + std::to_string(reserved));
  const SAnswer* answer = m_scenario.Answer(kUnregisterCallback, 0);
  StopCallbackThread();
  CComPtr<ITarvixEvent> previous;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    previous = std::move(m_sink);
  }
  return answer ? answer->result : S_OK;
}

void CStandinEngine::StopCallbackThread() {
  if (m_thread) {
    SetEvent(m_stop.Get());
    WaitForSingleObject(m_thread.Get(), INFINITE);
    m_thread.Reset();
  }
  m_stop.Reset();
}

}  // namespace tarvixstandin
