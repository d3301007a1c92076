// outlook-standin.exe: loads the registered Outlook add-ins the way Outlook
// does and runs a script of mails and events against them.
//
//   outlook-standin SCRIPT
//   outlook-standin --window-probe   exit code 0 when this process can make
//                                    a window (see cmake/wine-run.sh)
//
// Add-ins are found under Software\Microsoft\Office\Outlook\Addins of
// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER: each key whose LoadBehavior has
// bit 0 set names a ProgID, which is created in-process on this
// (apartment-threaded) thread and connected through _IDTExtensibility2.
//
// Script lines ("#" starts a comment; words are separated by blanks):
//   version <text>           Outlook's Version (before connect; 16.0.0.5000)
//   junk-folder <name>       the junk folder's Name (before connect)
//   explorer                 an explorer window exists from now on
//   mail <id> [class=<c>] [sent=no] [saved=no] [no-mailitem] [save-fails]
//             [no-mapiobject]
//   connect                  loads the add-ins: OnConnection(startup),
//                            OnStartupComplete
//   foreground on|off        the host's main window is (not) in front
//   newmail <id>[,<id>...]   NewMailEx with the list as given
//   select <id>...           the explorer's selection, then SelectionChange
//   send <id>                ItemSend; prints whether an add-in cancelled it
//   load <id>                ItemLoad
//   wait <ms>                dispatches window messages for that long
//   disconnect               OnBeginShutdown, OnDisconnection(host shutdown)
// One output line per step, and below an event one line per message the
// add-in asked to scan (through the file NORVELLA_SCAN_TRACE names, set here
// when it is not set). At the end the host says which of its objects the
// add-in still holds. Exit code 0 when the script ran and the add-in let go
// of everything, 2 for a bad script, 3 when no add-in could be loaded at
// connect, 4 when objects are still held.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "addin/norvella.h"
#include "foundation/comobject.h"
#include "foundation/winhandles.h"
#include "outlookmodel.h"

namespace {

using tarvixlib::CComPtr;
using namespace tarvixstandin::outlook;

std::wstring Wide(const std::string& text) {
  int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], n);
  return wide;
}

std::string Narrow(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &narrow[0], n, nullptr, nullptr);
  return narrow;
}

// What MAPIOBJECT hands out until a message store stands behind the items.
class CPlainMessage final : public tarvixlib::CComObject<IUnknown> {};

// An add-in as the host holds it.
struct AddIn {
  std::wstring progId;
  CComPtr<_IDTExtensibility2> extensibility;
};

class CHost {
public:
  int Run(std::istream& script);

private:
  bool Step(const std::vector<std::string>& words);
  void FindAddIns(HKEY root, std::vector<std::wstring>& progIds);
  void Connect();
  void Disconnect();
  void Pump(DWORD ms);
  // Prints the scans the add-in asked for since the last call.
  void ReportScans();
  void SetForeground(bool on);

  std::wstring version_ = L"16.0.0.5000";
  std::wstring junkName_ = L"Junk E-mail";
  bool explorer_ = false;
  std::unique_ptr<COutlookModel> model_;
  std::vector<AddIn> addIns_;
  tarvixlib::CUniqueWindow window_;
  bool connectFailed_ = false;
  std::string tracePath_;
  long traceRead_ = 0;

public:
  void SetTracePath(const std::string& path) { tracePath_ = path; }
};

COutlookModel& EnsureModel(std::unique_ptr<COutlookModel>& model, const std::wstring& version,
                           const std::wstring& junk) {
  if (!model) model = std::make_unique<COutlookModel>(version.c_str(), junk.c_str());
  return *model;
}

