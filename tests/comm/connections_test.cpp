// Kept connections: one per host whatever the letter case, handed to one
// thread at a time, dropped under waiters without freeing what they hold,
// and the reachable-host table.
#include "comm/connections.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace tarvixlib {
namespace {

using commands::comm::host::CConnectionManager;

struct EventLog : CMyObserver<CConnectionEvent> {
  void OnEvent(CMyEventSource<CConnectionEvent>&, const CConnectionEvent& e) override {
    seen.push_back((e.kind == CConnectionEvent::kStored ? "stored " : "removed ") +
                   std::string(e.host));
  }
  std::vector<std::string> seen;
};

struct ReachLog : CMyObserver<comm::CClientUnreachableEvent> {
  void OnEvent(CMyEventSource<comm::CClientUnreachableEvent>&,
               const comm::CClientUnreachableEvent& e) override {
    seen.push_back(std::string(e.host) + (e.reachable ? " up" : " down"));
  }
  std::vector<std::string> seen;
};

// Made-up handle values stand for connections here; the closer only counts
// them, so none of them reaches the system.
std::vector<intptr_t>* g_closed = nullptr;
void CountClose(const comm::ConnectionHandle& h) {
  if (g_closed) g_closed->push_back(reinterpret_cast<intptr_t>(h.value));
}
struct FakeHandles {
  FakeHandles() : previous(comm::SetConnectionCloser(&CountClose)) { g_closed = &closed; }
  ~FakeHandles() {
    comm::SetConnectionCloser(previous);
    g_closed = nullptr;
  }
  std::vector<intptr_t> closed;
  comm::ConnectionCloser previous;
};

comm::CUniqueConnection Fake(intptr_t value) {
  return comm::OwnPipe(reinterpret_cast<platform::FileHandle>(value));
}
intptr_t ValueOf(const CStoredConnection* c) { return reinterpret_cast<intptr_t>(c->Handle()); }

bool Store(CConnectionStore& store, const char* host, intptr_t handle) {
  comm::CTarvixConnectionContext peer;
  CMyTransferableLock lock(false);
  comm::CUniqueConnection h = Fake(handle);
  return store.StoreConnection(host, peer, h, lock);
}

TEST(ConnectionStore, OneConnectionPerHostWhateverTheCase) {
  FakeHandles fakes;
  CConnectionStore store;
  EventLog events;
  store.AddObserver(&events);
  EXPECT_TRUE(Store(store, "Mail.Example.COM", 11));
  EXPECT_FALSE(Store(store, "mail.example.com", 22)) << "the first one stays";
  EXPECT_EQ(store.Count(), 1u);
  CStoredConnection* found = store.FindConnection("MAIL.example.com", false);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(ValueOf(found), 11);
  store.ReturnConnection(found);
  EXPECT_TRUE(store.RemoveConnection("mail.EXAMPLE.com"));
  EXPECT_EQ(store.FindConnection("mail.example.com", false), nullptr);
  EXPECT_EQ(events.seen, (std::vector<std::string>{"stored mail.example.com",
                                                    "stored mail.example.com",
                                                    "removed mail.example.com"}));
}

TEST(ConnectionStore, StoredLockStateTravelsIntoTheStore) {
  FakeHandles fakes;
  CConnectionStore store;
  comm::CTarvixConnectionContext peer;
  CMyTransferableLock owned(true);
  comm::CUniqueConnection h = Fake(5);
  store.StoreConnection(".", peer, h, owned);
  EXPECT_FALSE(h) << "the handle moved into the store";
  EXPECT_TRUE(owned.IsClosed()) << "the events moved into the store";
  CStoredConnection* found = store.FindConnection(".", false);
  ASSERT_NE(found, nullptr);
  EXPECT_TRUE(found->IsOwnedByCaller());
  EXPECT_TRUE(found->Release());
  store.ReturnConnection(found);
}

// A second sender of the same connection runs on another thread: it notes
// whether the first had let go (released, or dropped the connection) by the
// time its find returned, so a find that returns without waiting shows.
struct SecondSender {
  SecondSender(CConnectionStore& store, std::atomic<bool>& letGo, bool giveBack)
      : thread([this, &store, &letGo, giveBack] {
          started = true;
          CStoredConnection* c = store.FindConnection(".", true);
          sawLetGo = letGo.load();
          outcome = c ? 1 : -1;
          if (c) {
            if (giveBack) c->Release();
            store.ReturnConnection(c);
          }
        }) {}
  // True when it is still inside its find a while after starting it.
  bool IsWaiting() {
    while (!started) std::this_thread::yield();
    platform::SleepMs(150);
    return outcome == 0;
  }
  std::atomic<bool> started{false}, sawLetGo{false};
  std::atomic<int> outcome{0};
  std::thread thread;
};

TEST(ConnectionStore, SecondSenderWaitsUntilTheFirstReleases) {
  FakeHandles fakes;
  CConnectionStore store;
  Store(store, ".", 7);
  CStoredConnection* mine = store.FindConnection(".", true);
  ASSERT_NE(mine, nullptr);
  std::atomic<bool> released{false};
  SecondSender other(store, released, true);
  EXPECT_TRUE(other.IsWaiting()) << "must wait for the lock";
  released = true;
  mine->Release();
  store.ReturnConnection(mine);
  other.thread.join();
  EXPECT_EQ(other.outcome.load(), 1);
  EXPECT_TRUE(other.sawLetGo) << "got the connection only after the first let go";
}

TEST(ConnectionStore, DroppingAConnectionFailsItsWaitersAndFreesItLast) {
  FakeHandles fakes;
  CConnectionStore store;
  Store(store, ".", 7);
  CStoredConnection* mine = store.FindConnection(".", true);
  ASSERT_NE(mine, nullptr);
  std::atomic<bool> dropped{false};
  SecondSender other(store, dropped, false);
  EXPECT_TRUE(other.IsWaiting()) << "must wait for the lock, not fail at once";
  // The sender's exchange failed: close the connection and drop it.
  dropped = true;
  mine->Forget();
  EXPECT_TRUE(store.RemoveConnection(".", mine));
  other.thread.join();
  EXPECT_EQ(other.outcome.load(), -1);
  EXPECT_TRUE(other.sawLetGo) << "failed by the drop, not before it";
  EXPECT_FALSE(mine->HasHandle()) << "still alive while referenced";
  EXPECT_EQ(fakes.closed, std::vector<intptr_t>{7}) << "closed once, when dropped";
  store.ReturnConnection(mine);  // freed here (the sanitizers watch)
}

TEST(ConnectionStore, RemovingOnlyTheStaleEntry) {
  FakeHandles fakes;
  CConnectionStore store;
  Store(store, ".", 1);
  CStoredConnection* stale = store.FindConnection(".", false);
  ASSERT_TRUE(store.RemoveConnection("."));
  Store(store, ".", 2);  // another sender connected afresh
  EXPECT_FALSE(store.RemoveConnection(".", stale));
  CStoredConnection* fresh = store.FindConnection(".", false);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(ValueOf(fresh), 2);
  store.ReturnConnection(fresh);
  store.ReturnConnection(stale);
}

TEST(ConnectionStore, TakeAllEmptiesTheStore) {
  FakeHandles fakes;
  CConnectionStore store;
  for (const char* h : {"a", "b", "c"}) Store(store, h, 1);
  CStoredConnection* taken[2];
  size_t total = 0, n;
  while ((n = store.TakeAll(taken, 2)) > 0) {
    total += n;
    for (size_t i = 0; i < n; ++i) store.ReturnConnection(taken[i]);
  }
  EXPECT_EQ(total, 3u);
  EXPECT_EQ(store.Count(), 0u);
}

TEST(ConnectionManager, AttemptsAndTheReachableHosts) {
  using commands::comm::host::SendResult;
  struct {
    SendResult result;
    const char* event;  // null: no event
    bool known;
  } cases[] = {
      {SendResult::kOk, "h up", true},
      {SendResult::kFailed, "h up", true},
      {SendResult::kHostReachable, "h up", true},
      {SendResult::kNoConnection, "h down", false},
      {SendResult::kHostAnswered, "h down", false},
      {SendResult::kWrongPeer, nullptr, false},
  };
  for (auto& c : cases) {
    CConnectionManager manager(CConnectionManager::kNamedPipe);
    ReachLog log;
    manager.AddObserver(&log);
    manager.ReportAttempt("h", 0, SendResult::kOk);  // known before
    log.seen.clear();
    manager.ReportAttempt("H", 1000, c.result);
    if (c.event)
      EXPECT_EQ(log.seen, std::vector<std::string>{std::string("H") + (c.event + 1)})
          << SendResultName(c.result);
    else
      EXPECT_TRUE(log.seen.empty()) << SendResultName(c.result);
    EXPECT_EQ(manager.IsKnownReachable("h"), c.known) << SendResultName(c.result);
  }
}

}  // namespace
}  // namespace tarvixlib
