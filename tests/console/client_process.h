// Runs vexal-client.exe as a child process with redirected standard
// handles, for the end-to-end tests.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace consoletest {

// One interaction while the client runs: wait until its output contains
// `waitFor`, then act (set a named event, write to its input).
struct SClientStep {
  std::string waitFor;
  std::wstring setEvent;   // name of an event to set, or empty
  std::string writeInput;  // text for the client's standard input, or empty
};

struct SClientRun {
  std::string output;      // the whole standard output
  DWORD exitCode = 0xFFFFFFFF;
  bool started = false;
  bool finished = false;   // ended within the time limit
  std::string problem;     // why a step or the run failed
};

// Starts `exe` with the command line `"exe" arguments` and the extra
// environment variables `env` (name=value), performs `steps`, closes the
// input and waits (at most `timeoutMs`) for the end.
SClientRun RunClient(const std::wstring& exe, const std::wstring& arguments,
                     const std::vector<std::pair<std::wstring, std::wstring>>& env,
                     const std::vector<SClientStep>& steps, DWORD timeoutMs = 60000);

// A scratch file in the temporary folder holding `text`; deleted by the
// destructor.
class CTempFile {
public:
  CTempFile(const std::wstring& stem, const std::string& text);
  CTempFile(const CTempFile&) = delete;
  CTempFile& operator=(const CTempFile&) = delete;
  ~CTempFile();
  const std::wstring& Path() const { return m_path; }
  std::string Read() const;

private:
  std::wstring m_path;
};

}  // namespace consoletest
