// The command client: every command leaves through one of these, keeping one
// open connection per host and reusing it for the next command.
//
//   CTarvixPipeComm          the ten ways of sending
//   CTarvixPipeCommContext   the client's own log pool
//   CTarvixPipeCommT         + the kept connections and the dispatcher
//   CTarvixNamedPipeComm     + the service's pipe name
//   CSimpleTarvixComm        + one configured host and the pipe log
//
// A send is synchronous on the caller's thread: the caller builds the
// command, sends it and reads its code and response parameters when the
// call returns; the client never keeps the command. Each read and write is
// bounded by the connection's time limit (the larger of the command's
// timeout and the client's default), and the exchange as a whole by that
// limit plus time for the bytes moved at a floor rate (CExchangeClock); an
// exchange that runs out ends with code 2, and its connection is dropped.
// Abort ends the sends in progress early.
//
// Senders to one host take turns on its kept connection. A sender that
// waits for its turn waits at most as long as the exchange in progress may
// take: when that one fails (or runs out of time) the connection is dropped
// and every waiter stops waiting at once and connects afresh.
//
// Unloading (the destructor) refuses new sends, aborts the ones in
// progress and waits until they have let go of their connections; only
// then does it say goodbye on each kept connection and close it, once.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "comm/connections.h"
#include "comm/host.h"
#include "comm/protocol.h"
#include "comm/session.h"
#include "commands/command.h"
#include "foundation/ptrlist.h"
#include "foundation/winhandles.h"
#include "logging/mylog.h"
#include "logging/pipelog.h"

namespace tarvixlib {
namespace commands {
namespace comm {

using host::SendResult;
using tarvixlib::comm::CConnectionFailureHandler;
using tarvixlib::comm::CTarvixSession;
using tarvixlib::comm::HOST;
using tarvixlib::comm::kMailAddinType;
using tarvixlib::comm::kServiceTypeBits;

// The I/O time limit of the add-in's commands.
constexpr uint32_t kAddinTimeLimitMs = 60000;

class CTarvixPipeComm {
public:
  virtual ~CTarvixPipeComm() = default;

  // ---- operations, in slot order ----
  // Watched and multi-host sending runs on the worker pool; both report
  // whether the command was queued.
  virtual bool SendWatched(CTarvixPipeCommand& command, const char* watch, const HOST* hosts,
                           size_t count, bool force, CConnectionFailureHandler* handler) = 0;
  virtual bool SendWatched(CTarvixPipeCommand& command, const char* watch,
                           const CMyPtrList& hostNames, bool force,
                           CConnectionFailureHandler* handler) = 0;
  virtual bool SendToHosts(CTarvixPipeCommand& command, const HOST* hosts, size_t count,
                           bool force, CConnectionFailureHandler* handler) = 0;
  virtual bool SendToHosts(CTarvixPipeCommand& command, const CMyPtrList& hostNames, bool force,
                           CConnectionFailureHandler* handler) = 0;
  // The dispatcher's send result.
  virtual SendResult SendNow(CTarvixPipeCommand& command, const HOST& host, bool force,
                             CConnectionFailureHandler* handler) = 0;
  virtual SendResult SendTo(CTarvixPipeCommand& command, const HOST& host, bool async, bool force,
                            CConnectionFailureHandler* handler) = 0;
  // An empty or missing name does nothing (SendResult::kFailed).
  virtual SendResult SendNow(CTarvixPipeCommand& command, const char* host, bool force,
                             CConnectionFailureHandler* handler) = 0;
  virtual SendResult SendTo(CTarvixPipeCommand& command, const char* host, bool async, bool force,
                            CConnectionFailureHandler* handler) = 0;
  virtual SendResult SendLocal(CTarvixPipeCommand& command, bool force,
                               CConnectionFailureHandler* handler) = 0;
  virtual SendResult SendTo(CTarvixPipeCommand& command, bool async, bool force,
                            CConnectionFailureHandler* handler) = 0;
};

// The first base of every client: its log pool, whose only target is the
// log given at construction, mapped so that nothing arrives below dbg. An
// owned log is deleted with the pool. Being the first base, it goes last:
// whatever still writes to the client's logs while the rest of the client
// is torn down finds the log alive.
class CTarvixPipeCommContext {
public:
  explicit CTarvixPipeCommContext(CMyLog* log, bool owned = false);
  virtual ~CTarvixPipeCommContext();
  CMyLogPool& LogPool() { return pool_; }

private:
  CMyLogPool pool_;
};

namespace host {

// Performs one send: on the host's kept connection when there is one,
// otherwise (or when the kept one has gone stale) on a fresh connection.
class CCommandDispatcher {
public:
  CCommandDispatcher(CConnectionManager& manager, uint32_t ownAppType, uint32_t requiredBits,
                     uint32_t flags, uint32_t defaultTimeLimitMs);
  // A copy has every field but its own event.
  CCommandDispatcher(const CCommandDispatcher& other);
  CCommandDispatcher& operator=(const CCommandDispatcher&) = delete;

