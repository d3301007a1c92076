// The pipe watcher: the add-in's second connection to the service, on
// which the service sends its notifications. The thread opens a client
// connection to the service's pipe, asks with START_LISTENER to be taken
// as the add-in's listener, hands the connection to a listener session
// thread that serves what arrives, watches it, and starts over when it is
// lost. Every pause waits on the watcher's stop event, and so does the
// START_LISTENER exchange itself: a stop request ends any of them at once.
#pragma once

#include <atomic>
#include <cstdint>

#include "comm/handshake.h"
#include "foundation/mystring.h"
#include "foundation/threads.h"
#include "logging/mylog.h"

namespace mapilib {

class CAppDetails;

class CPipeWatcher : public tarvixlib::CWorkThread {
public:
  // Pauses after each outcome of an attempt, the liveness poll, and how
  // long the listener waits for the service's next command.
  struct Timing {
    uint32_t openFailedMs = 1000;
    uint32_t refusedMs = 60000;
    uint32_t startFailedMs = 2000;
    uint32_t livenessPollMs = 10000;
    uint32_t listenerIoLimitMs = 300000;
  };
  static constexpr uint32_t kListenerAppType = tarvixlib::comm::kMailAddinWatcherType;
  static constexpr const char* kListenerName = "Mapi PipeListener";
  static constexpr uint32_t kListenerStopWaitMs = 30000;
  static constexpr uint32_t kOpenTimeLimitMs = 86400000;
  static constexpr size_t kClientBufferSize = 2048;

  // log: where the watcher's messages go (the command client's pipe log).
  CPipeWatcher(tarvixlib::CMyLog* log, CAppDetails& details, const char* host = ".",
               const char* pipeName = "TarvixPipe");
  ~CPipeWatcher() override;

  unsigned Run() override;

  // Before Start.
  void SetTiming(const Timing& timing) { timing_ = timing; }
  // Attempts made so far, and registrations that succeeded.
  uint32_t Attempts() const { return attempts_.load(); }
  uint32_t Registrations() const { return registrations_.load(); }

private:
  tarvixlib::CMyLog* log_;
  CAppDetails& details_;
  tarvixlib::CMyStringA host_;
  tarvixlib::CMyStringA pipeName_;
  Timing timing_;
  std::atomic<uint32_t> attempts_{0};
  std::atomic<uint32_t> registrations_{0};
};

}  // namespace mapilib
