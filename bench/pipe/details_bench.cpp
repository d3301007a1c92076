// Application details benchmarks (run under wine): what every message after
// the first costs the e-mail workflow, against an uncontended take and
// release of the details' own kind of lock, in the same run.
//
//   Load      on loaded and valid details (nothing is sent)
//   GetText   a text of the loaded language, ids in turn
//
// Usage: details_bench [iterations]   (default 20,000,000)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/threads.h"
#include "mapilib/appdetails.h"
#include "mapilib/textids.h"
#include "tableclient.h"

namespace {

using namespace mapilib;

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

class CEnglish : public CLanguageSettings {
public:
  bool ReadLanguage(bool machineWide, CMyStringA& out) override {
    if (machineWide) return false;
    out = "en";
    return true;
  }
  uint32_t ReadForceMachineLanguage() override { return 0; }
  bool WriteLanguage(bool, const char*) override { return true; }
  bool WriteForceMachineLanguage(uint32_t) override { return true; }
  uint16_t SystemUiLanguage() override { return 0x0409; }
};

// Nanoseconds per call of f, best of five rounds.
template <typename F>
double PerCall(long iterations, F&& f) {
  double best = 1e30;
  for (int round = 0; round < 5; ++round) {
    double start = Now();
    for (long i = 0; i < iterations; ++i) f(i);
    double ns = (Now() - start) * 1e9 / static_cast<double>(iterations);
    if (ns < best) best = ns;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  long iterations = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 20000000;

  // The language files of the stand-in service's image folder, found from
  // a main path beside this program.
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, sizeof exe);
  std::string dir(exe);
  dir = dir.substr(0, dir.find_last_of('\\') + 1);
  CTableClient client;
  client.Reply("GET_TARVIXSTATUS", "100 0\nMAIN_PATH_W:" + dir + "main\\\n.\n");
  client.Reply("GET_SPECIFICATION_VALUE", "100 0\nPRODUCT_LONG:Tarvix\n.\n");
  client.Reply("GET_MAPISETTINGS", "100 0\nSCANEMAIL:yes\n.\n");
  CEnglish english;
  HINSTANCE instance = nullptr;
  CAppDetails details(&client, &instance, nullptr, nullptr, english);
  if (!details.Load()) {
    std::fprintf(stderr, "the details did not load\n");
    return 1;
  }
  if (std::wcscmp(details.GetText(TEXT_WINTEXT_FROM), L"From") != 0) {
    std::fprintf(stderr, "the language file was not read from %simage\n", dir.c_str());
    return 1;
  }

  tarvixlib::CMyThreadSave lock;
  volatile long sink = 0;
  double lockNs = PerCall(iterations, [&](long) {
    tarvixlib::CMySynchronizedBlock<tarvixlib::CMyThreadSave> hold(lock);
    sink = sink + 1;
  });
  double loadNs = PerCall(iterations, [&](long) { sink = sink + details.Load(); });
  double textNs = PerCall(iterations, [&](long i) {
    sink = sink + details.GetText(1 + static_cast<int>(i % kTextIdCount))[0];
  });
  std::printf("uncontended lock    %8.2f ns\n", lockNs);
  std::printf("Load (loaded)       %8.2f ns   %.2fx the lock (goal: within 2x)\n", loadNs,
              loadNs / lockNs);
  std::printf("GetText             %8.2f ns   %.2fx the lock (goal: under 50 ns)\n", textNs,
              textNs / lockNs);
  return 0;
}
