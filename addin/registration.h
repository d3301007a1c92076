// Self-registration of the add-in library: the COM class under
// HKEY_CLASSES_ROOT and the Outlook add-in key under HKEY_LOCAL_MACHINE,
// whose LoadBehavior 3 makes Outlook load the add-in at start-up.
#pragma once

#include <windows.h>

namespace mapilib {

// "{D57E5681-D0E1-4337-8125-DD613A2BACF9}", CConnect's class id as text.
extern const wchar_t kConnectClsidText[];
// "norvella.Connect"
extern const wchar_t kConnectProgId[];
// "Software\Microsoft\Office\Outlook\Addins\norvella.Connect"
extern const char kOutlookAddinKey[];

// Where the keys go: the real roots, or scratch keys in tests.
struct RegistrationRoots {
  HKEY classes = HKEY_CLASSES_ROOT;
  HKEY machine = HKEY_LOCAL_MACHINE;
};

// Writes the class rows in order, then the Outlook add-in key with the
// product name. A row whose key or value text would not fit 260 characters
// with its terminator, a key that cannot be created, or an add-in key that
// cannot be created ends it with SELFREG_E_CLASS; what was written stays. A
// value that cannot be set is passed over.
HRESULT RegisterAddin(const wchar_t* libraryPath, const RegistrationRoots& roots = {});
// Deletes the class key, the ProgID key and the Outlook add-in key, each
// with its subkeys; missing keys are skipped. Always S_OK.
HRESULT UnregisterAddin(const RegistrationRoots& roots = {});

}  // namespace mapilib
