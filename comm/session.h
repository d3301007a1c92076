// A session: one connection plus what commands run on it need, its session
// variables, its number and a parameter store. Commands sent or served on a
// session use the session itself as reader, writer and context.
//
// A polite session says goodbye before it closes: it sends CLOSE_CONNECTION
// first. It does so only on an established connection (the handshake
// passed, or a kept connection was attached): saying goodbye to a peer that
// failed the handshake would wait for a reply that never comes.
#pragma once

#include "comm/tarvixpipe.h"
#include "commands/context.h"
#include "commands/params.h"

namespace tarvixlib {
namespace comm {

// The session variables.
using CSettingsStore = commands::CCommandContext;

class CTarvixSession : public CTarvixConnection, public CSettingsStore {
public:
  explicit CTarvixSession(bool polite, bool socket = false);
  // Closes an open connection (politely when so configured).
  ~CTarvixSession() override;

  // Close with the configured politeness.
  void Close() override;
  virtual void Close(bool polite);

  // The connection's opening with the retry rules and the handshake; on
  // success the connection counts as established.
  bool OpenPipe(const char* host, const char* pipeName, const ConnectParams& params);
  bool OpenSocket(const char* host, uint16_t port, const ConnectParams& params);
  ServerHandshakeResult ServerHandshake(uint32_t ownAppType);
  // Takes a handle that is already past its handshake (a kept connection),
  // with the peer identity it had.
  void AttachEstablished(CUniqueConnection handle, const CTarvixConnectionContext& peer,
                         HANDLE event, uint32_t timeLimitMs,
                         const std::atomic<bool>* cancelFlag = nullptr);
  // Hands the handle out (it stays open, kept elsewhere).
  [[nodiscard]] CUniqueConnection Detach() {
    established_ = false;
    return TarvixPipe::Detach();
  }
  bool IsEstablished() const { return established_ && IsOpen(); }

  int32_t SessionId() const { return sessionId_; }
  bool IsPolite() const { return politeClose_ != 0; }
  void SetPolite(bool polite) { politeClose_ = polite ? 1 : 0; }
  commands::CParameterStore& Parameters() { return parameters_; }

  // The connection as the command context reports it.
  uint32_t IoTimeLimit() const override { return TarvixPipe::IoTimeLimit(); }
  platform::FileHandle PipeHandle() const override { return Handle(); }

  // Reading and writing go through the connection's two streams.
  CMyStream& Reader() { return ReadStream(); }
  CMyStream& Writer() { return WriteStream(); }

private:
  int32_t sessionId_;
  uint8_t politeClose_;
  bool established_ = false;
  commands::CParameterStore parameters_;
};

}  // namespace comm
}  // namespace tarvixlib
