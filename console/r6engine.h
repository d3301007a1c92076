// The security service's automation interface as the console client uses
// it, and the callback interfaces the client implements. The object behind
// it belongs to the service; the stand-in engine (standin/) implements the
// same layout for tests and demos.
//
// Layout rules of the object: IUnknown-derived (no IDispatch), every method
// returns a 32-bit HRESULT, a boolean is one byte, an integer 32 bits, an
// out string is a BSTR the object allocates and the caller frees, an input
// string is the address of a BSTR the caller owns. The slot order below is
// the binary contract: never reorder, never drop the reserved slots.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

// One-byte truth value written by the object.
typedef unsigned char R6BOOL;

// Data object of one virus-found event.
// {1221db64-f3d8-11d4-825d-00104b3646c2}
struct ITarvixEventInfo : public IUnknown {
  // Slot 3: number of values the event carries (not used by the client).
  virtual HRESULT STDMETHODCALLTYPE GetValueCount(LONG* count) = 0;
  // Slot 4: the value at `index` (see the sink in console/tarvixevent.h).
  virtual HRESULT STDMETHODCALLTYPE GetValue(LONG index, BSTR* value) = 0;
};

// Callback interface the client hands to RegisterCallback.
// {1221db63-f3d8-11d4-825d-00104b3646c2}
struct ITarvixEvent : public IUnknown {
  // Slot 3.
  virtual HRESULT STDMETHODCALLTYPE OnVirusFound(ITarvixEventInfo* info) = 0;
};

// {1221db62-f3d8-11d4-825d-00104b3646c2}
struct IR6Engine : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE DetectionOfProduct(R6BOOL* installed) = 0;         // 3
  virtual HRESULT STDMETHODCALLTYPE ActivateAnUpdate(R6BOOL* started) = 0;             // 4
  virtual HRESULT STDMETHODCALLTYPE IsProtectionEnabled(R6BOOL* enabled) = 0;          // 5
  virtual HRESULT STDMETHODCALLTYPE EnableProtection(R6BOOL* enabled) = 0;             // 6
  virtual HRESULT STDMETHODCALLTYPE IsUpdateInProgress(R6BOOL* running) = 0;           // 7
  virtual HRESULT STDMETHODCALLTYPE IsProductScanning(R6BOOL* scanning) = 0;           // 8
  virtual HRESULT STDMETHODCALLTYPE DisableProtection(R6BOOL* disabled) = 0;           // 9
  virtual HRESULT STDMETHODCALLTYPE DataFileSignatureCount(BSTR* count) = 0;           // 10
  virtual HRESULT STDMETHODCALLTYPE DataFileVersion(BSTR* version) = 0;                // 11
  virtual HRESULT STDMETHODCALLTYPE DataFileTime(BSTR* time) = 0;                      // 12
  virtual HRESULT STDMETHODCALLTYPE EngineVersion(BSTR* version) = 0;                  // 13
  virtual HRESULT STDMETHODCALLTYPE RetrieveLastScan(BSTR* scanName, BSTR* date) = 0;  // 14
  virtual HRESULT STDMETHODCALLTYPE GetUpdateServer(LONG* index, BSTR* url) = 0;       // 15
  virtual HRESULT STDMETHODCALLTYPE GetGUILanguage(LONG* language) = 0;                // 16
  virtual HRESULT STDMETHODCALLTYPE Reserved17() = 0;                                  // 17
  virtual HRESULT STDMETHODCALLTYPE Reserved18() = 0;                                  // 18
  virtual HRESULT STDMETHODCALLTYPE LaunchAFileScan(BSTR* fileName, R6BOOL* infected,  // 19
                                                    BSTR* signatureId, BSTR* signatureName) = 0;
  virtual HRESULT STDMETHODCALLTYPE ActivateMainGUI() = 0;                             // 20
  virtual HRESULT STDMETHODCALLTYPE LaunchAScan(BSTR* scan) = 0;                       // 21
  virtual HRESULT STDMETHODCALLTYPE StopAScan(BSTR* scan) = 0;                         // 22
  virtual HRESULT STDMETHODCALLTYPE DeleteInfection(BSTR* entryId) = 0;                // 23
  virtual HRESULT STDMETHODCALLTYPE DeleteInfectionKeepBackup(BSTR* entryId) = 0;      // 24
  virtual HRESULT STDMETHODCALLTYPE IgnoreInfection(BSTR* entryId) = 0;                // 25
  virtual HRESULT STDMETHODCALLTYPE RestoreInfection(BSTR* entryId) = 0;               // 26
  virtual HRESULT STDMETHODCALLTYPE ClearThreatHistory() = 0;                          // 27
  virtual HRESULT STDMETHODCALLTYPE RefreshThreatHistory() = 0;                        // 28
  virtual HRESULT STDMETHODCALLTYPE RewindThreatHistory() = 0;                         // 29
  virtual HRESULT STDMETHODCALLTYPE GetThreatHistoryEntry(                             // 30
      BSTR* time, LONG* status, BSTR* signatureName, BSTR* file, BSTR* signatureId,
      BSTR* process, LONG* entryId) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAntispamInfo(BSTR* engineVersion,               // 31
                                                    BSTR* databaseTime, BSTR* databaseVersion,
                                                    BSTR* databaseEntries) = 0;
  virtual HRESULT STDMETHODCALLTYPE SwapVirusDatabase(BSTR* fileName) = 0;             // 32
  virtual HRESULT STDMETHODCALLTYPE SwapAntispamDatabase(BSTR* fileName) = 0;          // 33
  virtual HRESULT STDMETHODCALLTYPE VerifyAuthenticity(R6BOOL* allSigned) = 0;         // 34
  virtual HRESULT STDMETHODCALLTYPE RegisterCallback(LONG reserved, ITarvixEvent* sink) = 0;  // 35
  virtual HRESULT STDMETHODCALLTYPE UnregisterCallback(LONG reserved) = 0;             // 36
};

// Text forms, as the client converts them (IIDFromString / CLSIDFromProgID).
#define TARVIX_R6ENGINE_PROGID L"ZELVOK.R6Engine"
#define TARVIX_IID_IR6ENGINE_TEXT L"{1221db62-f3d8-11d4-825d-00104b3646c2}"

// Binary identifiers, defined once here: __uuidof(IR6Engine) and so on
// (CComObject of foundation/comobject.h answers QueryInterface by them).
__CRT_UUID_DECL(IR6Engine, 0x1221db62, 0xf3d8, 0x11d4, 0x82, 0x5d, 0x00, 0x10, 0x4b, 0x36, 0x46, 0xc2)
__CRT_UUID_DECL(ITarvixEvent, 0x1221db63, 0xf3d8, 0x11d4, 0x82, 0x5d, 0x00, 0x10, 0x4b, 0x36, 0x46, 0xc2)
__CRT_UUID_DECL(ITarvixEventInfo, 0x1221db64, 0xf3d8, 0x11d4, 0x82, 0x5d, 0x00, 0x10, 0x4b, 0x36,
                0x46, 0xc2)
