#include "service_process.h"

#include <cstdio>

#ifndef SERVICE_STANDIN_PATH
#error SERVICE_STANDIN_PATH must name the stand-in service
#endif

namespace commtest {

CServiceProcess::~CServiceProcess() { Stop(); }

bool CServiceProcess::Start(const std::string& pipe, const std::string& scenario,
                            const std::string& logPath) {
  std::string line = std::string("\"") + SERVICE_STANDIN_PATH + "\" --pipe " + pipe;
  if (!scenario.empty()) {
    scenarioPath_ = TempPath(("scenario-" + pipe).c_str());
    FILE* f = std::fopen(scenarioPath_.c_str(), "wb");
    if (!f) return false;
    std::fwrite(scenario.data(), 1, scenario.size(), f);
    std::fclose(f);
    line += " --scenario \"" + scenarioPath_ + "\"";
  }
  if (!logPath.empty()) line += " --log \"" + logPath + "\"";

  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE inRead = nullptr, outWrite = nullptr;
  if (!CreatePipe(&inRead, &input_, &inherit, 0)) return false;
  if (!CreatePipe(&output_, &outWrite, &inherit, 0)) return false;
  SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inRead;
  startup.hStdOutput = outWrite;
  startup.hStdError = outWrite;
  PROCESS_INFORMATION info = {};
  BOOL created = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                &startup, &info);
  CloseHandle(inRead);
  CloseHandle(outWrite);
  if (!created) return false;
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  started_ = true;
  exitCode_ = STILL_ACTIVE;
  reader_ = std::thread([this] {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(output_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      std::lock_guard<std::mutex> hold(lock_);
      text_.append(buffer, got);
    }
  });
  return WaitFor("listening on", 20000);
}

bool CServiceProcess::Stop() {
  if (!process_) return true;
  CloseHandle(input_);
  input_ = nullptr;
  bool clean = WaitForSingleObject(process_, 20000) == WAIT_OBJECT_0;
  if (!clean) TerminateProcess(process_, 99);
  WaitForSingleObject(process_, 5000);
  GetExitCodeProcess(process_, &exitCode_);
  CloseHandle(process_);
  process_ = nullptr;
  if (reader_.joinable()) reader_.join();
  CloseHandle(output_);
  output_ = nullptr;
  if (!scenarioPath_.empty()) DeleteFileA(scenarioPath_.c_str());
  return clean;
}

std::string CServiceProcess::Output() {
  std::lock_guard<std::mutex> hold(lock_);
  return text_;
}

bool CServiceProcess::WaitFor(const std::string& text, DWORD ms) {
  DWORD start = GetTickCount();
  while (Output().find(text) == std::string::npos) {
    if (GetTickCount() - start > ms) return false;
    if (process_ && WaitForSingleObject(process_, 10) == WAIT_OBJECT_0 &&
        Output().find(text) == std::string::npos) {
      Sleep(50);  // the last output may still be on its way
      return Output().find(text) != std::string::npos;
    }
  }
  return true;
}

bool CServiceProcess::WaitForCount(const std::string& text, size_t n, DWORD ms) {
  DWORD start = GetTickCount();
  while (Count(text) < n) {
    if (GetTickCount() - start > ms) return false;
    Sleep(10);
  }
  return true;
}

size_t CServiceProcess::Count(const std::string& text) {
  std::string all = Output();
  size_t n = 0;
  for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + text.size()))
    ++n;
  return n;
}

std::string UniquePipeName(const char* test) {
  static LONG counter = 0;
  char name[128];
  std::snprintf(name, sizeof name, "TarvixPipe-%s-%lu-%ld", test, GetCurrentProcessId(),
                InterlockedIncrement(&counter));
  return name;
}

std::string TempPath(const char* stem) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  return std::string(dir) + stem + "-" + std::to_string(GetCurrentProcessId()) + ".txt";
}

std::string ReadFileText(const std::string& path) {
  std::string text;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  std::fclose(f);
  return text;
}

}  // namespace commtest