int CHost::Run(std::istream& script) {
  std::string line;
  int number = 0;
  while (std::getline(script, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    if (words.empty()) continue;
    if (!Step(words)) {
      std::fprintf(stderr, "script line %d: cannot run \"%s\"\n", number, line.c_str());
      return 2;
    }
    std::fflush(stdout);
  }
  if (!addIns_.empty()) Disconnect();
  int result = connectFailed_ ? 3 : 0;
  if (model_) {
    std::vector<std::wstring> held = model_->HeldObjects();
    std::string names;
    for (const std::wstring& h : held) names += (names.empty() ? "" : ", ") + Narrow(h);
    std::printf("objects the add-in still holds: %s\n", held.empty() ? "none" : names.c_str());
    if (!held.empty() && result == 0) result = 4;
  }
  model_.reset();
  return result;
}

bool CHost::Step(const std::vector<std::string>& w) {
  const std::string& verb = w[0];
  if (verb == "version" && w.size() == 2 && !model_) {
    version_ = Wide(w[1]);
  } else if (verb == "junk-folder" && w.size() >= 2 && !model_) {
    std::string name = w[1];
    for (size_t i = 2; i < w.size(); ++i) name += " " + w[i];
    junkName_ = Wide(name);
  } else if (verb == "explorer" && w.size() == 1) {
    explorer_ = true;
    if (model_) model_->ShowExplorer();
  } else if (verb == "mail" && w.size() >= 2) {
    MailSpec spec;
    spec.id = Wide(w[1]);
    spec.mapiObject = tarvixlib::CComPtr<IUnknown>::Attach(new CPlainMessage());
    for (size_t i = 2; i < w.size(); ++i) {
      const std::string& o = w[i];
      if (o.rfind("class=", 0) == 0) spec.messageClass = Wide(o.substr(6));
      else if (o == "sent=no") spec.sent = false;
      else if (o == "saved=no") spec.saved = false;
      else if (o == "no-mailitem") spec.answersMailItem = false;
      else if (o == "save-fails") spec.saveFails = true;
      else if (o == "no-mapiobject") spec.mapiObject = {};
      else return false;
    }
    EnsureModel(model_, version_, junkName_).AddMail(spec);
  } else if (verb == "connect" && w.size() == 1) {
    Connect();
  } else if (verb == "foreground" && w.size() == 2 && (w[1] == "on" || w[1] == "off")) {
    SetForeground(w[1] == "on");
    std::printf("foreground %s\n", w[1].c_str());
  } else if (verb == "newmail" && w.size() == 2 && model_) {
    int sinks = model_->FireNewMailEx(Wide(w[1]));
    std::printf("newmail %s: %d sink(s)\n", w[1].c_str(), sinks);
    ReportScans();
  } else if (verb == "select" && w.size() >= 2 && model_) {
    std::vector<std::wstring> ids;
    for (size_t i = 1; i < w.size(); ++i) ids.push_back(Wide(w[i]));
    model_->Select(ids);
    int sinks = model_->FireSelectionChange();
    std::printf("select %zu item(s): %d sink(s)\n", ids.size(), sinks);
    ReportScans();
  } else if (verb == "send" && w.size() == 2 && model_ && model_->Item(Wide(w[1]))) {
    int sinks = 0;
    bool cancel = model_->FireItemSend(Wide(w[1]), &sinks);
    std::printf("send %s: %s (%d sink(s))\n", w[1].c_str(), cancel ? "cancelled" : "sent", sinks);
    ReportScans();
  } else if (verb == "load" && w.size() == 2 && model_ && model_->Item(Wide(w[1]))) {
    int sinks = model_->FireItemLoad(Wide(w[1]));
    std::printf("load %s: %d sink(s)\n", w[1].c_str(), sinks);
    ReportScans();
  } else if (verb == "wait" && w.size() == 2) {
    Pump(static_cast<DWORD>(std::strtoul(w[1].c_str(), nullptr, 10)));
  } else if (verb == "disconnect" && w.size() == 1) {
    Disconnect();
  } else {
    return false;
  }
  return true;
}

void CHost::FindAddIns(HKEY root, std::vector<std::wstring>& progIds) {
  tarvixlib::CUniqueRegKey addins;
  if (RegOpenKeyExW(root, L"Software\\Microsoft\\Office\\Outlook\\Addins", 0, KEY_READ,
                    addins.Out()) != ERROR_SUCCESS)
    return;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(addins.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    DWORD behavior = 0, size = sizeof behavior;
    if (RegGetValueW(addins.Get(), name, L"LoadBehavior", RRF_RT_REG_DWORD, nullptr, &behavior,
                     &size) != ERROR_SUCCESS ||
        !(behavior & 1))
      continue;
    progIds.push_back(name);
  }
}

void CHost::Connect() {
  COutlookModel& model = EnsureModel(model_, version_, junkName_);
  if (explorer_) model.ShowExplorer();
  std::vector<std::wstring> progIds;
  FindAddIns(HKEY_LOCAL_MACHINE, progIds);
  FindAddIns(HKEY_CURRENT_USER, progIds);
  for (const std::wstring& progId : progIds) {
    CLSID clsid;
    CComPtr<IUnknown> object;
    HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
    if (SUCCEEDED(hr))
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                            reinterpret_cast<void**>(object.Out()));
    AddIn addIn{progId, {}};
    if (SUCCEEDED(hr))
      hr = object->QueryInterface(IID__IDTExtensibility2,
                                  reinterpret_cast<void**>(addIn.extensibility.Out()));
    if (FAILED(hr)) {
      std::printf("add-in %s: not loaded (0x%08lX)\n", Narrow(progId).c_str(),
                  static_cast<unsigned long>(hr));
      continue;
    }
    SAFEARRAY* custom = SafeArrayCreateVector(VT_VARIANT, 0, 0);
    HRESULT connected =
        addIn.extensibility->OnConnection(model.Application(), ext_cm_Startup, nullptr, &custom);
    HRESULT started = addIn.extensibility->OnStartupComplete(&custom);
    SafeArrayDestroy(custom);
    std::printf("add-in %s: OnConnection 0x%08lX, OnStartupComplete 0x%08lX, "
                "application sinks %zu, explorer sinks %zu\n",
                Narrow(progId).c_str(), static_cast<unsigned long>(connected),
                static_cast<unsigned long>(started), model.ApplicationObject().SinkCount(),
                model.Explorer() ? model.Explorer()->SinkCount() : 0);
    addIns_.push_back(std::move(addIn));
  }
  if (addIns_.empty()) {
    std::printf("no add-in loaded\n");
    connectFailed_ = true;
  }
}

