// The add-in's application details: one process-wide object that loads and
// caches what the add-in learns from the security service (its status, of
// which the main path is kept; the product's long name and homepage; the
// mail settings), owns the language manager, the two product icons and the
// pipe watcher, and is asked by the e-mail workflow before every message.
//
// Load, ReloadSettings and Invalidate run under the object's recursive
// lock. The getters take no lock: they read fields only a load writes.
// The wide strings handed out by the getters stay valid until the next
// full load replaces them (a full load happens only while the details are
// not loaded, before any scan can use them).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "comm/client.h"
#include "foundation/mystring.h"
#include "foundation/threads.h"
#include "mapilib/languagemanager.h"

namespace mapilib {

using tarvixlib::CMyStringW;
using tarvixlib::commands::comm::CTarvixPipeComm;

class CPipeWatcher;

// The mail settings handed to the e-mail workflow, one field per key.
struct MapiSettings {
  uint32_t SCANEMAIL = 0;
  uint32_t SAVETOQU = 0;
  uint32_t DISCLR = 0;
  uint32_t DISCLS = 0;
  uint32_t SHOWWINDOW = 0;
  uint32_t VDBDATE = 0;
  uint32_t BUILDNR = 0;
  uint32_t SPAMACTION = 0;
  uint32_t SPAMCHECK = 0;
};

class CAppDetails {
public:
  static constexpr uint32_t kWatcherStopWaitMs = 1000;
  static constexpr const char* kImageFolder = "..\\image\\";
  static constexpr const char* kLanguagePrefix = "omlang.";

  // client: the process-wide command client, which sends the queries.
  // instance: where the module's instance handle will be. watcherLog: where
  // the pipe watcher writes (the client's pipe log). pipeName: the pipe the
  // watcher registers on (null: no watcher, for tests without a service).
  CAppDetails(CTarvixPipeComm* client, HINSTANCE* instance, tarvixlib::CMyLog* watcherLog,
              const char* pipeName = "TarvixPipe",
              CLanguageSettings& languageSettings = SystemLanguageSettings());
  virtual ~CAppDetails();
  CAppDetails(const CAppDetails&) = delete;
  CAppDetails& operator=(const CAppDetails&) = delete;

  // Loads what is not loaded yet; whether the mail settings may be used.
  bool Load();
  // GET_MAPISETTINGS; true when it succeeded (the settings are then valid).
  bool ReloadSettings();
  void Invalidate();
  bool GetSettings(MapiSettings* settings, bool* closeWindow) const;
  // The language of the image folder below the main path.
  void ReloadLanguage();
  const WChar* GetText(int id) const { return language_.GetText(id); }
  const wchar_t* GetProductLongName() const { return productLongName_.GetString(); }
  const wchar_t* GetHomepage() const { return homepage_.GetString(); }
  const wchar_t* GetMainPath() const { return mainPath_.GetString(); }
  HICON GetSmallIcon();
  HICON GetBigIcon();

  bool IsLoaded() const { return loaded_.load(); }
  bool SettingsValid() const { return settingsValid_.load(); }
  LanguageManager& Language() { return language_; }
  CPipeWatcher* Watcher() { return watcher_; }

private:
  HICON LoadIcon(std::atomic<HICON>& slot, int size);

  mutable tarvixlib::CMyThreadSave lock_;
  HINSTANCE* instance_;
  CTarvixPipeComm* client_;
  CMyStringW mainPath_;
  CMyStringW homepage_;
  CMyStringW productLongName_;
  std::atomic<HICON> smallIcon_{nullptr};
  std::atomic<HICON> bigIcon_{nullptr};
  LanguageManager language_;
  CPipeWatcher* watcher_ = nullptr;  // owned
  std::atomic<bool> loaded_{false};
  std::atomic<bool> settingsValid_{false};
  // The settings as the last successful query gave them; each value is
  // atomic since the workflow reads them while the listener may reload.
  std::atomic<uint32_t> settings_[sizeof(MapiSettings) / sizeof(uint32_t)] = {};
  std::atomic<bool> closeWindow_{false};
};

}  // namespace mapilib
