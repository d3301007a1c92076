// A child process for tests: its standard output and error are collected
// while it runs; closing its standard input is how it is asked to stop.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>

#include "foundation/winhandles.h"

namespace testkit {

class CChildProcess {
public:
  CChildProcess() = default;
  CChildProcess(const CChildProcess&) = delete;
  CChildProcess& operator=(const CChildProcess&) = delete;
  // Stops it (see Stop).
  virtual ~CChildProcess();

  // Starts the command line; false when it cannot be started.
  bool Start(const std::string& commandLine);
  // Closes its input and waits up to waitMs for its end; a process that
  // does not end is killed, and the result is then false.
  bool Stop(DWORD waitMs = 20000);

  // Writes to its standard input; false when it is not running or the
  // input is closed.
  bool WriteInput(const std::string& text);

  std::string Output();
  // Waits until the output holds `text` (at most ms); false also when the
  // process ended without writing it.
  bool WaitFor(const std::string& text, DWORD ms);
  // Waits until `text` occurs at least n times (at most ms).
  bool WaitForCount(const std::string& text, size_t n, DWORD ms);
  // How often `text` occurs in the output so far.
  size_t Count(const std::string& text);
  DWORD ExitCode() const { return exitCode_; }
  // Whether it was started and has not been waited for yet, or ended.
  bool Started() const { return started_; }

private:
  tarvixlib::CUniqueHandle process_;
  tarvixlib::CUniqueHandle input_;
  tarvixlib::CUniqueHandle output_;
  std::thread reader_;
  std::mutex lock_;
  std::string text_;
  DWORD exitCode_ = STILL_ACTIVE;
  bool started_ = false;
};

}  // namespace testkit
