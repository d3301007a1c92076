#include "service_process.h"

#include <windows.h>

#ifndef SERVICE_STANDIN_PATH
#error SERVICE_STANDIN_PATH must name the stand-in service
#endif

namespace commtest {

CServiceProcess::~CServiceProcess() { Stop(); }

bool CServiceProcess::Start(const std::string& pipe, const std::string& scenario,
                            const std::string& logPath) {
  std::string line = std::string("\"") + SERVICE_STANDIN_PATH + "\" --pipe " + pipe;
  if (!scenario.empty()) {
    scenarioPath_ = TempPath("scenario-" + pipe);
    if (!testkit::WriteFileText(scenarioPath_, scenario)) return false;
    line += " --scenario \"" + scenarioPath_ + "\"";
  }
  if (!logPath.empty()) line += " --log \"" + logPath + "\"";
  return CChildProcess::Start(line) && WaitFor("listening on", 20000);
}

bool CServiceProcess::Stop() {
  bool clean = CChildProcess::Stop();
  if (!scenarioPath_.empty()) DeleteFileA(scenarioPath_.c_str());
  scenarioPath_.clear();
  return clean;
}

}  // namespace commtest
