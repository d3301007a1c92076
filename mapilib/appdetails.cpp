#include "mapilib/appdetails.h"

#include <cstring>
#include <vector>

#include "commands/servicequeries.h"
#include "foundation/textconv.h"
#include "mapilib/pipewatcher.h"

namespace mapilib {

using tarvixlib::CMySynchronizedBlock;
using tarvixlib::CMyThreadSave;
using tarvixlib::commands::kReturnSuccess;
using tarvixlib::commands::tarvix::CGetTarvixStatusCommand;
using tarvixlib::commands::tarvixservice::CGetMAPISettingsCommand;
using tarvixlib::commands::tarvixservice::CGetSpecificationValueCommand;

namespace {

CMyStringW WideFromUtf8(const char* utf8) {
  std::vector<WChar> wide(tarvixlib::Utf16Length(utf8) + 1);
  tarvixlib::Utf8Decode(wide.data(), utf8);
  return CMyStringW(wide.data());
}

// The settings record's fields in the order of MapiSettings.
enum SettingIndex { kScanEmail, kSaveToQu, kDisclR, kDisclS, kShowWindow, kVdbDate, kBuildNr,
                    kSpamAction, kSpamCheck, kSettingCount };
static_assert(kSettingCount * sizeof(uint32_t) == sizeof(MapiSettings), "one index per field");

constexpr wchar_t kIconFile[] = L"\\..\\image\\big_main_icon.ico";

}  // namespace

CAppDetails::CAppDetails(CTarvixPipeComm* client, HINSTANCE* instance,
                         tarvixlib::CMyLog* watcherLog, const char* pipeName,
                         CLanguageSettings& languageSettings)
    : instance_(instance), client_(client), language_(nullptr, languageSettings) {
  language_.Initialize(kImageFolder, kLanguagePrefix);
  if (pipeName) watcher_ = new CPipeWatcher(watcherLog, *this, ".", pipeName);
}

CAppDetails::~CAppDetails() {
  if (HICON icon = smallIcon_.exchange(nullptr)) DestroyIcon(icon);
  if (HICON icon = bigIcon_.exchange(nullptr)) DestroyIcon(icon);
  if (watcher_) {
    watcher_->RequestStop();
    watcher_->SetStopTimeout(kWatcherStopWaitMs);
    delete watcher_;
    watcher_ = nullptr;
  }
}

bool CAppDetails::Load() {
  CMySynchronizedBlock<CMyThreadSave> hold(lock_);
  if (loaded_) return settingsValid_;
  if (watcher_ && !watcher_->IsRunning()) watcher_->Start();

  if (!client_) return false;
  CGetTarvixStatusCommand status;
  client_->SendLocal(status, false, nullptr);
  if (status.GetReturnCode() != kReturnSuccess) return false;

  CGetSpecificationValueCommand spec;
  client_->SendLocal(spec, false, nullptr);
  if (spec.GetReturnCode() == kReturnSuccess) {
    productLongName_ = WideFromUtf8(spec.productLong.Get());
    homepage_ = WideFromUtf8(spec.contactHomepage.Get());
  }
  mainPath_ = WideFromUtf8(status.Record().MAIN_PATH_W);
  ReloadLanguage();
  loaded_ = ReloadSettings();
  return loaded_;
}

bool CAppDetails::ReloadSettings() {
  CMySynchronizedBlock<CMyThreadSave> hold(lock_);
  if (!client_) return false;
  CGetMAPISettingsCommand command;
  client_->SendLocal(command, false, nullptr);
  if (command.GetReturnCode() != kReturnSuccess) return false;
  settings_[kScanEmail] = command.scanEmail.Get() ? 1 : 0;
  settings_[kSaveToQu] = command.saveToQu.Get() ? 1 : 0;
  settings_[kDisclR] = command.disclR.Get();
  settings_[kDisclS] = command.disclS.Get();
  settings_[kShowWindow] = command.showWindow.Get() ? 1 : 0;
  settings_[kVdbDate] = command.vdbDate.Get();
  settings_[kBuildNr] = command.buildNr.Get();
  settings_[kSpamAction] = command.spamAction.Get();
  settings_[kSpamCheck] = command.spamCheck.Get() ? 1 : 0;
  closeWindow_ = command.closeWin.Get();
  settingsValid_ = true;
  return true;
}

void CAppDetails::Invalidate() {
  CMySynchronizedBlock<CMyThreadSave> hold(lock_);
  settingsValid_ = false;
}

bool CAppDetails::GetSettings(MapiSettings* settings, bool* closeWindow) const {
  if (settings) {
    settings->SCANEMAIL = settings_[kScanEmail];
    settings->SAVETOQU = settings_[kSaveToQu];
    settings->DISCLR = settings_[kDisclR];
    settings->DISCLS = settings_[kDisclS];
    settings->SHOWWINDOW = settings_[kShowWindow];
    settings->VDBDATE = settings_[kVdbDate];
    settings->BUILDNR = settings_[kBuildNr];
    settings->SPAMACTION = settings_[kSpamAction];
    settings->SPAMCHECK = settings_[kSpamCheck];
  }
  if (closeWindow) *closeWindow = closeWindow_;
  return true;
}

// Under the lock although the listener calls it on its own: the first load
// sets the main path while the watcher it started may already serve.
void CAppDetails::ReloadLanguage() {
  CMySynchronizedBlock<CMyThreadSave> hold(lock_);
  CMyStringA folder;
  folder.AssignAnsiFromWide(mainPath_);
  // A main path without its closing separator still names the folder.
  size_t length = folder.GetLength();
  if (length > 0 && folder[length - 1] != '\\' && folder[length - 1] != '/') folder.Append("\\");
  folder.Append(kImageFolder);
  language_.Initialize(folder, kLanguagePrefix);
  language_.LoadLanguage();
}

HICON CAppDetails::LoadIcon(std::atomic<HICON>& slot, int size) {
  if (HICON icon = slot.load()) return icon;
  Load();
  CMyStringW file(mainPath_);
  file.Append(kIconFile);
  HICON icon = static_cast<HICON>(
      LoadImageW(instance_ ? *instance_ : nullptr, file, IMAGE_ICON, size, size, LR_LOADFROMFILE));
  if (!icon) return nullptr;
  HICON expected = nullptr;
  if (!slot.compare_exchange_strong(expected, icon)) {
    DestroyIcon(icon);  // another thread was first
    return expected;
  }
  return icon;
}

HICON CAppDetails::GetSmallIcon() { return LoadIcon(smallIcon_, 16); }
HICON CAppDetails::GetBigIcon() { return LoadIcon(bigIcon_, 32); }

}  // namespace mapilib
