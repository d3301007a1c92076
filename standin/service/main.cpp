// tarvix-service-standin.exe: the stand-in security service.
//
//   tarvix-service-standin [--scenario FILE] [--pipe NAME] [--log FILE]
//                          [--lifetime SECONDS] [--ignore-stdin]
//
// Serves "\\.\pipe\<NAME>" (TarvixPipe) until its standard input ends (the
// way tests and scripts stop it), the lifetime is over, or Ctrl-C. LOG
// entries are appended to the log file. Exit code 0 after a clean stop,
// 2 for bad arguments or scenario, 3 when the pipe cannot be created.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "service.h"

namespace {

tarvixstandin::CStandinService* g_service = nullptr;

DWORD WINAPI WatchInput(void*) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  char buffer[256];
  DWORD got = 0;
  while (in && in != INVALID_HANDLE_VALUE && ReadFile(in, buffer, sizeof buffer, &got, nullptr) &&
         got > 0) {
  }
  if (g_service) g_service->Stop();
  return 0;
}

BOOL WINAPI OnCtrl(DWORD) {
  if (g_service) g_service->Stop();
  return TRUE;
}

DWORD WINAPI EndOfLife(void* seconds) {
  Sleep(static_cast<DWORD>(reinterpret_cast<uintptr_t>(seconds)) * 1000);
  if (g_service) g_service->Stop();
  return 0;
}

int Usage(const char* why) {
  std::fprintf(stderr,
               "%s\nusage: tarvix-service-standin [--scenario FILE] [--pipe NAME] [--log FILE]"
               " [--lifetime SECONDS] [--ignore-stdin]\n",
               why);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string scenarioPath, pipeName = tarvixlib::comm::kServicePipeName, logPath;
  unsigned long lifetime = 0;
  bool watchInput = true;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string number;
    if (a == "--scenario") {
      if (!value(scenarioPath)) return Usage("--scenario needs a file");
    } else if (a == "--pipe") {
      if (!value(pipeName) || pipeName.empty()) return Usage("--pipe needs a name");
    } else if (a == "--log") {
      if (!value(logPath)) return Usage("--log needs a file");
    } else if (a == "--lifetime") {
      if (!value(number)) return Usage("--lifetime needs seconds");
      lifetime = std::strtoul(number.c_str(), nullptr, 10);
    } else if (a == "--ignore-stdin") {
      watchInput = false;
    } else {
      return Usage(("unknown argument " + a).c_str());
    }
  }
  tarvixstandin::ServiceScenario scenario;
  if (!scenarioPath.empty()) {
    std::string error;
    if (!tarvixstandin::LoadServiceScenario(scenarioPath, scenario, error))
      return Usage(("scenario: " + error).c_str());
  }
  if (!lifetime) lifetime = scenario.lifetimeSeconds;

  tarvixstandin::CStandinService service(scenario, pipeName, logPath, stdout);
  g_service = &service;
  SetConsoleCtrlHandler(OnCtrl, TRUE);
  // The watchers run until the process ends; their handles are not needed.
  tarvixlib::CUniqueHandle inputWatcher, lifeWatcher;
  if (watchInput) inputWatcher.Reset(CreateThread(nullptr, 0, WatchInput, nullptr, 0, nullptr));
  if (lifetime)
    lifeWatcher.Reset(CreateThread(nullptr, 0, EndOfLife,
                                   reinterpret_cast<void*>(uintptr_t{lifetime}), 0, nullptr));
  bool served = service.Run();
  service.Print("stopped");
  g_service = nullptr;
  // The watcher threads may still block on input; end the process here.
  std::fflush(stdout);
  ExitProcess(served ? 0 : 3);
}
