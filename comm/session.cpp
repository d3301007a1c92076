#include "comm/session.h"

#include "commands/command.h"
#include "commands/commandset.h"

namespace tarvixlib {
namespace comm {

CTarvixSession::CTarvixSession(bool polite, bool socket)
    : CTarvixConnection(socket),
      sessionId_(commands::NextCommandId()),
      politeClose_(polite ? 1 : 0) {}

CTarvixSession::~CTarvixSession() {
  if (IsOpen()) Close();
}

void CTarvixSession::Close() { Close(politeClose_ != 0); }

void CTarvixSession::Close(bool polite) {
  if (polite && IsEstablished()) {
    commands::CCloseConnectionCommand goodbye;
    BeginExchange();
    goodbye.Send(ReadStream(), WriteStream(), this);
    EndExchange();
  }
  established_ = false;
  CTarvixConnection::Close();
}

bool CTarvixSession::OpenPipe(const char* host, const char* pipeName,
                              const ConnectParams& params) {
  established_ = false;
  established_ = CTarvixConnection::OpenPipe(host, pipeName, params);
  return established_;
}

bool CTarvixSession::OpenSocket(const char* host, uint16_t port, const ConnectParams& params) {
  established_ = false;
  established_ = CTarvixConnection::OpenSocket(host, port, params);
  return established_;
}

ServerHandshakeResult CTarvixSession::ServerHandshake(uint32_t ownAppType) {
  ServerHandshakeResult result = CTarvixConnection::ServerHandshake(ownAppType);
  established_ = result == ServerHandshakeResult::kOk;
  return result;
}

void CTarvixSession::AttachEstablished(CUniqueConnection handle,
                                       const CTarvixConnectionContext& peer, HANDLE event,
                                       uint32_t timeLimitMs, const std::atomic<bool>* cancelFlag) {
  Attach(std::move(handle), event, timeLimitMs, cancelFlag);
  static_cast<CTarvixConnectionContext&>(*this) = peer;
  established_ = IsOpen();
}

}  // namespace comm
}  // namespace tarvixlib
