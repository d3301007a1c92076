#include "addin/scanmessage.h"

#include <atomic>

namespace mapilib {
namespace {

std::atomic<ScanMessageHook> g_hook{nullptr};

}  // namespace

bool ScanMessage(const char* junkFolderName, IUnknown* message, HWND parent, bool incoming,
                 const wchar_t* messageClass, bool force) {
  if (ScanMessageHook hook = g_hook.load())
    return hook(junkFolderName, message, parent, incoming, messageClass, force);
  return false;  // the e-mail workflow is not built yet
}

void SetScanMessageHookForTests(ScanMessageHook hook) { g_hook.store(hook); }

}  // namespace mapilib
