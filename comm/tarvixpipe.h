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
//
// An exchange as a whole is bounded as well (CExchangeClock): a peer that
// sends one byte just before each I/O limit runs out would otherwise keep
// the caller for ever.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "comm/connectionhandle.h"
#include "comm/handshake.h"
#include "foundation/mystream.h"
#include "foundation/winhandles.h"

namespace tarvixlib {
namespace comm {

// The time one exchange may take in all (the client's request and the
// service's reply, or the identity handshake):
//
//   the I/O time limit  +  one second per floor rate of bytes moved
//
// The I/O limit covers the status line, the parameter lines and the peer's
// pause to think (a scan); every byte moved, in either direction, earns
// time at the floor rate (1 MiB/s by default; a local pipe moves hundreds),
// so that DATA blocks of any size may take as long as that rate needs.
// Each transfer waits at most its own I/O limit and never past the end of
// the exchange, so a peer that trickles one byte per pause is cut off once
// the I/O limit has passed. Once an exchange has run out every further
// transfer fails at once.
class CExchangeClock {
public:
  static constexpr uint32_t kDefaultFloorBytesPerSecond = 1u << 20;

  // Starts an exchange allowed `limitMs` plus the floor credit; the
  // infinite limit (0xFFFFFFFF) leaves it unbounded.
  void Start(uint32_t limitMs);
  void Stop() { running_ = false; }
  bool Running() const { return running_; }

  // How long the next transfer may wait: `transferLimitMs`, or what is left
  // of the exchange when that is less; 0 once the exchange has run out.
  uint32_t Allow(uint32_t transferLimitMs);
  // Bytes a transfer moved (they earn credit).
  void Moved(size_t bytes) { moved_ += bytes; }
  // A transfer gave up waiting (its own limit or the exchange's end).
  void NoteTimeout() { timedOut_ = true; }
  // Whether the exchange ran out of time or one of its transfers did.
  bool TimedOut() const { return timedOut_; }

  uint32_t FloorRate() const { return floorBytesPerSecond_; }
  void SetFloorRate(uint32_t bytesPerSecond) {
    floorBytesPerSecond_ = bytesPerSecond ? bytesPerSecond : 1;
  }

private:
  bool running_ = false;
  bool timedOut_ = false;
  uint64_t start_ = 0;
  uint32_t limitMs_ = 0;
  uint64_t moved_ = 0;
  uint32_t floorBytesPerSecond_ = kDefaultFloorBytesPerSecond;
};

// One direction of a connection: the overlapped stream, with each transfer
// held to the connection's exchange clock.
class CExchangeStream : public CMyStreamOLWin {
public:
  explicit CExchangeStream(CExchangeClock& clock);
  size_t Read(void* buffer, size_t length) override;
  size_t Write(const void* data, size_t length) override;
  // The I/O limit of every transfer.
  void SetTransferLimit(uint32_t ms);

private:
  CExchangeClock& clock_;
  uint32_t limit_;
};

}  // namespace comm
}  // namespace tarvixlib

class TarvixPipe {
public:
  static constexpr uint32_t kDefaultIoTimeLimit = 300000;
  static constexpr size_t kDefaultBufferSize = 32768;

  explicit TarvixPipe(bool socket = false);
  // Closes the own event, and a handle still held: nobody else owns it.
  virtual ~TarvixPipe();
  // Signals the current event (waking every wait), then closes the handle.
  virtual void Close();
  // From another thread: wakes every wait of the thread that owns the
  // connection, whose reads and writes then fail; that thread closes it.
  // For a connection on its own event (a shared one is left alone).
  void Interrupt();

  TarvixPipe(const TarvixPipe&) = delete;
  TarvixPipe& operator=(const TarvixPipe&) = delete;

  // Takes `handle` when it holds one (closing the current one first), uses
  // `event` as the current event (none: the own event, reset), replaces the
  // I/O time limit when `timeLimitMs` is not 0, and points both streams at
  // them with their buffers cleared. An empty `handle` keeps the current
  // one. cancelFlag, when given, is set before `event` is ever signalled
  // (see CMyStreamOLWin): transfers that complete at once then need no
  // kernel call to rule out a cancel.
  void Attach(tarvixlib::comm::CUniqueConnection handle, HANDLE event, uint32_t timeLimitMs,
              const std::atomic<bool>* cancelFlag = nullptr);
  // Hands the handle out; nothing is closed.
  [[nodiscard]] tarvixlib::comm::CUniqueConnection Detach();
  // Takes the other pipe's handle and event; the other pipe keeps nothing.
  void TakeOver(TarvixPipe& other);
  bool SetBufferSizes(size_t readSize, size_t writeSize);

  bool IsOpen() const { return handle_.IsValid(); }
  tarvixlib::platform::FileHandle Handle() const { return handle_.Get().value; }
  HANDLE CurrentEvent() const { return currentEvent_; }
  HANDLE OwnEvent() const { return ownEvent_.Get(); }
  uint32_t IoTimeLimit() const { return ioTimeLimit_; }
  void SetIoTimeLimit(uint32_t ms);
  bool HostAnswered() const { return hostAnswered_ != 0; }
  bool IsSocket() const { return socket_; }
  tarvixlib::CMyStream& ReadStream() { return readStream_; }
  tarvixlib::CMyStream& WriteStream() { return writeStream_; }

  // One exchange on this connection, bounded by the I/O time limit plus the
  // floor credit (see CExchangeClock).
  void BeginExchange() { clock_.Start(ioTimeLimit_); }
  void EndExchange() { clock_.Stop(); }
  tarvixlib::comm::CExchangeClock& Exchange() { return clock_; }

protected:
  HANDLE currentEvent_ = INVALID_HANDLE_VALUE;
  tarvixlib::CUniqueHandle ownEvent_;
  uint32_t ioTimeLimit_ = kDefaultIoTimeLimit;
  tarvixlib::comm::CUniqueConnection handle_;
  uint8_t hostAnswered_ = 0;
  bool socket_;
  tarvixlib::comm::CExchangeClock clock_;
  tarvixlib::comm::CExchangeStream readStream_;
  tarvixlib::comm::CExchangeStream writeStream_;
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
  // Both are one exchange each, bounded as CExchangeClock says.
  HandshakeResult ClientHandshake(const ConnectParams& params);
  ServerHandshakeResult ServerHandshake(uint32_t ownAppType);

  HANDLE CancelEvent() const { return cancelEvent_; }
  void SetCancelEvent(HANDLE event) { cancelEvent_ = event; }
  // Whether the cancel event is signalled (a test that does not wait).
  bool Cancelled() const;
  uint32_t ConnectTimeLimit() const { return connectTimeLimit_; }
  void SetConnectTimeLimit(uint32_t ms) { connectTimeLimit_ = ms; }
  // WaitNamedPipe calls made by the last OpenPipe.
  uint32_t LastOpenAttempts() const { return lastOpenAttempts_; }

private:
  HANDLE cancelEvent_ = INVALID_HANDLE_VALUE;
  uint32_t connectTimeLimit_ = kDefaultConnectTimeLimit;
  uint32_t lastOpenAttempts_ = 0;
};

}  // namespace comm
}  // namespace tarvixlib
