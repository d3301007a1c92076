#include "comm/client.h"

#include <ctime>
#include <new>

namespace tarvixlib {
namespace commands {
namespace comm {

namespace {

bool Valid(HANDLE h) { return h && h != INVALID_HANDLE_VALUE; }

// How many kept connections are closed per round at unload.
constexpr size_t kCloseBatch = 16;

}  // namespace

CTarvixPipeCommContext::CTarvixPipeCommContext(CMyLog* log, bool owned) {
  pool_.AddTarget(log, owned, &CMyCapLogMapper::DebugCap());
}

CTarvixPipeCommContext::~CTarvixPipeCommContext() = default;

namespace host {

CCommandDispatcher::CCommandDispatcher(CConnectionManager& manager, uint32_t ownAppType,
                                       uint32_t requiredBits, uint32_t flags,
                                       uint32_t defaultTimeLimitMs)
    : manager_(manager),
      ownEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      ownAppType_(ownAppType),
      requiredBits_(requiredBits),
      flags_(flags),
      defaultTimeLimit_(defaultTimeLimitMs),
      allReturned_(CreateEventW(nullptr, TRUE, TRUE, nullptr)) {
  currentCancel_ = ownEvent_.Get();
}

CCommandDispatcher::CCommandDispatcher(const CCommandDispatcher& other)
    : pipeName_(other.pipeName_),
      port_(other.port_),
      manager_(other.manager_),
      ownEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      ownAppType_(other.ownAppType_),
      requiredBits_(other.requiredBits_),
      flags_(other.flags_),
      defaultTimeLimit_(other.defaultTimeLimit_),
      floorRate_(other.floorRate_),
      allReturned_(CreateEventW(nullptr, TRUE, TRUE, nullptr)) {
  currentCancel_ = ownEvent_.Get();
}

CCommandDispatcher::~CCommandDispatcher() {
  Shutdown();
  for (size_t i = 0; i < idleCount_; ++i) delete idle_[i];
}

bool CCommandDispatcher::Enter() {
  CMySynchronizedBlock<CMyThreadSave> hold(stateLock_);
  if (shutDown_) return false;
  if (inFlight_++ == 0) ResetEvent(allReturned_.Get());
  // A new send is not cancelled by an earlier Abort. This happens under the
  // state lock, so Shutdown's Abort, which comes after shutDown_ is set,
  // is never undone here.
  if (aborted_.exchange(false)) ResetEvent(ownEvent_.Get());
  return true;
}

void CCommandDispatcher::Leave() {
  CMySynchronizedBlock<CMyThreadSave> hold(stateLock_);
  if (--inFlight_ == 0) SetEvent(allReturned_.Get());
}

void CCommandDispatcher::Shutdown() {
  {
    CMySynchronizedBlock<CMyThreadSave> hold(stateLock_);
    shutDown_ = true;
  }
  Abort();
  if (allReturned_) WaitForSingleObject(allReturned_.Get(), INFINITE);
}

CTarvixSession* CCommandDispatcher::TakeSession() {
  CTarvixSession* session = nullptr;
  {
    CMySynchronizedBlock<CMyThreadSave> hold(idleLock_);
    if (idleCount_ > 0) session = idle_[--idleCount_];
  }
  if (!session) {
    session = new (std::nothrow)
        CTarvixSession(/*polite=*/true, manager_.Transport() != CConnectionManager::kNamedPipe);
  } else {
    session->ClearVariables();
    session->SetPolite(true);
  }
  if (session) session->Exchange().SetFloorRate(floorRate_);
  return session;
}

void CCommandDispatcher::GiveBack(CTarvixSession* session) {
  if (!session) return;
  if (session->IsOpen()) session->Close(false);  // never happens on the paths above
  {
    CMySynchronizedBlock<CMyThreadSave> hold(idleLock_);
    if (idleCount_ < kIdleSessions) {
      idle_[idleCount_++] = session;
      return;
    }
  }
  delete session;
}

bool CCommandDispatcher::Connect(CTarvixSession& session, const HOST& host,
                                 const tarvixlib::comm::ConnectParams& params) {
  if (manager_.Transport() == CConnectionManager::kNamedPipe)
    return session.OpenPipe(host.name.GetString(), pipeName_.GetString(), params);
  return session.OpenSocket(host.name.GetString(), port_, params);
}

void CCommandDispatcher::Abort() {
  aborted_ = true;
  if (ownEvent_) SetEvent(ownEvent_.Get());
  HANDLE current = currentCancel_;
  if (Valid(current) && current != ownEvent_.Get()) SetEvent(current);
}

SendResult CCommandDispatcher::RunOnSession(CTarvixPipeCommand& command, CTarvixSession& session) {
  if ((session.PeerAppType() & requiredBits_) != requiredBits_) return SendResult::kWrongPeer;
  if (!session.IsOpen()) return SendResult::kFailed;
  session.BeginExchange();
  command.Send(session.ReadStream(), session.WriteStream(), &session);
  session.EndExchange();
  return command.GetReturnCode() == kReturnFailed ? SendResult::kFailed : SendResult::kOk;
}

void CCommandDispatcher::Drop(const char* host, CStoredConnection* kept,
                              CTarvixSession& session) {
  // No goodbye: the connection failed or leads to the wrong peer, and a
  // goodbye on a hung connection would wait out another time limit. The
  // session holds the handle, so this is its one close.
  session.Close(false);
  kept->Forget();
  manager_.RemoveConnection(host, kept);
  manager_.ReturnConnection(kept);
}

SendResult CCommandDispatcher::RunOnKept(CTarvixPipeCommand& command, const char* host,
                                         CStoredConnection* kept, CTarvixSession& session,
                                         uint32_t limit) {
  // The own event is set only by Abort, which raises aborted_ first.
  HANDLE cancel = session.CancelEvent();
  const std::atomic<bool>* flag = cancel == ownEvent_.Get() ? &aborted_ : nullptr;
  session.AttachEstablished(kept->TakeHandle(), *kept, cancel, limit, flag);
  SendResult result = RunOnSession(command, session);
  if (result == SendResult::kOk) {
    kept->GiveBack(session.Detach());  // it stays kept
    kept->Release();
    manager_.ReturnConnection(kept);
  } else {
    // Failed, or a peer of the wrong type: of no use to the next sender.
    Drop(host, kept, session);
  }
  return result;
}

SendResult CCommandDispatcher::Send(CTarvixPipeCommand& command, const HOST& host, HANDLE cancel,
                                    bool force, CConnectionFailureHandler* handler, CMyLog* log) {
  if (!Enter()) return SendResult::kFailed;  // unloading: nothing leaves any more
  const char* name = host.name.GetString();
  currentCancel_ = Valid(cancel) ? cancel : ownEvent_.Get();

  CTarvixSession* pooled = TakeSession();
  if (!pooled) {
    Leave();
    return SendResult::kFailed;
  }
  CTarvixSession& session = *pooled;
  uint32_t limit = command.GetTimeout() > defaultTimeLimit_ ? command.GetTimeout()
                                                             : defaultTimeLimit_;
  session.SetConnectTimeLimit(limit);
  session.SetCancelEvent(currentCancel_);
  CConnectionFailureHandler& failures = handler ? *handler : tarvixlib::comm::FailureHandler();

  time_t when = time(nullptr);
  SendResult result = SendResult::kFailed;
  bool fresh = true;
  if (CStoredConnection* kept =
          manager_.FindConnection(name, /*acquire=*/true, session.CancelEvent())) {
    when = time(nullptr);
    result = RunOnKept(command, name, kept, session, limit);
    // A stale connection (the service restarted) is worth one more try on a
    // fresh one; an exchange that ran out of time or was aborted is not:
    // the bound holds for the whole send.
    fresh = result == SendResult::kFailed && !session.Exchange().TimedOut() && !session.Cancelled();
  }
  if (fresh) {
    when = time(nullptr);
    result = ConnectAndSend(command, host, session, force, failures, log);
  }
  currentCancel_ = ownEvent_.Get();
  GiveBack(pooled);

  if (log) {
    switch (result) {
      case SendResult::kNoConnection:
      case SendResult::kHostAnswered:
        log->LogInfo("Unable to connect to '%s' in order to send command '%s'", name,
                     command.GetName());
        break;
      case SendResult::kFailed:
        log->LogInfo("Command '%s' couldn't be sent", command.GetName());
        break;
      case SendResult::kWrongPeer:
        log->LogInfo("Command '%s' not sent due to wrong remote application type",
                     command.GetName());
        break;
      default:
        break;
    }
  }
  manager_.ReportAttempt(name, when, result);
  Leave();
  return result;
}

SendResult CCommandDispatcher::ConnectAndSend(CTarvixPipeCommand& command, const HOST& host,
                                              CTarvixSession& session, bool force,
                                              CConnectionFailureHandler& handler, CMyLog* log) {
  const char* name = host.name.GetString();
  tarvixlib::comm::ConnectParams params;
  params.appType = ownAppType_;
  params.processId = GetCurrentProcessId();
  params.flags = flags_;
  bool connected = Connect(session, host, params);
  DWORD error = connected ? 0 : GetLastError();
  if (!connected && force && (error == ERROR_LOGON_FAILURE || error == ERROR_ACCESS_DENIED)) {
    tarvixlib::comm::INetworkLogon* network = tarvixlib::comm::SystemNetworkLogon();
    if (network && tarvixlib::comm::ForcedLogons().ForceConnection(host, *network)) {
      if (log) log->LogInfo("Established forced connection to '%s'", name);
      connected = Connect(session, host, params);
    } else if (log) {
      log->LogWarn("Unable to force a connection to '%s'", name);
    }
  }
  if (!connected || !session.IsOpen()) {
    bool answered = session.HostAnswered();
    session.Close(false);
    if (handler.IsReachable(host)) return SendResult::kHostReachable;
    return answered ? SendResult::kHostAnswered : SendResult::kNoConnection;
  }

  // Keep the connection; when another sender kept one for this host
  // meanwhile, that one is used and ours is closed, politely.
  CMyTransferableLock lock(false);
  tarvixlib::comm::CTarvixConnectionContext peer = session;
  tarvixlib::comm::CUniqueConnection handle = session.Detach();
  if (!manager_.StoreConnection(name, peer, handle, lock)) {
    session.AttachEstablished(std::move(handle), peer, session.CancelEvent(), 0);
    session.Close();
  }

  CStoredConnection* kept = manager_.FindConnection(name, /*acquire=*/true, session.CancelEvent());
  if (!kept) return SendResult::kFailed;  // removed meanwhile
  return RunOnKept(command, name, kept, session, session.ConnectTimeLimit());
}

}  // namespace host

CTarvixPipeCommT::CTarvixPipeCommT(int transport, CMyLog* contextLog, uint32_t ownAppType,
                                   uint32_t requiredBits, uint32_t flags,
                                   uint32_t defaultTimeLimitMs, bool ownsContextLog)
    : CTarvixPipeCommContext(contextLog, ownsContextLog),
      host::CConnectionManager(transport),
      managerLog_(&LogPool()),
      dispatcher_(*this, ownAppType, requiredBits, flags, defaultTimeLimitMs) {
  CMyLogPool::ProcessPool().AddTarget(&managerLog_, false, &CMyCapLogMapper::WarnCap());
}

CTarvixPipeCommT::~CTarvixPipeCommT() {
  dispatcher_.Shutdown();
  CloseAllConnections();
  CMyLogPool::ProcessPool().RemoveTarget(&managerLog_);
}

void CTarvixPipeCommT::CloseAllConnections() {
  CStoredConnection* taken[kCloseBatch];
  size_t n;
  while ((n = TakeAll(taken, kCloseBatch)) > 0) {
    for (size_t i = 0; i < n; ++i) {
      CStoredConnection* kept = taken[i];
      // A sender that still holds it finishes its exchange first; one whose
      // exchange failed has closed the handle and the lock, and the wait
      // fails.
      if (kept->Acquire() && kept->HasHandle()) {
        CTarvixSession goodbye(/*polite=*/true, Transport() != kNamedPipe);
        goodbye.AttachEstablished(kept->TakeHandle(), *kept, nullptr,
                                  dispatcher_.DefaultTimeLimit());
        goodbye.Close();  // CLOSE_CONNECTION, then the handle's one close
      }
      kept->Forget();
      ReturnConnection(kept);
    }
  }
}

bool CTarvixPipeCommT::SendWatched(CTarvixPipeCommand&, const char*, const HOST*, size_t, bool,
                                   CConnectionFailureHandler*) {
  return false;  // queued sending needs the worker pool, which this client does not run
}

bool CTarvixPipeCommT::SendWatched(CTarvixPipeCommand&, const char*, const CMyPtrList&, bool,
                                   CConnectionFailureHandler*) {
  return false;
}

bool CTarvixPipeCommT::SendToHosts(CTarvixPipeCommand&, const HOST*, size_t, bool,
                                   CConnectionFailureHandler*) {
  return false;
}

bool CTarvixPipeCommT::SendToHosts(CTarvixPipeCommand&, const CMyPtrList&, bool,
                                   CConnectionFailureHandler*) {
  return false;
}

SendResult CTarvixPipeCommT::SendNow(CTarvixPipeCommand& command, const HOST& host, bool force,
                                     CConnectionFailureHandler* handler) {
  return dispatcher_.Send(command, host, nullptr, force, handler, &managerLog_);
}

SendResult CTarvixPipeCommT::SendTo(CTarvixPipeCommand& command, const HOST& host, bool async,
                                    bool force, CConnectionFailureHandler* handler) {
  if (async) return host::SendResult::kFailed;  // send threads are not run by this client
  return SendNow(command, host, force, handler);
}

SendResult CTarvixPipeCommT::SendNow(CTarvixPipeCommand& command, const char* host, bool force,
                                     CConnectionFailureHandler* handler) {
  if (!host || !*host) return host::SendResult::kFailed;
  return SendNow(command, HOST(host), force, handler);
}

SendResult CTarvixPipeCommT::SendTo(CTarvixPipeCommand& command, const char* host, bool async,
                                    bool force, CConnectionFailureHandler* handler) {
  return SendTo(command, HOST(host ? host : ""), async, force, handler);
}

SendResult CTarvixPipeCommT::SendLocal(CTarvixPipeCommand& command, bool force,
                                       CConnectionFailureHandler* handler) {
  return SendTo(command, HOST(tarvixlib::comm::kLocalHost), false, force, handler);
}

SendResult CTarvixPipeCommT::SendTo(CTarvixPipeCommand& command, bool async, bool force,
                                    CConnectionFailureHandler* handler) {
  return SendTo(command, HOST(tarvixlib::comm::kLocalHost), async, force, handler);
}

CTarvixNamedPipeComm::CTarvixNamedPipeComm(CMyLog* contextLog, uint32_t ownAppType,
                                           uint32_t requiredBits, uint32_t flags,
                                           uint32_t defaultTimeLimitMs, bool ownsContextLog)
    : CTarvixPipeCommT(host::CConnectionManager::kNamedPipe, contextLog, ownAppType, requiredBits,
                       flags, defaultTimeLimitMs, ownsContextLog) {
  Dispatcher().SetPipeName(tarvixlib::comm::kServicePipeName);
}

CSimpleTarvixComm::CSimpleTarvixComm(const char* host, uint32_t ownAppType, uint32_t requiredBits,
                                     uint32_t flags, uint32_t defaultTimeLimitMs,
                                     CMyLog* contextLog)
    : CTarvixNamedPipeComm(contextLog ? contextLog : new (std::nothrow) CMyDummyLog(), ownAppType,
                           requiredBits, flags, defaultTimeLimitMs,
                           /*ownsContextLog=*/true),
      host_(host && *host ? host : tarvixlib::comm::kLocalHost),
      pipeLog_(this, &SendLogCommand) {}

CSimpleTarvixComm::~CSimpleTarvixComm() {
  Dispatcher().Shutdown();
  pipeLog_.SetSendFunction(nullptr, nullptr);  // nothing leaves once unloading began
}

int32_t CSimpleTarvixComm::SendLogCommand(void* client, CTarvixPipeCommand& command) {
  static_cast<CSimpleTarvixComm*>(client)->SendNow(command, tarvixlib::comm::kLocalHost, false,
                                                   &tarvixlib::comm::FailureHandler());
  return command.GetReturnCode();
}

SendResult CSimpleTarvixComm::SendLocal(CTarvixPipeCommand& command, bool force,
                                        CConnectionFailureHandler* handler) {
  return SendNow(command, host_.GetString(), force, handler);
}

SendResult CSimpleTarvixComm::SendTo(CTarvixPipeCommand& command, bool async, bool force,
                                     CConnectionFailureHandler* handler) {
  return CTarvixPipeCommT::SendTo(command, host_.GetString(), async, force, handler);
}

}  // namespace comm
}  // namespace commands
}  // namespace tarvixlib
