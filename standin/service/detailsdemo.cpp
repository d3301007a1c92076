// tarvix-details-demo.exe: the add-in's service side on its own, against
// the service: loads the application details (status, product names,
// language, mail settings), which starts the pipe watcher, and then prints
// every change the service brings about through the listener: the
// registration, settings that become valid or not, and texts in another
// language.
//
//   tarvix-details-demo [--pipe NAME] [--seconds N]   (N: 10)
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "comm/client.h"
#include "mapilib/appdetails.h"
#include "mapilib/pipewatcher.h"
#include "mapilib/textids.h"

namespace {

using namespace mapilib;

std::string Utf8(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
  return out;
}

std::string Texts(CAppDetails& details) {
  return "\"" + Utf8(details.GetText(TEXT_WINTEXT_FROM)) + "\", \"" +
         Utf8(details.GetText(TEXT_WINTEXT_SCAN_COMPLETE)) + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  const char* pipe = tarvixlib::comm::kServicePipeName;
  unsigned long seconds = 10;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--pipe") == 0) pipe = argv[i + 1];
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::strtoul(argv[i + 1], nullptr, 10);
  }
  tarvixlib::commands::comm::CSimpleTarvixComm client;
  client.Dispatcher().SetPipeName(pipe);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  CAppDetails details(&client, &instance, &client.PipeLog(), pipe);

  bool loaded = details.Load();
  std::printf("Load: %s\n", loaded ? "settings valid" : "not loaded");
  std::printf("  product \"%s\", homepage \"%s\"\n", Utf8(details.GetProductLongName()).c_str(),
              Utf8(details.GetHomepage()).c_str());
  std::printf("  main path \"%s\", language %s\n", Utf8(details.GetMainPath()).c_str(),
              details.Language().CurrentLanguage().GetString());
  MapiSettings s;
  bool closeWindow = false;
  details.GetSettings(&s, &closeWindow);
  std::printf("  settings SCANEMAIL=%u SHOWWINDOW=%u BUILDNR=%u SPAMCHECK=%u SPAMACTION=%u "
              "DISCLR=%u DISCLS=%u CLOSEWIN=%d\n",
              s.SCANEMAIL, s.SHOWWINDOW, s.BUILDNR, s.SPAMCHECK, s.SPAMACTION, s.DISCLR, s.DISCLS,
              closeWindow);
  std::printf("  texts %s\n", Texts(details).c_str());
  std::fflush(stdout);

  // Watch what the service changes through the listener.
  uint32_t registrations = 0;
  bool valid = details.SettingsValid();
  std::string texts = Texts(details);
  for (unsigned long tick = 0; tick < seconds * 10; ++tick) {
    Sleep(100);
    if (details.Watcher() && details.Watcher()->Registrations() != registrations) {
      registrations = details.Watcher()->Registrations();
      std::printf("watcher: registered as the service's listener (%u)\n", registrations);
    }
    if (details.SettingsValid() != valid) {
      valid = details.SettingsValid();
      std::printf("settings: %s; Load() now returns %s\n", valid ? "valid again" : "not valid",
                  details.Load() ? "true" : "false");
    }
    if (Texts(details) != texts) {
      texts = Texts(details);
      std::printf("texts: now %s (language %s)\n", texts.c_str(),
                  details.Language().CurrentLanguage().GetString());
    }
    std::fflush(stdout);
  }
  return 0;
}
