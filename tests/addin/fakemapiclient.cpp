// A mail client's MAPI library as the loader finds it: HrGetOneProp only
// under its plain name, no RTFSync. Each function answers with a marker so
// a test can see which library a slot came from.
#include <windows.h>

extern "C" HRESULT __stdcall HrGetOneProp(void*, ULONG, void**) { return 0x0FA4E001; }
extern "C" HRESULT __stdcall MAPIInitialize(void*) { return 0x0FA4E002; }