void CHost::Disconnect() {
  for (AddIn& addIn : addIns_) {
    SAFEARRAY* custom = SafeArrayCreateVector(VT_VARIANT, 0, 0);
    addIn.extensibility->OnBeginShutdown(&custom);
    HRESULT hr = addIn.extensibility->OnDisconnection(ext_dm_HostShutdown, &custom);
    SafeArrayDestroy(custom);
    std::printf("add-in %s: OnDisconnection 0x%08lX, application sinks left %zu\n",
                Narrow(addIn.progId).c_str(), static_cast<unsigned long>(hr),
                model_ ? model_->ApplicationObject().SinkCount() : 0);
  }
  addIns_.clear();
  CoFreeUnusedLibraries();
}

void CHost::ReportScans() {
  if (tracePath_.empty() || !model_) return;
  std::ifstream trace(tracePath_, std::ios::binary);
  if (!trace) return;
  trace.seekg(traceRead_);
  std::string line;
  while (std::getline(trace, line)) {
    traceRead_ = static_cast<long>(trace.tellg());
    // "ScanMessage message=<pointer> parent=... incoming=.. force=.. class=.. junk=.."
    size_t at = line.find("message=");
    size_t end = line.find(' ', at);
    if (at == std::string::npos || end == std::string::npos) continue;
    void* message = nullptr;
    std::sscanf(line.c_str() + at + 8, "%p", &message);
    std::wstring mail = model_->MailOf(message);
    size_t rest = line.find("incoming=");
    std::printf("  ScanMessage %s: %s\n", mail.empty() ? "(unknown message)" : Narrow(mail).c_str(),
                rest == std::string::npos ? "" : line.c_str() + rest);
    if (trace.peek() == EOF) break;
  }
}

void CHost::Pump(DWORD ms) {
  DWORD end = GetTickCount() + ms;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    DWORD now = GetTickCount();
    if (static_cast<int32_t>(end - now) <= 0) break;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
  }
}

void CHost::SetForeground(bool on) {
  if (on) {
    if (!window_)
      window_.Reset(CreateWindowExW(0, L"STATIC", L"Inbox - Outlook stand-in",
                                    WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr, nullptr,
                                    GetModuleHandleW(nullptr), nullptr));
    if (!window_) std::printf("no window: error %lu\n", GetLastError());
    ShowWindow(window_.Get(), SW_SHOW);
    SetForegroundWindow(window_.Get());
  } else if (window_) {
    window_.Reset();
  }
  Pump(50);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--window-probe") == 0) {
    tarvixlib::CUniqueWindow probe(CreateWindowExW(0, L"STATIC", L"probe", WS_OVERLAPPEDWINDOW, 0,
                                                   0, 10, 10, nullptr, nullptr, nullptr, nullptr));
    return probe ? 0 : 1;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: outlook-standin SCRIPT\n");
    return 2;
  }
  std::ifstream script(argv[1]);
  if (!script) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
  // Where the add-in's scan seam writes the scans it was asked for.
  std::string trace;
  if (const char* given = std::getenv("NORVELLA_SCAN_TRACE")) {
    trace = given;
  } else {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    trace = std::string(folder) + "outlook-standin-scans-" + std::to_string(GetCurrentProcessId()) + ".txt";
    SetEnvironmentVariableA("NORVELLA_SCAN_TRACE", trace.c_str());
    _putenv_s("NORVELLA_SCAN_TRACE", trace.c_str());
  }
  DeleteFileA(trace.c_str());
  int result;
  {
    CHost host;
    host.SetTracePath(trace);
    result = host.Run(script);
  }
  DeleteFileA(trace.c_str());
  CoUninitialize();
  return result;
}