  // ---- operations, in slot order ----
  virtual ~CCommandDispatcher();  // shuts down, closes the own event
  // Opens the session to the host: the named pipe or the TCP port.
  virtual bool Connect(CTarvixSession& session, const HOST& host,
                       const tarvixlib::comm::ConnectParams& params);
  // Ends the current send: signals the own and the current cancel event.
  // A sender waiting for its turn on a kept connection stops waiting too.
  virtual void Abort();

  // The send; cancel may be null (or INVALID_HANDLE_VALUE) for none. After
  // Shutdown nothing is sent: kFailed, the command keeps its code.
  SendResult Send(CTarvixPipeCommand& command, const HOST& host, HANDLE cancel, bool force,
                  CConnectionFailureHandler* handler, CMyLog* log);
  // For unloading: refuses new sends, aborts the sends in progress and
  // waits until every one of them has returned (each ends at once when
  // aborted, at the latest when its exchange runs out).
  void Shutdown();

  // Runs the command on an open session when the peer has the required
  // type bits: kOk when its code is not 2 afterwards, kFailed otherwise (or
  // when the session has no connection), kWrongPeer when the peer is of the
  // wrong type.
  SendResult RunOnSession(CTarvixPipeCommand& command, CTarvixSession& session);

  const char* PipeName() const { return pipeName_.GetString(); }
  void SetPipeName(const char* name) { pipeName_.Assign(name); }
  uint16_t Port() const { return port_; }
  void SetPort(uint16_t port) { port_ = port; }
  uint32_t DefaultTimeLimit() const { return defaultTimeLimit_; }
  void SetDefaultTimeLimit(uint32_t ms) { defaultTimeLimit_ = ms; }
  // The floor transfer rate of an exchange (see CExchangeClock).
  uint32_t ExchangeFloorRate() const { return floorRate_; }
  void SetExchangeFloorRate(uint32_t bytesPerSecond) { floorRate_ = bytesPerSecond; }

private:
  // Sessions are reused from send to send (their events and buffers are
  // made once); a few idle ones are kept.
  static constexpr size_t kIdleSessions = 4;
  CTarvixSession* TakeSession();
  void GiveBack(CTarvixSession* session);
  // Counts a send in; false once shut down.
  bool Enter();
  void Leave();

  SendResult ConnectAndSend(CTarvixPipeCommand& command, const HOST& host, CTarvixSession& session,
                            bool force, CConnectionFailureHandler& handler, CMyLog* log);
  // Runs the command on a kept connection whose lock the caller holds: the
  // session takes the handle for the exchange. On success the handle goes
  // back and the connection stays kept, otherwise it is dropped.
  SendResult RunOnKept(CTarvixPipeCommand& command, const char* host, CStoredConnection* kept,
                       CTarvixSession& session, uint32_t limit);
  // Closes a kept connection that failed and drops it from the store.
  void Drop(const char* host, CStoredConnection* kept, CTarvixSession& session);

