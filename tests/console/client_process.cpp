#include "client_process.h"

#include <mutex>
#include <thread>

#include "foundation/winhandles.h"

namespace consoletest {

using tarvixlib::CUniqueHandle;

namespace {

// Restores an environment variable of this process when it goes.
class CEnvironmentOverride {
public:
  CEnvironmentOverride(const std::wstring& name, const std::wstring& value) : m_name(name) {
    wchar_t buffer[1024];
    DWORD n = GetEnvironmentVariableW(name.c_str(), buffer, 1024);
    m_had = n > 0 && n < 1024;
    if (m_had) m_old.assign(buffer, n);
    SetEnvironmentVariableW(name.c_str(), value.c_str());
  }
  ~CEnvironmentOverride() {
    SetEnvironmentVariableW(m_name.c_str(), m_had ? m_old.c_str() : nullptr);
  }

private:
  std::wstring m_name, m_old;
  bool m_had = false;
};

}  // namespace

SClientRun RunClient(const std::wstring& exe, const std::wstring& arguments,
                     const std::vector<std::pair<std::wstring, std::wstring>>& env,
                     const std::vector<SClientStep>& steps, DWORD timeoutMs) {
  SClientRun run;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  CUniqueHandle outRead, outWrite, inRead, inWrite;
  if (!CreatePipe(outRead.Out(), outWrite.Out(), &inherit, 0) ||
      !CreatePipe(inRead.Out(), inWrite.Out(), &inherit, 0)) {
    run.problem = "CreatePipe failed";
    return run;
  }
  SetHandleInformation(outRead.Get(), HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(inWrite.Get(), HANDLE_FLAG_INHERIT, 0);
  CUniqueHandle errWrite(CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                               nullptr));

  std::vector<CEnvironmentOverride*> overrides;
  for (const auto& var : env) overrides.push_back(new CEnvironmentOverride(var.first, var.second));

  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inRead.Get();
  startup.hStdOutput = outWrite.Get();
  startup.hStdError = errWrite.Get();
  PROCESS_INFORMATION process = {};
  BOOL created = CreateProcessW(exe.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                nullptr, &startup, &process);
  for (CEnvironmentOverride* o : overrides) delete o;
  if (!created) {
    run.problem = "CreateProcess failed: " + std::to_string(GetLastError());
    return run;
  }
  run.started = true;
  CUniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
  outWrite.Reset();  // the child holds its own copies
  inRead.Reset();
  errWrite.Reset();

  std::mutex lock;
  std::string output;
  std::thread reader([&]() {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(outRead.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
      std::lock_guard<std::mutex> hold(lock);
      output.append(buffer, got);
    }
  });
  auto snapshot = [&]() {
    std::lock_guard<std::mutex> hold(lock);
    return output;
  };

  const DWORD start = GetTickCount();
  auto left = [&]() -> DWORD {
    DWORD spent = GetTickCount() - start;
    return spent >= timeoutMs ? 0 : timeoutMs - spent;
  };
  for (const SClientStep& step : steps) {
    while (snapshot().find(step.waitFor) == std::string::npos && left() > 0 &&
           WaitForSingleObject(processHandle.Get(), 10) == WAIT_TIMEOUT) {
    }
    if (snapshot().find(step.waitFor) == std::string::npos) {
      run.problem = "output never showed \"" + step.waitFor + "\"";
      break;
    }
    if (!step.setEvent.empty()) {
      CUniqueHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, step.setEvent.c_str()));
      if (!event.Get() || !SetEvent(event.Get())) run.problem = "cannot set the event";
    }
    if (!step.writeInput.empty()) {
      DWORD written = 0;
      WriteFile(inWrite.Get(), step.writeInput.data(), static_cast<DWORD>(step.writeInput.size()),
                &written, nullptr);
    }
  }
  inWrite.Reset();  // end of input

  if (WaitForSingleObject(processHandle.Get(), left()) == WAIT_OBJECT_0) {
    run.finished = true;
    GetExitCodeProcess(processHandle.Get(), &run.exitCode);
  } else {
    TerminateProcess(processHandle.Get(), 99);
    WaitForSingleObject(processHandle.Get(), 5000);
    if (run.problem.empty()) run.problem = "time-out";
  }
  reader.join();
  run.output = output;
  return run;
}

CTempFile::CTempFile(const std::wstring& stem, const std::string& text) {
  wchar_t folder[MAX_PATH];
  DWORD n = GetTempPathW(MAX_PATH, folder);
  std::wstring base(folder, n);
  static LONG counter = 0;
  m_path = base + stem + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(InterlockedIncrement(&counter)) + L".txt";
  CUniqueHandle file(CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (file && !text.empty())
    WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

CTempFile::~CTempFile() { DeleteFileW(m_path.c_str()); }

std::string CTempFile::Read() const {
  CUniqueHandle file(CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string text;
  if (!file) return text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0)
    text.append(buffer, got);
  return text;
}

}  // namespace consoletest
