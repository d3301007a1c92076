// Kept connections: one open, handshaken connection per host, handed to one
// sending thread at a time by its transferable lock, and the manager that
// also remembers which hosts answered.
//
// The store's lock guards only its table and is never held while a thread
// waits for a connection's lock. An entry found by FindConnection carries a
// reference for the finder; RemoveConnection takes the entry out of the
// table at once, but the object lives on until the last finder gave its
// reference back with ReturnConnection, so that a thread that found it just
// before it was removed never touches freed memory.
#pragma once

#include <cstdint>
#include <ctime>

#include "comm/connectionhandle.h"
#include "comm/handshake.h"
#include "comm/transferablelock.h"
#include "commands/events.h"
#include "foundation/hashtable.h"
#include "foundation/mystring.h"
#include "foundation/threads.h"

namespace tarvixlib {

// A connection was stored (kind 0) or removed (kind 1).
struct CConnectionEvent {
  static constexpr int kStored = 0;
  static constexpr int kRemoved = 1;
  int kind;
  const char* host;
};

// An open connection while no command uses it: the peer's identity, the
// lock that hands it to one thread at a time, and its handle. The thread
// that holds the lock takes the handle out for its exchange and gives it
// back afterwards; a handle that is not given back was closed by its user.
class CStoredConnection : public comm::CTarvixConnectionContext, public CMyTransferableLock {
public:
  // Takes over `lock`'s state (owner, count, events) and the handle.
  CStoredConnection(const comm::CTarvixConnectionContext& peer, comm::CUniqueConnection handle,
                    CMyTransferableLock& lock);
  // The handle's value (the invalid one while a sender has it).
  platform::FileHandle Handle() const { return handle_.Get().value; }
  bool HasHandle() const { return handle_.IsValid(); }
  // For the lock's owner: the handle for its exchange, and back.
  [[nodiscard]] comm::CUniqueConnection TakeHandle() { return std::move(handle_); }
  void GiveBack(comm::CUniqueConnection handle) { handle_ = std::move(handle); }
  // The connection is of no further use: a handle still here is closed,
  // and so is the lock (every waiter fails).
  void Forget() {
    handle_.Reset();
    CloseLock();
  }

private:
  friend class CConnectionStore;
  comm::CUniqueConnection handle_;
  int references_ = 0;  // finders holding it, under the store's lock
  bool removed_ = false;
};

class CConnectionStore : public CMyEventSource<CConnectionEvent> {
public:
  static constexpr uint32_t kBuckets = 1024;

  CConnectionStore();
  ~CConnectionStore() override;

  // Keeps a connection for the host (names are lower-cased and compared
  // without regard to case), taking `handle` and `lock`'s state. A host
  // that has one keeps it: the new one is not added, `handle` stays with
  // the caller and false is returned. Fires "stored" either way.
  virtual bool StoreConnection(const char* host, const comm::CTarvixConnectionContext& peer,
                               comm::CUniqueConnection& handle, CMyTransferableLock& lock);
  // The host's connection with a reference for the caller, or null. With
  // acquire, its lock is taken first, waiting until the holder lets go: a
  // holder's exchange is bounded (see CExchangeClock), and when it fails
  // the connection is dropped and its lock closed, which fails every
  // waiter at once. A signalled `cancel` ends the wait as a failure too.
  virtual CStoredConnection* FindConnection(const char* host, bool acquire,
                                            platform::OsHandle cancel = nullptr);
  // Gives back a reference from FindConnection.
  virtual void ReturnConnection(CStoredConnection* connection);
  // Takes the host's connection out of the store and fires "removed".
  // With `only`, nothing happens unless that is the host's connection (a
  // sender dropping its stale connection must not drop a fresh one that
  // another sender stored meanwhile).
  virtual bool RemoveConnection(const char* host, CStoredConnection* only = nullptr);
  // Takes every connection out, for the caller to close: each comes with a
  // reference that the caller gives back. Returns how many were put into
  // `out` (at most `capacity`; call again while it returns capacity).
  size_t TakeAll(CStoredConnection** out, size_t capacity);

  size_t Count();

private:
  static CMyStringA Key(const char* host);
  void Unreference(CStoredConnection* connection);  // under lock_

  CMyThreadSave lock_;
  CMyObjectHashTableT<const char*, CStoredConnection> connections_;
};

namespace comm {

// The outcome of an attempt to reach a host.
struct CClientUnreachableEvent {
  const char* host;
  time_t time;        // of the attempt, seconds since 1970
  uint32_t reachable; // 1 or 0
};

}  // namespace comm

namespace commands {
namespace comm {
namespace host {

// Results of one dispatcher send, reported per host.
enum class SendResult : int32_t {
  kOk = 0,
  kFailed = -1,         // the exchange failed
  kNoConnection = -2,   // nobody answered
  kHostReachable = -3,  // no service, but the host is there
  kHostAnswered = -4,   // the host answered but gave no connection
  kWrongPeer = 1,       // the peer is not of the required type
};
// A short text for logs and tests ("sent", "exchange failed", ...).
const char* SendResultName(SendResult result);

// The kept connections of one client, the hosts that answered, and the
// reachability events.
class CConnectionManager : public CConnectionStore {
public:
  static constexpr int kNamedPipe = 0;

  explicit CConnectionManager(int transport);
  ~CConnectionManager() override;

  int Transport() const { return transport_; }

  // Fires the reachability event and updates the reachable-host table:
  // kOk, kFailed, kHostReachable reachable; kNoConnection, kHostAnswered
  // not; kWrongPeer only drops the host from the table.
  void ReportAttempt(const char* host, time_t when, SendResult result);
  // Whether the last attempt found the host reachable.
  bool IsKnownReachable(const char* host);

  void AddObserver(CMyObserver<tarvixlib::comm::CClientUnreachableEvent>* observer) {
    reachability_.AddObserver(observer);
  }
  void RemoveObserver(CMyObserver<tarvixlib::comm::CClientUnreachableEvent>* observer) {
    reachability_.RemoveObserver(observer);
  }
  void AddObserver(CMyObserver<CConnectionEvent>* observer) {
    CConnectionStore::AddObserver(observer);
  }
  void RemoveObserver(CMyObserver<CConnectionEvent>* observer) {
    CConnectionStore::RemoveObserver(observer);
  }

private:
  int transport_;
  CMyEventSource<tarvixlib::comm::CClientUnreachableEvent> reachability_;
  CMyThreadSave lock_;
  CMyHashTableT<const char*, uint32_t> reachable_;
};

}  // namespace host
}  // namespace comm
}  // namespace commands
}  // namespace tarvixlib
