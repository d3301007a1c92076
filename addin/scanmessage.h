// The scan of one message, which the event handlers call. The e-mail
// workflow behind it is not built yet: until it is, ScanMessage hands the
// call to a hook (tests set one to see the arguments) and otherwise scans
// nothing and cancels nothing.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace mapilib {

// True when the message must not go out (an outgoing message with a threat).
bool ScanMessage(const char* junkFolderName, IUnknown* message, HWND parent, bool incoming,
                 const wchar_t* messageClass, bool force);

using ScanMessageHook = bool (*)(const char* junkFolderName, IUnknown* message, HWND parent,
                                 bool incoming, const wchar_t* messageClass, bool force);
// Null restores the default, which scans nothing.
void SetScanMessageHookForTests(ScanMessageHook hook);

}  // namespace mapilib
