#include "comm/connections.h"

#include <new>
#include <string>

#include "foundation/asciitext.h"

namespace tarvixlib {

CStoredConnection::CStoredConnection(const comm::CTarvixConnectionContext& peer,
                                     comm::CUniqueConnection handle, CMyTransferableLock& lock)
    : comm::CTarvixConnectionContext(peer), CMyTransferableLock(lock), handle_(std::move(handle)) {}

CConnectionStore::CConnectionStore()
    : connections_(kBuckets, /*exactCase=*/false, /*owned=*/false) {}

CConnectionStore::~CConnectionStore() {
  for (CMyHashEntry* e = connections_.First(); e; e = connections_.Next(e))
    delete connections_.ValueOf(e);
  connections_.Clear();
}

CMyStringA CConnectionStore::Key(const char* host) {
  std::string lower(host ? host : "");
  AsciiLowerInPlace(lower.data(), lower.size());
  return CMyStringA(lower.c_str());
}

bool CConnectionStore::StoreConnection(const char* host, const comm::CTarvixConnectionContext& peer,
                                       comm::CUniqueConnection& handle, CMyTransferableLock& lock) {
  CMyStringA key = Key(host);
  bool stored = false;
  {
    CMySynchronizedBlock<CMyThreadSave> hold(lock_);
    if (!connections_.Contains(key.GetString())) {
      CStoredConnection* entry =
          new (std::nothrow) CStoredConnection(peer, comm::CUniqueConnection(), lock);
      if (entry && connections_.Insert(key.GetString(), entry)) {
        entry->GiveBack(std::move(handle));
        stored = true;
      } else {
        delete entry;
      }
    }
  }
  Fire(CConnectionEvent{CConnectionEvent::kStored, key.GetString()});
  return stored;
}

CStoredConnection* CConnectionStore::FindConnection(const char* host, bool acquire,
                                                    platform::OsHandle cancel) {
  CMyStringA key = Key(host);
  CStoredConnection* entry = nullptr;
  {
    CMySynchronizedBlock<CMyThreadSave> hold(lock_);
    if (!connections_.Get(key.GetString(), &entry) || !entry) return nullptr;
    ++entry->references_;
  }
  if (acquire && !entry->Acquire(cancel)) {
    ReturnConnection(entry);
    return nullptr;
  }
  return entry;
}

void CConnectionStore::ReturnConnection(CStoredConnection* connection) {
  if (!connection) return;
  CMySynchronizedBlock<CMyThreadSave> hold(lock_);
  Unreference(connection);
}

void CConnectionStore::Unreference(CStoredConnection* connection) {
  if (--connection->references_ <= 0 && connection->removed_) delete connection;
}

bool CConnectionStore::RemoveConnection(const char* host, CStoredConnection* only) {
  CMyStringA key = Key(host);
  {
    CMySynchronizedBlock<CMyThreadSave> hold(lock_);
    CStoredConnection* entry = nullptr;
    if (!connections_.Get(key.GetString(), &entry)) return false;
    if (only && entry != only) return false;
    connections_.Remove(key.GetString());
    entry->removed_ = true;
    if (entry->references_ <= 0) delete entry;
  }
  Fire(CConnectionEvent{CConnectionEvent::kRemoved, key.GetString()});
  return true;
}

size_t CConnectionStore::TakeAll(CStoredConnection** out, size_t capacity) {
  size_t n = 0;
  CMySynchronizedBlock<CMyThreadSave> hold(lock_);
  while (n < capacity) {
    CMyHashEntry* e = connections_.First();
    if (!e) break;
    CStoredConnection* entry = connections_.ValueOf(e);
    connections_.Remove(connections_.KeyOf(e));
    entry->removed_ = true;
    ++entry->references_;
    out[n++] = entry;
  }
  return n;
}

size_t CConnectionStore::Count() {
  CMySynchronizedBlock<CMyThreadSave> hold(lock_);
  return connections_.Count();
}

namespace commands {
namespace comm {
namespace host {

const char* SendResultName(SendResult result) {
  switch (result) {
    case SendResult::kOk: return "sent";
    case SendResult::kFailed: return "exchange failed";
    case SendResult::kNoConnection: return "host not reachable";
    case SendResult::kHostReachable: return "no service on the host";
    case SendResult::kHostAnswered: return "host answered, no connection";
    case SendResult::kWrongPeer: return "peer is not a service";
  }
  return "?";
}

CConnectionManager::CConnectionManager(int transport)
    : transport_(transport), reachable_(kBuckets, /*exactCase=*/false) {}

CConnectionManager::~CConnectionManager() = default;

void CConnectionManager::ReportAttempt(const char* host, time_t when, SendResult result) {
  if (!host) host = "";
  bool reachable = result == SendResult::kOk || result == SendResult::kFailed ||
                   result == SendResult::kHostReachable;
  bool unreachable = result == SendResult::kNoConnection || result == SendResult::kHostAnswered;
  if (reachable || unreachable)
    reachability_.Fire(tarvixlib::comm::CClientUnreachableEvent{host, when, reachable ? 1u : 0u});
  CMySynchronizedBlock<CMyThreadSave> hold(lock_);
  if (reachable)
    reachable_.Set(host, 0);
  else if (unreachable || result == SendResult::kWrongPeer)
    reachable_.Remove(host);
}

bool CConnectionManager::IsKnownReachable(const char* host) {
  CMySynchronizedBlock<CMyThreadSave> hold(lock_);
  return host && reachable_.Contains(host);
}

}  // namespace host
}  // namespace comm
}  // namespace commands
}  // namespace tarvixlib
