// The command client against the stand-in security service, each test on a
// pipe of its own: kept connections, reconnecting, refusing the wrong peer,
// time limits, the pipe log and the fault modes of the service.
#include "comm/client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "comm_printers.h"
#include "commands/scancommands.h"
#include "service_process.h"

namespace tarvixlib {
namespace commands {
namespace comm {
namespace {

using commtest::Client;
using commtest::CServiceProcess;
using commtest::UniquePipeName;
using tarvixservice::CScanEmailCommand;
using tarvixservice::CScanSpamCommand;

const char kEicar[] = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
const char kGtube[] = "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X";

struct Reachability : CMyObserver<tarvixlib::comm::CClientUnreachableEvent> {
  void OnEvent(CMyEventSource<tarvixlib::comm::CClientUnreachableEvent>&,
               const tarvixlib::comm::CClientUnreachableEvent& e) override {
    seen.push_back(std::string(e.host) + (e.reachable ? " reachable" : " unreachable"));
  }
  std::vector<std::string> seen;
};

struct Connections : CMyObserver<CConnectionEvent> {
  void OnEvent(CMyEventSource<CConnectionEvent>&, const CConnectionEvent& e) override {
    if (e.kind == CConnectionEvent::kStored) ++stored;
    if (e.kind == CConnectionEvent::kRemoved) ++removed;
  }
  std::atomic<int> stored{0}, removed{0};
};

// Counts the connection closes of this process (each still reaches the
// system).
std::atomic<int> g_closes{0};
void CountingClose(const tarvixlib::comm::ConnectionHandle& h) {
  ++g_closes;
  tarvixlib::comm::SystemCloseConnection(h);
}
struct CountedCloses {
  CountedCloses() : previous(tarvixlib::comm::SetConnectionCloser(&CountingClose)) { g_closes = 0; }
  ~CountedCloses() { tarvixlib::comm::SetConnectionCloser(previous); }
  int Count() const { return g_closes.load(); }
  tarvixlib::comm::ConnectionCloser previous;
};

// A reply of 60 bytes and more: long enough that sending it a byte at a
// time takes many I/O limits.
const char kSlowCommand[] =
    "command SLOW 100\n"
    "value SLOW TEXT a reply long enough to take a while when it trickles in\n";

// A send on a thread of its own.
struct SenderThread {
  SenderThread(CSimpleTarvixComm& comm, CTarvixPipeCommand& command)
      : thread([this, &comm, &command] {
          DWORD start = GetTickCount();
          result = comm.SendLocal(command, false, nullptr);
          spent = GetTickCount() - start;
        }) {}
  ~SenderThread() {
    if (thread.joinable()) thread.join();
  }
  std::atomic<SendResult> result{SendResult::kNoConnection};
  std::atomic<DWORD> spent{0};
  std::thread thread;
};

using ClientTest = commtest::ServiceProcessTest;

TEST_F(ClientTest, NoServiceLeavesCode3AtOnceAndTheHostReachable) {
  Client client(pipe);
  Reachability reach;
  client.comm.AddObserver(&reach);
  CNopCommand nop;
  DWORD start = GetTickCount();
  SendResult result = client.comm.SendLocal(nop, false, nullptr);
  DWORD spent = GetTickCount() - start;
  EXPECT_EQ(result, host::SendResult::kHostReachable);
  EXPECT_EQ(nop.GetReturnCode(), kReturnInitial);
  EXPECT_LT(spent, 1000u) << "the pipe is missing: no waiting";
  EXPECT_EQ(reach.seen, std::vector<std::string>{". reachable"});
  EXPECT_EQ(client.comm.Count(), 0u);
}

TEST_F(ClientTest, TwoCommandsShareOneConnectionAndOneHandshake) {
  ASSERT_TRUE(service.Start(pipe, ""));
  Client client(pipe);
  Connections connections;
  client.comm.AddObserver(&connections);
  CNopCommand first, second;
  EXPECT_EQ(client.comm.SendLocal(first, false, nullptr), host::SendResult::kOk);
  EXPECT_EQ(client.comm.SendLocal(second, false, nullptr), host::SendResult::kOk);
  EXPECT_EQ(first.GetReturnCode(), kReturnSuccess);
  EXPECT_EQ(second.GetReturnCode(), kReturnSuccess);
  EXPECT_TRUE(service.WaitForCount("NOP -> 100", 2, 5000)) << service.Output();
  EXPECT_EQ(service.Count("connected: type 0x2002"), 1u) << service.Output();
  EXPECT_EQ(connections.stored.load(), 1);
  EXPECT_EQ(client.comm.Count(), 1u);
}

TEST_F(ClientTest, RestartedServiceIsReachedAfreshWithinTheSameCall) {
  ASSERT_TRUE(service.Start(pipe, ""));
  Client client(pipe);
  CNopCommand before;
  ASSERT_EQ(client.comm.SendLocal(before, false, nullptr), host::SendResult::kOk);
  ASSERT_TRUE(service.Stop());

  CServiceProcess again;
  ASSERT_TRUE(again.Start(pipe, ""));
  CNopCommand after;
  EXPECT_EQ(client.comm.SendLocal(after, false, nullptr), host::SendResult::kOk);
  EXPECT_EQ(after.GetReturnCode(), kReturnSuccess);
  EXPECT_TRUE(again.WaitFor("NOP -> 100", 5000)) << again.Output();
  EXPECT_EQ(client.comm.Count(), 1u);
}

TEST_F(ClientTest, ServiceGoneForGoodKeepsCode2FromTheFailedAttempt) {
  ASSERT_TRUE(service.Start(pipe, ""));
  Client client(pipe);
  CNopCommand before;
  ASSERT_EQ(client.comm.SendLocal(before, false, nullptr), host::SendResult::kOk);
  ASSERT_TRUE(service.Stop());
  CNopCommand after;
  SendResult result = client.comm.SendLocal(after, false, nullptr);
  EXPECT_EQ(result, host::SendResult::kHostReachable);
  EXPECT_EQ(after.GetReturnCode(), kReturnFailed);
  EXPECT_EQ(client.comm.Count(), 0u) << "the stale connection is dropped";
}

TEST_F(ClientTest, WrongApplicationTypeIsRefusedBeforeSending) {
  ASSERT_TRUE(service.Start(pipe, "apptype 0x4004\n"));
  Client client(pipe);
  CNopCommand nop;
  EXPECT_EQ(client.comm.SendLocal(nop, false, nullptr), host::SendResult::kWrongPeer);
  EXPECT_EQ(nop.GetReturnCode(), kReturnInitial);
  EXPECT_EQ(client.comm.Count(), 0u) << "the connection is dropped";
  EXPECT_TRUE(service.WaitFor("closed", 5000));
  EXPECT_EQ(service.Count("NOP"), 0u) << service.Output();
}

TEST_F(ClientTest, HandshakeRecordLengths) {
  struct {
    const char* scenario;
    SendResult result;
  } cases[] = {
      {"record-length 7\n", host::SendResult::kHostReachable},
      {"record-length 300\n", host::SendResult::kOk},
      {"record-length 460\n", host::SendResult::kOk},
      {"record-length 4097\n", host::SendResult::kHostReachable},
  };
  for (auto& c : cases) {
    CServiceProcess one;
    std::string name = UniquePipeName("lengths");
    ASSERT_TRUE(one.Start(name, c.scenario));
    Client client(name);
    CNopCommand nop;
    EXPECT_EQ(client.comm.SendLocal(nop, false, nullptr), c.result) << c.scenario;
    EXPECT_EQ(nop.GetReturnCode(),
              c.result == host::SendResult::kOk ? kReturnSuccess : kReturnInitial)
        << c.scenario;
  }
}

TEST_F(ClientTest, ServerVersion2IsAnsweredWith0AndFails) {
  ASSERT_TRUE(service.Start(pipe, "handshake-version 2\n"));
  tarvixlib::comm::CUniqueConnection h = tarvixlib::comm::OwnPipe(CreateFileA(
      tarvixlib::comm::PipePath(tarvixlib::comm::kLocalHost, pipe.c_str()).GetString(),
      GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  ASSERT_TRUE(h);
  tarvixlib::comm::CTarvixConnection connection;
  connection.Attach(std::move(h), nullptr, 5000);
  tarvixlib::comm::ConnectParams params;
  params.appType = kMailAddinType;
  EXPECT_EQ(connection.ClientHandshake(params), tarvixlib::comm::HandshakeResult::kWrongVersion);
  EXPECT_TRUE(service.WaitFor("client answered 0", 5000)) << service.Output();
  connection.Close();

  Client client(pipe);
  CNopCommand nop;
  EXPECT_EQ(client.comm.SendLocal(nop, false, nullptr), host::SendResult::kHostReachable);
  EXPECT_EQ(nop.GetReturnCode(), kReturnInitial);
}

TEST_F(ClientTest, HungServiceReleasesTheCallerAfterTheTimeLimit) {
  ASSERT_TRUE(service.Start(pipe, "fault NOP noreply\n"));
  Client client(pipe, 1500);
  CNopCommand nop;
  DWORD start = GetTickCount();
  SendResult result = client.comm.SendLocal(nop, false, nullptr);
  DWORD spent = GetTickCount() - start;
  EXPECT_EQ(result, host::SendResult::kFailed);
  EXPECT_EQ(nop.GetReturnCode(), kReturnFailed);
  EXPECT_GE(spent, 1000u);
  EXPECT_LT(spent, 15000u);
  EXPECT_EQ(client.comm.Count(), 0u);
}

TEST_F(ClientTest, AbortEndsAHungSendEarly) {
  ASSERT_TRUE(service.Start(pipe, "fault NOP noreply\n"));
  Client client(pipe);  // 60 s limit
  std::thread aborter([&] {
    service.WaitFor("NOP: not answering", 20000);
    client.comm.Dispatcher().Abort();
  });
  CNopCommand nop;
  DWORD start = GetTickCount();
  client.comm.SendLocal(nop, false, nullptr);
  DWORD spent = GetTickCount() - start;
  aborter.join();
  EXPECT_EQ(nop.GetReturnCode(), kReturnFailed);
  EXPECT_LT(spent, 30000u);
}

// An Abort is for the send in progress: the next send, on the kept
// connection, goes through.
TEST_F(ClientTest, AnAbortBetweenSendsDoesNotCancelTheNextOne) {
  ASSERT_TRUE(service.Start(pipe, ""));
  Client client(pipe);
  CNopCommand first;
  ASSERT_EQ(client.comm.SendLocal(first, false, nullptr), host::SendResult::kOk);
  client.comm.Dispatcher().Abort();
  for (int i = 0; i < 3; ++i) {
    CNopCommand next;
    EXPECT_EQ(client.comm.SendLocal(next, false, nullptr), host::SendResult::kOk) << i;
    EXPECT_EQ(next.GetReturnCode(), kReturnSuccess);
  }
  EXPECT_TRUE(service.WaitForCount("NOP -> 100", 4, 5000)) << service.Output();
  EXPECT_EQ(service.Count("connected: type 0x2002"), 1u) << "one connection throughout";
}

TEST_F(ClientTest, FaultsEndInCode2WithoutHanging) {
  struct {
    const char* scenario;
    const char* shown;
  } cases[] = {
      {"fault SCAN_EMAIL close-mid-reply\n", "hanging up in the middle of the reply"},
      {"fault SCAN_EMAIL close-mid-data\n", "hanging up in the middle of the request"},
      {"fault SCAN_EMAIL malformed-status\n", "malformed status line"},
  };
  std::string big(3 * 1024 * 1024, 'x');
  for (auto& c : cases) {
    CServiceProcess one;
    std::string name = UniquePipeName("faults");
    ASSERT_TRUE(one.Start(name, c.scenario));
    Client client(name, 10000);
    CScanEmailCommand scan;
    scan.file.Set("big.bin");
    scan.content.SetBytes(big.data(), big.size());
    client.comm.SendLocal(scan, false, nullptr);
    EXPECT_EQ(scan.GetReturnCode(), kReturnFailed) << c.scenario;
    EXPECT_FALSE(scan.IsVirus()) << c.scenario;
    EXPECT_TRUE(one.WaitFor(c.shown, 5000)) << one.Output();
  }
}

TEST_F(ClientTest, DelayedReplyArrivesWithinTheLimit) {
  ASSERT_TRUE(service.Start(pipe, "fault NOP delay 700\n"));
  Client client(pipe, 5000);
  CNopCommand nop;
  EXPECT_EQ(client.comm.SendLocal(nop, false, nullptr), host::SendResult::kOk);
  EXPECT_EQ(nop.GetReturnCode(), kReturnSuccess);
}

TEST_F(ClientTest, VerdictsOfTheService) {
  ASSERT_TRUE(service.Start(pipe,
                            "file locked.zip IGNORED Archive is password protected\n"
                            "file named.exe VIRUS Trojan.Test\n"
                            "spam Cheap watches 1\n"));
  Client client(pipe);
  struct {
    const char* file;
    std::string content;
    const char* scanRet;
    const char* detail;
  } cases[] = {
      {"eicar.com", std::string(kEicar) + "\r\n", "VIRUS", "Eicar-Test-Signature"},
      {"report.pdf", "%PDF-1.4 harmless", "OK", ""},
      {"LOCKED.ZIP", "PK", "IGNORED", "Archive is password protected"},
      {"named.exe", "MZ", "VIRUS", "Trojan.Test"},
      {"empty.txt", "", "OK", ""},
  };
  for (auto& c : cases) {
    CScanEmailCommand scan;
    scan.file.Set(c.file);
    scan.from.Set("anna@example.com");
    scan.subject.Set("Files");
    scan.content.SetBytes(c.content.data(), c.content.size());
    ASSERT_EQ(client.comm.SendLocal(scan, false, nullptr), host::SendResult::kOk) << c.file;
    EXPECT_STREQ(scan.scanRet.Get().GetString(), c.scanRet) << c.file;
    const CMyStringA& detail = scan.IsVirus() ? scan.sigName.Get() : scan.errorString.Get();
    EXPECT_STREQ(detail.GetString(), c.detail) << c.file;
  }

  struct {
    const char* subject;
    std::string body;
    int verdict;
  } mails[] = {
      {"Hello", std::string("Subject: Hello\r\n\r\n") + kGtube + "\r\n", 2},
      {"Cheap watches", "Subject: Cheap watches\r\n\r\nbuy\r\n", 1},
      {"Lunch", "Subject: Lunch\r\n\r\nat noon?\r\n", 0},
  };
  for (auto& m : mails) {
    CMyStreamBuf mime;
    mime.Write(m.body.data(), m.body.size());
    CScanSpamCommand spam(&mime);
    spam.subject.Set(m.subject);
    ASSERT_EQ(client.comm.SendLocal(spam, false, nullptr), host::SendResult::kOk) << m.subject;
    EXPECT_EQ(spam.Verdict(), m.verdict) << m.subject;
  }
  EXPECT_EQ(service.Count("connected:"), 1u);
}

TEST_F(ClientTest, ScriptedCommandsAndARefusedListener) {
  ASSERT_TRUE(service.Start(pipe,
                            "command GET_TARVIXSTATUS 100\n"
                            "value GET_TARVIXSTATUS MAIN_PATH_W C:\\Program Files\\Zelvok\n"
                            "command START_LISTENER 170\n"));
  Client client(pipe);
  struct Status : CTarvixPipeCommand {
    CStringParam mainPath{"MAIN_PATH_W", ""};
    Status() : CTarvixPipeCommand("GET_TARVIXSTATUS", 0) { AddResponseParam(mainPath); }
  } status;
  ASSERT_EQ(client.comm.SendLocal(status, false, nullptr), host::SendResult::kOk);
  EXPECT_EQ(status.GetReturnCode(), kReturnSuccess);
  EXPECT_STREQ(status.mainPath.Get().GetString(), "C:\\Program Files\\Zelvok");

  CTarvixPipeCommand listener("START_LISTENER", 0);
  ASSERT_EQ(client.comm.SendLocal(listener, false, nullptr), host::SendResult::kOk);
  EXPECT_EQ(listener.GetReturnCode(), 170);

  CTarvixPipeCommand unknown("NO_SUCH_COMMAND", 0);
  ASSERT_EQ(client.comm.SendLocal(unknown, false, nullptr), host::SendResult::kOk);
  EXPECT_EQ(unknown.GetReturnCode(), kReturnUnknownCommand);
}

TEST_F(ClientTest, PipeLogEntriesArriveInTheServiceLog) {
  std::string log = commtest::TempPath(("log-" + pipe).c_str());
  DeleteFileA(log.c_str());
  ASSERT_TRUE(service.Start(pipe, "", log));
  {
    Client client(pipe);
    client.comm.PipeLog().LogInfo("Scanned %d attachments in %u ms", 3, 41u);
    client.comm.PipeLog().LogWarn("Subject with\nline break");
    client.comm.PipeLog().LogDebug("not sent: dbg is off");
    EXPECT_EQ(client.comm.PipeLog().LastCode(), kReturnSuccess);
  }
  EXPECT_TRUE(service.WaitFor("CLOSE_CONNECTION -> 100", 5000)) << service.Output();
  std::string text = commtest::ReadFileText(log);
  EXPECT_NE(text.find("info  Scanned 3 attachments in 41 ms\n"), std::string::npos) << text;
  EXPECT_NE(text.find("warn  Subject with line break\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("not sent"), std::string::npos) << text;
  DeleteFileA(log.c_str());
}

TEST_F(ClientTest, UnloadSaysGoodbyeOnTheKeptConnection) {
  ASSERT_TRUE(service.Start(pipe, ""));
  {
    Client client(pipe);
    CNopCommand nop;
    ASSERT_EQ(client.comm.SendLocal(nop, false, nullptr), host::SendResult::kOk);
  }
  EXPECT_TRUE(service.WaitFor("[1] closed", 5000)) << service.Output();
  EXPECT_EQ(service.Count("[1] CLOSE_CONNECTION -> 100"), 1u) << service.Output();
}

TEST_F(ClientTest, ConcurrentSendersSerializeOnTheKeptConnection) {
  ASSERT_TRUE(service.Start(pipe, "fault NOP delay 5\n"));
  Client client(pipe);
  CNopCommand warmUp;
  ASSERT_EQ(client.comm.SendLocal(warmUp, false, nullptr), host::SendResult::kOk);
  std::atomic<int> ok{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < 4; ++t) {
    senders.emplace_back([&] {
      for (int i = 0; i < 10; ++i) {
        CNopCommand nop;
        if (client.comm.SendLocal(nop, false, nullptr) == host::SendResult::kOk &&
            nop.GetReturnCode() == kReturnSuccess)
          ++ok;
      }
    });
  }
  for (auto& s : senders) s.join();
  EXPECT_EQ(ok.load(), 40);
  EXPECT_TRUE(service.WaitForCount("NOP -> 100", 41, 5000)) << service.Output();
  EXPECT_EQ(service.Count("connected:"), 1u) << service.Output();
}

TEST_F(ClientTest, HostNamesDifferingInCaseShareOneKeptConnection) {
  ASSERT_TRUE(service.Start(pipe, ""));
  Client client(pipe);
  // A kept connection for a host by a name of mixed case, opened here over
  // the local pipe (the name itself leads nowhere).
  {
    CTarvixSession session(false);
    tarvixlib::comm::ConnectParams params;
    params.appType = kMailAddinType;
    ASSERT_TRUE(session.OpenPipe(".", pipe.c_str(), params));
    CMyTransferableLock lock(false);
    tarvixlib::comm::CUniqueConnection handle = session.Detach();
    ASSERT_TRUE(client.comm.StoreConnection("Mail-Host.Example", session, handle, lock));
  }
  for (const char* name : {"MAIL-HOST.EXAMPLE", "mail-host.example", "Mail-Host.Example"}) {
    CNopCommand nop;
    EXPECT_EQ(client.comm.SendNow(nop, name, false, nullptr), host::SendResult::kOk) << name;
    EXPECT_EQ(nop.GetReturnCode(), kReturnSuccess) << name;
  }
  EXPECT_EQ(client.comm.Count(), 1u);
  EXPECT_TRUE(service.WaitForCount("NOP -> 100", 3, 5000)) << service.Output();
  EXPECT_EQ(service.Count("connected:"), 1u) << service.Output();
}

// A peer that sends its reply one byte per pause, each pause well within
// the I/O limit, is cut off once the exchange's bound has passed: code 2,
// the connection dropped, and no second attempt on a fresh connection. The
// floor rate decides how much time the bytes earn.
TEST_F(ClientTest, ATricklingReplyIsBoundedByTheExchange) {
  ASSERT_TRUE(service.Start(pipe, std::string(kSlowCommand) + "fault SLOW trickle 100\n"));
  struct {
    uint32_t floorBytesPerSecond;
    SendResult result;
  } cases[] = {
      // 1 MiB/s: the 10 bytes a second of the peer earn nothing to speak of.
      {tarvixlib::comm::CExchangeClock::kDefaultFloorBytesPerSecond, SendResult::kFailed},
      // 5 bytes a second: each byte earns 200 ms, more than its pause.
      {5, SendResult::kOk},
  };
  size_t nops = 0;
  for (auto& c : cases) {
    SCOPED_TRACE(c.floorBytesPerSecond);
    Client client(pipe, 1000);
    client.comm.Dispatcher().SetExchangeFloorRate(c.floorBytesPerSecond);
    CNopCommand warmUp;  // a kept connection, so that a retry would be possible
    ASSERT_EQ(client.comm.SendLocal(warmUp, false, nullptr), SendResult::kOk);
    ASSERT_TRUE(service.WaitForCount("NOP -> 100", ++nops, 5000)) << service.Output();
    size_t connected = service.Count("connected:");
    CTarvixPipeCommand slow("SLOW", 0);
    DWORD start = GetTickCount();
    EXPECT_EQ(client.comm.SendLocal(slow, false, nullptr), c.result);
    DWORD spent = GetTickCount() - start;
    if (c.result == SendResult::kFailed) {
      EXPECT_EQ(slow.GetReturnCode(), kReturnFailed);
      EXPECT_GE(spent, 900u) << "the I/O limit is granted";
      EXPECT_LT(spent, 4000u) << "the whole reply would take over 7 s";
      EXPECT_EQ(client.comm.Count(), 0u) << "the connection is dropped";
      // The next command connects afresh; by the time the service shows it,
      // a second attempt of SLOW would have shown too.
      CNopCommand next;
      ASSERT_EQ(client.comm.SendLocal(next, false, nullptr), SendResult::kOk);
      ASSERT_TRUE(service.WaitForCount("NOP -> 100", ++nops, 5000)) << service.Output();
      EXPECT_EQ(service.Count("connected:"), connected + 1) << "SLOW was not sent again afresh";
    } else {
      EXPECT_EQ(slow.GetReturnCode(), kReturnSuccess);
      EXPECT_GT(spent, 4000u) << "the reply took its time";
      EXPECT_EQ(client.comm.Count(), 1u);
    }
  }
}

// A sender waiting for its turn behind a trickling exchange waits no longer
// than that exchange's bound: the connection is dropped, its lock closed,
// and the waiter goes on to a fresh connection.
TEST_F(ClientTest, SendersWaitingBehindAStuckExchangeAreFreedByItsBound) {
  ASSERT_TRUE(service.Start(pipe, std::string(kSlowCommand) + "fault SLOW trickle 300\n"));
  Client client(pipe, 1500);
  CNopCommand warmUp;
  ASSERT_EQ(client.comm.SendLocal(warmUp, false, nullptr), SendResult::kOk);
  CTarvixPipeCommand slow("SLOW", 0);
  SenderThread stuck(client.comm, slow);
  ASSERT_TRUE(service.WaitFor("SLOW: trickling the reply", 10000)) << service.Output();
  CNopCommand waiting;
  DWORD start = GetTickCount();
  EXPECT_EQ(client.comm.SendLocal(waiting, false, nullptr), SendResult::kOk);
  DWORD spent = GetTickCount() - start;
  EXPECT_EQ(waiting.GetReturnCode(), kReturnSuccess);
  EXPECT_LT(spent, 8000u) << "the stuck reply alone would take over 20 s";
  stuck.thread.join();
  EXPECT_EQ(stuck.result.load(), SendResult::kFailed);
  EXPECT_EQ(slow.GetReturnCode(), kReturnFailed);
  EXPECT_TRUE(service.WaitFor("[2] NOP -> 100", 5000)) << "the waiter connected afresh";
}

// Closing the kept connections while a send is in flight waits for it: the
// goodbye goes out after its reply, never into the middle of its exchange.
TEST_F(ClientTest, ClosingKeptConnectionsWaitsForTheSendInFlight) {
  ASSERT_TRUE(service.Start(pipe, "fault NOP delay 1500\n"));
  Client client(pipe);
  CNopCommand nop;
  SenderThread sender(client.comm, nop);
  ASSERT_TRUE(service.WaitFor("[1] NOP: holding the reply", 10000)) << service.Output();
  client.comm.CloseAllConnections();
  sender.thread.join();
  EXPECT_EQ(sender.result.load(), SendResult::kOk);
  EXPECT_EQ(nop.GetReturnCode(), kReturnSuccess);
  EXPECT_TRUE(service.WaitFor("[1] closed", 5000)) << service.Output();
  EXPECT_EQ(service.Count("arrived before the reply"), 0u) << service.Output();
  EXPECT_EQ(service.Count("[1] CLOSE_CONNECTION -> 100"), 1u) << service.Output();
  EXPECT_EQ(client.comm.Count(), 0u);
}

// Unloading while one send is in the middle of its exchange and another
// waits for its turn: both are aborted and waited for, nothing is written
// into the exchange, and the connection is closed once.
TEST_F(ClientTest, UnloadAbortsSendsInFlightAndClosesEachConnectionOnce) {
  ASSERT_TRUE(service.Start(pipe, "fault NOP delay 5000\n"));
  CountedCloses closes;
  // Each send reports its attempt to the observers just before it lets go
  // of the client.
  struct Attempts : CMyObserver<tarvixlib::comm::CClientUnreachableEvent> {
    void OnEvent(CMyEventSource<tarvixlib::comm::CClientUnreachableEvent>&,
                 const tarvixlib::comm::CClientUnreachableEvent&) override {
      ++reported;
    }
    std::atomic<int> reported{0};
  } attempts;
  auto client = std::make_unique<Client>(pipe);
  client->comm.AddObserver(&attempts);
  CNopCommand first, second;
  SenderThread inExchange(client->comm, first);
  ASSERT_TRUE(service.WaitFor("[1] NOP: holding the reply", 10000)) << service.Output();
  SenderThread waiting(client->comm, second);
  Sleep(200);  // the second sender waits for the connection's lock
  DWORD start = GetTickCount();
  client.reset();
  DWORD spent = GetTickCount() - start;
  EXPECT_EQ(attempts.reported.load(), 2)
      << "unloading waits for the send in flight and for the one waiting for its turn";
  EXPECT_LT(spent, 4000u) << "aborted, not waited out";
  inExchange.thread.join();
  waiting.thread.join();
  EXPECT_LT(inExchange.spent.load(), 8000u);
  EXPECT_LT(waiting.spent.load(), 8000u);
  EXPECT_EQ(first.GetReturnCode(), kReturnFailed);
  EXPECT_NE(second.GetReturnCode(), kReturnSuccess);
  EXPECT_TRUE(service.WaitFor("[1] closed", 10000)) << service.Output();
  EXPECT_EQ(service.Count("arrived before the reply"), 0u) << service.Output();
  EXPECT_EQ(service.Count("CLOSE_CONNECTION"), 0u) << "no goodbye inside an exchange";
  EXPECT_EQ(static_cast<size_t>(closes.Count()), service.Count("connected:"))
      << "each connection closed once";
}

// The process log pool refers to the client's logs until the client is
// gone; the client's context log must outlive that reference.
TEST(ClientUnload, TheContextLogOutlivesTheProcessPoolsReference) {
  struct ProbeLog : CMyLog {
    ProbeLog(std::atomic<int>& during, std::atomic<int>& late) : during_(during), late_(late) {
      EnableAllLevels();
    }
    ~ProbeLog() override {
      ending_ = true;
      CMyLogPool::ProcessPool().LogAlert("written while the client goes");
      Close();
    }
    void Write(uint32_t, const char*, va_list) override { ++(ending_ ? late_ : during_); }
    std::atomic<int>& during_;
    std::atomic<int>& late_;
    bool ending_ = false;
  };
  std::atomic<int> during{0}, late{0};
  {
    CSimpleTarvixComm client(tarvixlib::comm::kLocalHost, kMailAddinType, kServiceTypeBits, 0, 1000,
                             new ProbeLog(during, late));
    CMyLogPool::ProcessPool().LogAlert("written while the client lives");
  }
  EXPECT_EQ(during.load(), 1) << "the process pool reaches the context log";
  EXPECT_EQ(late.load(), 0) << "nothing reaches it once it is being destroyed";
}

}  // namespace
}  // namespace comm
}  // namespace commands
}  // namespace tarvixlib
