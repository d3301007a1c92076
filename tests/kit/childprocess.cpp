#include "kit/childprocess.h"

namespace testkit {

using tarvixlib::CUniqueHandle;

CChildProcess::~CChildProcess() { Stop(); }

bool CChildProcess::Start(const std::string& commandLine) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  CUniqueHandle inRead, outWrite;
  if (!CreatePipe(inRead.Out(), input_.Out(), &inherit, 0)) return false;
  if (!CreatePipe(output_.Out(), outWrite.Out(), &inherit, 0)) return false;
  SetHandleInformation(input_.Get(), HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(output_.Get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inRead.Get();
  startup.hStdOutput = outWrite.Get();
  startup.hStdError = outWrite.Get();
  PROCESS_INFORMATION info = {};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &info))
    return false;
  CUniqueHandle thread(info.hThread);
  process_.Reset(info.hProcess);
  started_ = true;
  exitCode_ = STILL_ACTIVE;
  HANDLE output = output_.Get();
  reader_ = std::thread([this, output] {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(output, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      std::lock_guard<std::mutex> hold(lock_);
      text_.append(buffer, got);
    }
  });
  return true;
}

bool CChildProcess::Stop(DWORD waitMs) {
  if (!process_) return true;
  input_.Reset();
  bool clean = WaitForSingleObject(process_.Get(), waitMs) == WAIT_OBJECT_0;
  if (!clean) TerminateProcess(process_.Get(), 99);
  WaitForSingleObject(process_.Get(), 5000);
  GetExitCodeProcess(process_.Get(), &exitCode_);
  process_.Reset();
  if (reader_.joinable()) reader_.join();
  output_.Reset();
  return clean;
}

bool CChildProcess::WriteInput(const std::string& text) {
  size_t done = 0;
  while (input_ && done < text.size()) {
    DWORD wrote = 0;
    if (!WriteFile(input_.Get(), text.data() + done, static_cast<DWORD>(text.size() - done), &wrote,
                   nullptr) ||
        wrote == 0)
      return false;
    done += wrote;
  }
  return done == text.size();
}

std::string CChildProcess::Output() {
  std::lock_guard<std::mutex> hold(lock_);
  return text_;
}

bool CChildProcess::WaitFor(const std::string& text, DWORD ms) {
  DWORD start = GetTickCount();
  while (Output().find(text) == std::string::npos) {
    if (GetTickCount() - start > ms) return false;
    if (process_ && WaitForSingleObject(process_.Get(), 10) == WAIT_OBJECT_0 &&
        Output().find(text) == std::string::npos) {
      Sleep(50);  // the last output may still be on its way
      return Output().find(text) != std::string::npos;
    }
    if (!process_) Sleep(10);
  }
  return true;
}

bool CChildProcess::WaitForCount(const std::string& text, size_t n, DWORD ms) {
  DWORD start = GetTickCount();
  while (Count(text) < n) {
    if (GetTickCount() - start > ms) return false;
    Sleep(10);
  }
  return true;
}

size_t CChildProcess::Count(const std::string& text) {
  std::string all = Output();
  size_t n = 0;
  for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + text.size()))
    ++n;
  return n;
}

}  // namespace testkit
