#include "mapilib/pipewatcher.h"

#include <windows.h>

#include "comm/server.h"
#include "foundation/winhandles.h"
#include "comm/session.h"
#include "commands/notifycommands.h"
#include "mapilib/appdetails.h"
#include "mapilib/listener.h"

namespace mapilib {

using tarvixlib::CMyDummyLog;
using tarvixlib::kLogDebug;
using tarvixlib::kLogInfo;
using tarvixlib::kLogWarn;
using tarvixlib::commands::CStartListenerCommand;
using tarvixlib::commands::CTarvixPipeCommandSession;
using tarvixlib::commands::kReturnSuccess;
using tarvixlib::comm::ConnectParams;
using tarvixlib::comm::CTarvixSession;

namespace {

// The connection exists while its pipe still reports instances.
bool IsAlive(tarvixlib::platform::FileHandle handle) {
  DWORD instances = 0;
  return handle && handle != INVALID_HANDLE_VALUE &&
         GetNamedPipeHandleStateW(handle, nullptr, &instances, nullptr, nullptr, nullptr, 0) &&
         instances != 0;
}

}  // namespace

CPipeWatcher::CPipeWatcher(tarvixlib::CMyLog* log, CAppDetails& details, const char* host,
                           const char* pipeName)
    : CWorkThread(tarvixlib::platform::kInfinite), log_(log), details_(details), host_(host),
      pipeName_(pipeName) {}

CPipeWatcher::~CPipeWatcher() { Stop(); }

unsigned CPipeWatcher::Run() {
  auto write = [this](uint32_t level, const char* format, uint32_t attempt) {
    if (log_) log_->Log(level, format, attempt);
  };
  if (log_) log_->Log(kLogDebug, "Trying to start PipeWatcher...");

  CMyDummyLog nullLog;
  CListenerCommandSet commands(&details_);
  CTarvixPipeCommandSession listener(&nullLog, kListenerAppType, kListenerName, &commands, false,
                                     true, kListenerStopWaitMs, &nullLog);
  listener.TarvixPipe::SetIoTimeLimit(timing_.listenerIoLimitMs);
  CTarvixSession client(false);
  client.SetConnectTimeLimit(kOpenTimeLimitMs);
  client.SetBufferSizes(kClientBufferSize, kClientBufferSize);
  // The stop event ends the START_LISTENER exchange too, not only the pauses.
  client.SetCancelEvent(StopEvent());
  ConnectParams identity;
  identity.appType = kListenerAppType;
  identity.processId = GetCurrentProcessId();
  identity.flags = 0;

  while (!StopRequested()) {
    uint32_t attempt = ++attempts_;
    if (!client.OpenPipe(host_, pipeName_, identity)) {
      write(kLogWarn, "%u. Attempt: PipeWatcher could not open session pipe!", attempt);
      WaitForStop(timing_.openFailedMs);
      continue;
    }
    write(kLogDebug, "%u. Attempt: PipeWatcher session pipe opened.", attempt);
    CStartListenerCommand start;
    start.Send(client.Reader(), client.Writer(), &client);
    if (start.GetReturnCode() != kReturnSuccess) {
      write(kLogWarn, "%u. Attempt: PipeWatcher could not register observer / listener!", attempt);
      if (StopRequested()) {
        client.Close(false);  // the exchange was ended by the stop request
        break;
      }
      client.Close(true);
      WaitForStop(timing_.refusedMs);
      continue;
    }
    details_.ReloadSettings();
    listener.TakeOver(client);
    // The watcher looks at the pipe through its own handle: the listener
    // closes (and the system may reuse) the session's handle when it ends.
    tarvixlib::CUniqueHandle watched;
    DuplicateHandle(GetCurrentProcess(), listener.Handle(), GetCurrentProcess(), watched.Out(), 0,
                    FALSE, DUPLICATE_SAME_ACCESS);
    if (!listener.Start()) {
      write(kLogWarn, "%u. Attempt: PipeWatcher start error!", attempt);
      listener.Close(false);
      WaitForStop(timing_.startFailedMs);
      continue;
    }
    ++registrations_;
    write(kLogInfo, "%u. Attempt: PipeWatcher successfully started.", attempt);
    details_.ReloadSettings();
    while (listener.IsRunning() && IsAlive(watched.Get()) &&
           !WaitForStop(timing_.livenessPollMs)) {
    }
    // The listener thread owns the connection while it runs: wake it, let
    // it end and close the connection itself, then make sure it is closed.
    listener.Interrupt();
    listener.Stop();
    listener.Close(false);
    details_.Invalidate();
  }
  listener.RequestStop();
  return 0;
}

}  // namespace mapilib
