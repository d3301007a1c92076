#include "comm/server.h"

#include <windows.h>

#include <csetjmp>

namespace tarvixlib {
namespace {

// The guard against structured exceptions of a serve step. g++ has no
// __try/__except, so a vectored handler jumps back to the guarded frame of
// the faulting thread; what lay between is abandoned, not unwound.
struct ExceptionGuard {
  jmp_buf resume;
  DWORD code = 0;
};
thread_local ExceptionGuard* t_guard = nullptr;

bool IsFault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_STACK_OVERFLOW:
      return true;
    default:
      return false;
  }
}

LONG CALLBACK GuardHandler(EXCEPTION_POINTERS* info) {
  ExceptionGuard* guard = t_guard;
  if (!guard || !IsFault(info->ExceptionRecord->ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
  guard->code = info->ExceptionRecord->ExceptionCode;
  t_guard = nullptr;
  __builtin_longjmp(reinterpret_cast<void**>(guard->resume), 1);
}

void InstallGuardHandler() {
  static PVOID handler = AddVectoredExceptionHandler(1, GuardHandler);
  (void)handler;
}

}  // namespace

CTarvixPipeServer::CTarvixPipeServer(CMyLog* log, uint32_t appType, const char* name,
                                     uint32_t stopTimeoutMs)
    : CWorkThread(stopTimeoutMs), comm::CTarvixSession(false), log_(log), appType_(appType),
      name_(name) {}

CTarvixPipeServer::~CTarvixPipeServer() { Stop(); }

unsigned CTarvixPipeServer::Run() {
  InstallGuardHandler();
  ExceptionGuard guard;
  if (__builtin_setjmp(reinterpret_cast<void**>(guard.resume)) == 0) {
    t_guard = &guard;
    ClearVariables();
    Serve();
    t_guard = nullptr;
  } else if (log_) {
    log_->Log(kLogAlert, "Exception(%lu) in %s", static_cast<unsigned long>(guard.code),
              "virtual unsigned int tarvixlib::CTarvixPipeServer::Run()");
  }
  Close(false);
  return 0;
}

namespace commands {

CTarvixPipeCommandSession::CTarvixPipeCommandSession(CMyLog* log, uint32_t appType,
                                                     const char* name, CCommandSet* commands,
                                                     bool handshake, bool answerUnknown,
                                                     uint32_t stopTimeoutMs, CMyLog* commandLog)
    : CTarvixPipeServer(log, appType, name, stopTimeoutMs), commands_(commands),
      handshake_(handshake), answerUnknown_(answerUnknown), commandLog_(commandLog) {}

CTarvixPipeCommandSession::~CTarvixPipeCommandSession() { Stop(); }

void CTarvixPipeCommandSession::Serve() {
  SetState(kServing);
  if (handshake_ && ServerHandshake(AppType()) != comm::ServerHandshakeResult::kOk) {
    SetState(kEnded);
    return;
  }
  CMyEventSource<CClientConnectEvent>::Fire(CClientConnectEvent{PeerDisplayName()});
  CMyEventSource<CSessionEvent>::Fire(CSessionEvent{CSessionEvent::kOpened, SessionId()});

  char line[kMaxLine];
  while (!IsYes(kStopVariable) && !IsYes(kDetachVariable)) {
    if (Reader().ReadLine(line, true, sizeof line) < 0) break;
    if (!commands_) continue;
    ServeResult result = commands_->Dispatch(line, Reader(), Writer(), this, answerUnknown_);
    ++served_;
    if (result == ServeResult::kTransportFailed) break;
  }
  if (IsYes(kDetachVariable)) {
    detached_ = Detach();  // kept for whoever asked for it
    SetState(kDetached);
  } else {
    SetState(kEnded);
    CMyEventSource<CSessionEvent>::Fire(CSessionEvent{CSessionEvent::kClosed, SessionId()});
  }
}

}  // namespace commands
}  // namespace tarvixlib
