// One connection to the security service: a named pipe (or a TCP socket)
// with overlapped read and write streams, the identity handshake and the
// peer's identity (Windows only).
//
//   TarvixPipe          the handle, its two streams, the current event
//   CTarvixConnection   + opening with the retry rules and the handshake
//
// Every read or write waits for its completion and for the current event,
// at most the I/O time limit; a time-out or a signalled event cancels the
// transfer, which then moves nothing (the caller sees a failure). Another
// thread may end every wait on a connection by signalling its current
// event; Close does so itself before it closes the handle.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "comm/handshake.h"
#include "foundation/mystream.h"

class TarvixPipe {
public:
  static constexpr uint32_t kDefaultIoTimeLimit = 300000;
  static constexpr size_t kDefaultBufferSize = 32768;

  explicit TarvixPipe(bool socket = false);
  virtual ~TarvixPipe();  // closes the own event, never the handle
  // Signals the current event (waking every wait), then closes the handle.
  virtual void Close();

  TarvixPipe(const TarvixPipe&) = delete;
  TarvixPipe& operator=(const TarvixPipe&) = delete;

  // Takes `handle` (closing a different current one), uses `event` as the
  // current event (none: the own event, reset), replaces the I/O time limit
  // when `timeLimitMs` is not 0, and points both streams at them with their
  // buffers cleared. cancelFlag, when given, is set before `event` is ever
  // signalled (see CMyStreamOLWin): transfers that complete at once then
  // need no kernel call to rule out a cancel.
  void Attach(HANDLE handle, HANDLE event, uint32_t timeLimitMs,
              const std::atomic<bool>* cancelFlag = nullptr);
  // Hands the handle out; nothing is closed.
  HANDLE Detach();
  // Takes the other pipe's handle and event; the other pipe keeps nothing.
  void TakeOver(TarvixPipe& other);
  bool SetBufferSizes(size_t readSize, size_t writeSize);

  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Handle() const { return handle_; }
  HANDLE CurrentEvent() const { return currentEvent_; }
  HANDLE OwnEvent() const { return ownEvent_; }
  uint32_t IoTimeLimit() const { return ioTimeLimit_; }
  void SetIoTimeLimit(uint32_t ms);
  bool HostAnswered() const { return hostAnswered_ != 0; }
  bool IsSocket() const { return socket_; }
  tarvixlib::CMyStream& ReadStream() { return readStream_; }
  tarvixlib::CMyStream& WriteStream() { return writeStream_; }

protected:
  HANDLE currentEvent_ = INVALID_HANDLE_VALUE;
  HANDLE ownEvent_ = nullptr;
  uint32_t ioTimeLimit_ = kDefaultIoTimeLimit;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  uint8_t hostAnswered_ = 0;
  bool socket_;
  tarvixlib::CMyStreamOLWin readStream_;
  tarvixlib::CMyStreamOLWin writeStream_;
};

namespace tarvixlib {
namespace comm {

// This computer's identity record for the given parameters.
void BuildOwnIdentityRecord(const ConnectParams& params, IdentityRecord& record);
// The host text to show for a connection: unchanged when it contains "."
// and the character after the last "." is not a digit ("." stays "."),
// otherwise the name its first address resolves back to, or the text
// unchanged when that fails.
CMyStringA DisplayHostName(const char* host);
// The pipe path "\\<host>\pipe\<name>" (defaults "." and "TarvixPipe").
CMyStringA PipePath(const char* host, const char* pipeName);

class CTarvixConnection : public TarvixPipe, public CTarvixConnectionContext {
public:
  static constexpr uint32_t kDefaultConnectTimeLimit = 5000;
  static constexpr uint32_t kPipeWaitMs = 100;
  static constexpr uint32_t kPipeAttemptBudgetMs = 500;  // five attempts

  explicit CTarvixConnection(bool socket = false) : TarvixPipe(socket) {}

  // Opens "\\host\pipe\name" with up to five attempts and runs the client
  // handshake. The pipe is opened for identification only: the server may
  // learn who we are but cannot act as us.
  bool OpenPipe(const char* host, const char* pipeName, const ConnectParams& params);
  // The TCP variant: connects to the host's first IPv4 address.
  bool OpenSocket(const char* host, uint16_t port, const ConnectParams& params);
  // 0 or a negative step code (see handshake.h).
  int ClientHandshake(const ConnectParams& params);
  int ServerHandshake(uint32_t ownAppType);

  HANDLE CancelEvent() const { return cancelEvent_; }
  void SetCancelEvent(HANDLE event) { cancelEvent_ = event; }
  uint32_t ConnectTimeLimit() const { return connectTimeLimit_; }
  void SetConnectTimeLimit(uint32_t ms) { connectTimeLimit_ = ms; }
  // WaitNamedPipe calls made by the last OpenPipe.
  uint32_t LastOpenAttempts() const { return lastOpenAttempts_; }

private:
  bool Cancelled() const;

  HANDLE cancelEvent_ = INVALID_HANDLE_VALUE;
  uint32_t connectTimeLimit_ = kDefaultConnectTimeLimit;
  uint32_t lastOpenAttempts_ = 0;
};

}  // namespace comm
}  // namespace tarvixlib