  CMyStringA pipeName_;
  uint16_t port_ = 0;
  CConnectionManager& manager_;
  CUniqueHandle ownEvent_;
  HANDLE currentCancel_;
  uint32_t ownAppType_;
  uint32_t requiredBits_;
  uint32_t flags_;
  uint32_t defaultTimeLimit_;
  uint32_t floorRate_ = tarvixlib::comm::CExchangeClock::kDefaultFloorBytesPerSecond;
  // Raised by Abort before it signals the own event; cleared with the event.
  // While it is false the own event is not set (the streams rely on that).
  std::atomic<bool> aborted_{false};
  // Sends in progress, under stateLock_; allReturned_ is signalled while
  // there is none.
  CMyThreadSave stateLock_;
  uint32_t inFlight_ = 0;
  bool shutDown_ = false;
  CUniqueHandle allReturned_;
  CMyThreadSave idleLock_;
  CTarvixSession* idle_[kIdleSessions] = {};
  size_t idleCount_ = 0;
};

}  // namespace host

// The client over one transport, with its kept connections.
class CTarvixPipeCommT : public CTarvixPipeCommContext,
                         public CTarvixPipeComm,
                         public host::CConnectionManager {
public:
  CTarvixPipeCommT(int transport, CMyLog* contextLog, uint32_t ownAppType, uint32_t requiredBits,
                   uint32_t flags, uint32_t defaultTimeLimitMs, bool ownsContextLog = false);
  // Shuts the dispatcher down (no new sends; those in progress aborted and
  // waited for), then says goodbye on every kept connection and closes it.
  ~CTarvixPipeCommT() override;

  bool SendWatched(CTarvixPipeCommand& command, const char* watch, const HOST* hosts,
                   size_t count, bool force, CConnectionFailureHandler* handler) override;
  bool SendWatched(CTarvixPipeCommand& command, const char* watch, const CMyPtrList& hostNames,
                   bool force, CConnectionFailureHandler* handler) override;
  bool SendToHosts(CTarvixPipeCommand& command, const HOST* hosts, size_t count, bool force,
                   CConnectionFailureHandler* handler) override;
  bool SendToHosts(CTarvixPipeCommand& command, const CMyPtrList& hostNames, bool force,
                   CConnectionFailureHandler* handler) override;
  SendResult SendNow(CTarvixPipeCommand& command, const HOST& host, bool force,
                     CConnectionFailureHandler* handler) override;
  SendResult SendTo(CTarvixPipeCommand& command, const HOST& host, bool async, bool force,
                    CConnectionFailureHandler* handler) override;
  SendResult SendNow(CTarvixPipeCommand& command, const char* host, bool force,
                     CConnectionFailureHandler* handler) override;
  SendResult SendTo(CTarvixPipeCommand& command, const char* host, bool async, bool force,
                    CConnectionFailureHandler* handler) override;
  SendResult SendLocal(CTarvixPipeCommand& command, bool force,
                       CConnectionFailureHandler* handler) override;
  SendResult SendTo(CTarvixPipeCommand& command, bool async, bool force,
                    CConnectionFailureHandler* handler) override;

  host::CCommandDispatcher& Dispatcher() { return dispatcher_; }
  // Closes every kept connection politely (as at unload), each once it is
  // free: a sender that holds one is waited for.
  void CloseAllConnections();

  // The manager's log: forwards to the client's log pool.
  CMyLog& ManagerLog() { return managerLog_; }

private:
  CMyThreadSave lock_;
  CMyThreadSaveLogT<CMyLog> managerLog_;
  host::CCommandDispatcher dispatcher_;
};

// The client of the service's named pipe.
class CTarvixNamedPipeComm : public CTarvixPipeCommT {
public:
  CTarvixNamedPipeComm(CMyLog* contextLog, uint32_t ownAppType, uint32_t requiredBits,
                       uint32_t flags, uint32_t defaultTimeLimitMs, bool ownsContextLog = false);
};

// The add-in's client: one configured host, its own diagnostics discarded
// (or, given a context log, written there; the client owns it), and a pipe
// log whose entries go to the local service as LOG commands.
class CSimpleTarvixComm : public CTarvixNamedPipeComm {
public:
  explicit CSimpleTarvixComm(const char* host = tarvixlib::comm::kLocalHost,
                             uint32_t ownAppType = kMailAddinType,
                             uint32_t requiredBits = kServiceTypeBits, uint32_t flags = 0,
                             uint32_t defaultTimeLimitMs = kAddinTimeLimitMs,
                             CMyLog* contextLog = nullptr);
  // Shuts the dispatcher down first, so that a LOG command in progress ends
  // before the pipe log lets go of this client.
  ~CSimpleTarvixComm() override;

  // To the configured host.
  SendResult SendLocal(CTarvixPipeCommand& command, bool force,
                       CConnectionFailureHandler* handler) override;
  SendResult SendTo(CTarvixPipeCommand& command, bool async, bool force,
                    CConnectionFailureHandler* handler) override;
  using CTarvixPipeCommT::SendTo;

  const char* Host() const { return host_.GetString(); }
  CMyPipeLog& PipeLog() { return pipeLog_; }

private:
  static int32_t SendLogCommand(void* client, CTarvixPipeCommand& command);

  CMyStringA host_;
  CMyPipeLog pipeLog_;
};

}  // namespace comm
}  // namespace commands
}  // namespace tarvixlib
