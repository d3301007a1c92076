// tarvix-service-standin.exe: the stand-in security service.
//
//   tarvix-service-standin [--scenario FILE] [--pipe NAME] [--log FILE]
//                          [--lifetime SECONDS] [--ignore-stdin]
//
// Serves "\\.\pipe\<NAME>" (TarvixPipe) until its standard input ends (the
// way tests and scripts stop it), the lifetime is over, or Ctrl-C. LOG
// entries are appended to the log file. Exit code 0 after a clean stop,
// 2 for bad arguments or scenario, 3 when the pipe cannot be created.
//
// The status query's main path is "<folder of this program>\main\", so that
// the add-in finds its language files and icon in the "image" folder that
// the build puts beside the program.
//
// Control lines on standard input (one per line, at most 64 KiB; blank
// lines are ignored, anything else is reported and ignored):
//
//   push <NAME> [KEY=VALUE ...]   pushes NAME down the listener connection
//                                 at once (the same words as the scenario's
//                                 push lines, without the time)
//   push hangup                   closes the listener connection
//   push language <code>          sets the add-in's language choice
//
// A push waits for a listener when none is registered.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/mystring.h"
#include "service.h"

namespace {

tarvixstandin::CStandinService* g_service = nullptr;

constexpr size_t kMaxControlLine = 64 * 1024;

void ControlLine(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  size_t first = line.find_first_not_of(" \t");
  if (first == std::string::npos || !g_service) return;
  size_t end = line.find_first_of(" \t", first);
  std::string keyword = line.substr(first, end == std::string::npos ? end : end - first);
  tarvixstandin::ListenerPush push;
  std::string why = "unknown control line";
  if (keyword == "push" &&
      tarvixstandin::ParsePushWords(end == std::string::npos ? "" : line.substr(end), push, why)) {
    g_service->Push(push);
    return;
  }
  g_service->Print("control line ignored (%s): %.200s", why.c_str(), line.c_str());
}

// Runs the control lines until the input ends, then stops the service.
DWORD WINAPI WatchInput(void*) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  char buffer[4096];
  DWORD got = 0;
  std::string line;
  bool tooLong = false;
  while (in && in != INVALID_HANDLE_VALUE && ReadFile(in, buffer, sizeof buffer, &got, nullptr) &&
         got > 0) {
    for (DWORD i = 0; i < got; ++i) {
      if (buffer[i] != '\n') {
        if (line.size() < kMaxControlLine)
          line += buffer[i];
        else
          tooLong = true;
        continue;
      }
      if (tooLong && g_service) g_service->Print("control line ignored (longer than 64 KiB)");
      if (!tooLong) ControlLine(line);
      line.clear();
      tooLong = false;
    }
  }
  if (!line.empty() && !tooLong) ControlLine(line);
  if (g_service) g_service->Stop();
  return 0;
}

// "<folder of this program>\main\", as UTF-8 and in the ANSI code page.
void MainPath(std::string& utf8, std::string& ansi) {
  wchar_t path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
  if (n == 0 || n >= sizeof path / sizeof path[0]) n = 0;
  std::wstring folder(path, n);
  for (wchar_t& c : folder)
    if (c == L'/') c = L'\\';
  size_t slash = folder.find_last_of(L'\\');
  folder = slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
  folder += L"main\\";
  tarvixlib::CMyStringA text;
  text.AssignUtf8FromWide(reinterpret_cast<const tarvixlib::WChar*>(folder.c_str()));
  utf8 = text.GetString();
  text.AssignAnsiFromWide(reinterpret_cast<const tarvixlib::WChar*>(folder.c_str()));
  ansi = text.GetString();
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
  std::string mainUtf8, mainAnsi;
  MainPath(mainUtf8, mainAnsi);
  tarvixstandin::AddQueryDefaults(scenario, mainUtf8, mainAnsi);
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
