// Server sessions: a thread that serves one connection. The add-in's
// listener is one: after the service took a connection as the add-in's
// listener, the service writes commands on it and this side answers.
//
//   CTarvixPipeServer          thread + session + connect/session events
//   CTarvixPipeCommandSession  serves command lines through a command set
//
// The thread body clears the session variables, runs the serve step under
// a guard against structured exceptions (reported to the session's log),
// and closes the connection without saying goodbye. The serve loop ends
// when "${STOP}" or "${DETACH}" is "yes" or when a line cannot be read (the
// connection closed, broke, or stayed silent past its I/O time limit).
#pragma once

#include <atomic>
#include <cstdint>

#include "comm/session.h"
#include "commands/commandset.h"
#include "commands/events.h"
#include "foundation/threads.h"
#include "logging/mylog.h"

namespace tarvixlib {

struct CSessionEvent {
  enum Kind { kOpened, kClosed } kind;
  int32_t sessionId;
};
struct CClientConnectEvent {
  const char* peerName;
};

constexpr const char* kStopVariable = "${STOP}";
constexpr const char* kDetachVariable = "${DETACH}";

class CTarvixPipeServer : public CWorkThread,
                          public comm::CTarvixSession,
                          public CMyEventSource<CSessionEvent>,
                          public CMyEventSource<CClientConnectEvent> {
public:
  enum State : uint32_t { kCreated = 0, kServing = 1, kDetached = 2, kEnded = 3 };

  CTarvixPipeServer(CMyLog* log, uint32_t appType, const char* name, uint32_t stopTimeoutMs);
  ~CTarvixPipeServer() override;

  unsigned Run() override;
  // Serves the connection until the loop ends.
  virtual void Serve() = 0;

  State GetState() const { return state_.load(); }
  uint32_t AppType() const { return appType_; }
  const char* Name() const { return name_.GetString(); }
  CMyLog* Log() const { return log_; }

protected:
  void SetState(State state) { state_.store(state); }

private:
  CMyLog* log_;
  std::atomic<State> state_{kCreated};
  uint32_t appType_;
  CMyStringA name_;
};

namespace commands {

class CTarvixPipeCommandSession : public CTarvixPipeServer {
public:
  static constexpr size_t kMaxLine = 4096;

  // commands is not owned. handshake: run the server handshake first.
  // answerUnknown: answer unknown commands with 101.
  CTarvixPipeCommandSession(CMyLog* log, uint32_t appType, const char* name, CCommandSet* commands,
                            bool handshake, bool answerUnknown, uint32_t stopTimeoutMs,
                            CMyLog* commandLog = nullptr);
  ~CTarvixPipeCommandSession() override;

  void Serve() override;

  // Requests served, for observers and tests.
  uint32_t Served() const { return served_.load(); }
  // The connection a "${DETACH}" left open (after the thread ended).
  [[nodiscard]] comm::CUniqueConnection TakeDetached() { return std::move(detached_); }

private:
  comm::CUniqueConnection detached_;
  CCommandSet* commands_;
  bool handshake_;
  bool answerUnknown_;
  CMyLog* commandLog_;
  std::atomic<uint32_t> served_{0};
};

}  // namespace commands
}  // namespace tarvixlib
