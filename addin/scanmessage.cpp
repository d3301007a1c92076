#include "addin/scanmessage.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace mapilib {
namespace {

std::atomic<ScanMessageHook> g_hook{nullptr};

// Until the e-mail workflow is built, each call is written as one line to
// the file NORVELLA_SCAN_TRACE names, if it names one, so that a host can
// show which events reached the scan.
void Trace(const char* junkFolderName, IUnknown* message, HWND parent, bool incoming,
           const wchar_t* messageClass, bool force) {
  const char* path = std::getenv("NORVELLA_SCAN_TRACE");
  if (!path || !*path) return;
  if (FILE* f = std::fopen(path, "ab")) {
    std::fprintf(f, "ScanMessage message=%p parent=%p incoming=%d force=%d class=%ls junk=%s\n",
                 static_cast<void*>(message), static_cast<void*>(parent), incoming ? 1 : 0,
                 force ? 1 : 0, messageClass ? messageClass : L"", junkFolderName ? junkFolderName : "");
    std::fclose(f);
  }
}

}  // namespace

bool ScanMessage(const char* junkFolderName, IUnknown* message, HWND parent, bool incoming,
                 const wchar_t* messageClass, bool force) {
  if (ScanMessageHook hook = g_hook.load())
    return hook(junkFolderName, message, parent, incoming, messageClass, force);
  Trace(junkFolderName, message, parent, incoming, messageClass, force);
  return false;  // the e-mail workflow is not built yet
}

void SetScanMessageHookForTests(ScanMessageHook hook) { g_hook.store(hook); }

}  // namespace mapilib
