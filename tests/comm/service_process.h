// The stand-in security service as a child process for the pipe tests (see
// testkit::CChildProcess): its output is collected while it runs; closing
// its input stops it.
#pragma once

#include <string>

#include "kit/childprocess.h"
#include "kit/names.h"

namespace commtest {

using testkit::ReadFileText;
using testkit::TempPath;
using testkit::UniquePipeName;

class CServiceProcess : public testkit::CChildProcess {
public:
  ~CServiceProcess() override;
  // Starts the service on `pipe` with the scenario text (empty: none) and,
  // when logPath is not empty, that log file; waits until it listens.
  bool Start(const std::string& pipe, const std::string& scenario,
             const std::string& logPath = std::string());
  // Stops it and removes its scenario file.
  bool Stop();

private:
  std::string scenarioPath_;
};

}  // namespace commtest
