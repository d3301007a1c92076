// The stand-in security service as a child process for the pipe tests: its
// output is collected while it runs; closing its input stops it.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>

namespace commtest {

class CServiceProcess {
public:
  CServiceProcess() = default;
  CServiceProcess(const CServiceProcess&) = delete;
  CServiceProcess& operator=(const CServiceProcess&) = delete;
  ~CServiceProcess();

  // Starts the service on `pipe` with the scenario text (empty: none) and,
  // when logPath is not empty, that log file; waits until it listens.
  bool Start(const std::string& pipe, const std::string& scenario,
             const std::string& logPath = std::string());
  // Closes its input and waits for its end; false when it had to be killed.
  bool Stop();

  std::string Output();
  // Waits until the output holds `text` (at most ms).
  bool WaitFor(const std::string& text, DWORD ms);
  // Waits until `text` occurs at least n times (at most ms).
  bool WaitForCount(const std::string& text, size_t n, DWORD ms);
  // How often `text` occurs in the output.
  size_t Count(const std::string& text);
  DWORD ExitCode() const { return exitCode_; }
  // Whether it was started and has not been waited for yet, or ended.
  bool Started() const { return started_; }

private:
  HANDLE process_ = nullptr;
  HANDLE input_ = nullptr;
  HANDLE output_ = nullptr;
  std::thread reader_;
  std::mutex lock_;
  std::string text_;
  std::string scenarioPath_;
  DWORD exitCode_ = STILL_ACTIVE;
  bool started_ = false;
};

// A pipe name of its own for each test, so tests can run side by side.
std::string UniquePipeName(const char* test);
// A scratch file path in the temporary folder.
std::string TempPath(const char* stem);
std::string ReadFileText(const std::string& path);

}  // namespace commtest
