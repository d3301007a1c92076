// The pipe connection under wine: opening with its retry rules against a
// missing, a hung and a real server end, the handshake in both roles over a
// real pipe, waking waits, and the TCP variant on loopback.
#include "comm/tarvixpipe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/byteorder.h"
#include "kit/names.h"
#include "kit/pipes.h"

namespace tarvixlib {
namespace comm {
namespace {

using testkit::CPipeServer;
using testkit::UniquePipeName;

ConnectParams AddinParams() {
  ConnectParams p;
  p.appType = kMailAddinType;
  p.processId = GetCurrentProcessId();
  return p;
}

std::string PathOf(const std::string& name) {
  return PipePath(kLocalHost, name.c_str()).GetString();
}

// Lends a handle that someone else owns (the pipe server) to a pipe for
// the scope, and takes it back without closing it.
class CLent {
public:
  CLent(TarvixPipe& pipe, HANDLE h, uint32_t limitMs) : pipe_(pipe) {
    pipe_.Attach(OwnPipe(h), nullptr, limitMs);
  }
  ~CLent() {
    ConnectionHandle back = pipe_.Detach().Release();
    (void)back;
  }

private:
  TarvixPipe& pipe_;
};

// Raw overlapped I/O for the scripted server ends.
bool RawWrite(HANDLE h, const void* data, DWORD length) {
  TarvixPipe pipe;
  CLent lent(pipe, h, 5000);
  return pipe.WriteStream().WriteBuffered(data, length) == length &&
         pipe.WriteStream().FlushWriteBuffer() >= 0;
}
bool RawRead(HANDLE h, void* data, DWORD length) {
  TarvixPipe pipe;
  CLent lent(pipe, h, 5000);
  return pipe.ReadStream().ReadExact(data, length);
}

// A client end of the pipe, opened the way OpenPipe does but without the
// handshake.
CUniqueConnection OpenClientEnd(const std::string& name) {
  return OwnPipe(CreateFileA(PathOf(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
}

TEST(OpenPipe, NoServiceFailsAtOnceAfterFiveAttempts) {
  CTarvixConnection connection;
  std::string name = UniquePipeName("missing");
  uint64_t t0 = GetTickCount64();
  EXPECT_FALSE(connection.OpenPipe(".", name.c_str(), AddinParams()));
  uint64_t took = GetTickCount64() - t0;
  EXPECT_LT(took, 400u) << "a missing pipe is not waited for";
  EXPECT_EQ(connection.LastOpenAttempts(), 5u);
  EXPECT_TRUE(connection.HostAnswered()) << "file not found: the host answered";
  EXPECT_FALSE(connection.IsOpen());
}

TEST(OpenPipe, HandshakeWithARealServerEndInBothRoles) {
  std::string name = UniquePipeName("served");
  std::atomic<uint32_t> clientType{0}, clientPid{0};
  std::atomic<int> serverResult{1};
  {
    CPipeServer server(PathOf(name), 1, [&](HANDLE h) {
      CTarvixConnection end;
      CLent lent(end, h, 5000);
      serverResult = static_cast<int>(end.ServerHandshake(kServiceType));
      clientType = end.PeerAppType();
      clientPid = end.PeerProcessId();
      // Say one line on the connection, then let the client close.
      end.WriteStream().WriteBuffered("100 OK\r\n", 8);
      end.WriteStream().FlushWriteBuffer();
      char c;
      end.ReadStream().ReadExact(&c, 1);
    });
    CTarvixConnection connection;
    ASSERT_TRUE(connection.OpenPipe(".", name.c_str(), AddinParams()));
    EXPECT_EQ(connection.PeerAppType(), kServiceType);
    EXPECT_EQ(connection.PeerProcessId(), GetCurrentProcessId());
    EXPECT_STREQ(connection.PeerDisplayName(), ".") << "whatever names the server sent";
    EXPECT_TRUE(connection.HostAnswered());
    EXPECT_EQ(connection.LastOpenAttempts(), 1u);
    char line[9] = {};
    ASSERT_TRUE(connection.ReadStream().ReadExact(line, 8));
    EXPECT_STREQ(line, "100 OK\r\n");
    connection.Close();
    EXPECT_FALSE(connection.IsOpen());
  }
  EXPECT_EQ(serverResult.load(), 0);
  EXPECT_EQ(clientType.load(), kMailAddinType);
  EXPECT_EQ(clientPid.load(), GetCurrentProcessId());
}

TEST(OpenPipe, AVersionTwoServerIsAnsweredWithZeroOnEveryAttempt) {
  std::string name = UniquePipeName("v2");
  std::vector<uint32_t> answers;
  std::mutex lock;
  CPipeServer server(PathOf(name), 5, [&](HANDLE h) {
    uint32_t version = 2, answer = 0xFFFF;
    RawWrite(h, &version, 4);
    if (RawRead(h, &answer, 4)) {
      std::lock_guard<std::mutex> guard(lock);
      answers.push_back(answer);
    }
  });
  CTarvixConnection connection;
  EXPECT_FALSE(connection.OpenPipe(".", name.c_str(), AddinParams()));
  EXPECT_FALSE(connection.IsOpen());
  EXPECT_LE(connection.LastOpenAttempts(), 5u);
  Sleep(100);
  std::lock_guard<std::mutex> guard(lock);
  ASSERT_FALSE(answers.empty());
  for (uint32_t a : answers) EXPECT_EQ(a, kHandshakeRefused);
}

// Sends its handshake one byte per pause, each pause within the I/O limit.
void TrickleHandshake(HANDLE h) {
  IdentityRecord record;
  IdentityFields fields;
  fields.appType = kServiceType;
  BuildIdentityRecord(fields, record);
  uint8_t hello[8 + kIdentityRecordSize];
  StoreLe32(hello, kHandshakeVersion);
  StoreLe32(hello + 4, kIdentityWireLength);
  std::memcpy(hello + 8, record.bytes, sizeof record.bytes);
  for (uint8_t byte : hello) {
    if (!RawWrite(h, &byte, 1)) return;  // the client gave up
    Sleep(50);
  }
}

// A server that says nothing, or one that trickles its handshake: every
// attempt ends once its limit has passed in all (the trickled handshake
// alone would take 23 s).
TEST(OpenPipe, AHungOrTricklingServerReleasesTheCallerAfterTheTimeLimit) {
  struct {
    const char* what;
    CPipeServer::Serve serve;
  } cases[] = {
      {"hung", [](HANDLE h) {
         char c;
         RawRead(h, &c, 1);  // says nothing; returns when the client goes away
       }},
      {"trickling", TrickleHandshake},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string name = UniquePipeName(c.what);
    CPipeServer server(PathOf(name), 5, c.serve);
    CTarvixConnection connection;
    connection.SetConnectTimeLimit(300);
    uint64_t t0 = GetTickCount64();
    EXPECT_FALSE(connection.OpenPipe(".", name.c_str(), AddinParams()));
    uint64_t took = GetTickCount64() - t0;
    EXPECT_GE(took, 250u) << "an attempt is granted its limit";
    EXPECT_LT(took, 6000u) << "five attempts at most, each bounded by 300 ms in all";
    EXPECT_FALSE(connection.IsOpen());
  }
}

TEST(OpenPipe, ASignalledCancelEventMakesNoAttempt) {
  CUniqueHandle cancel(CreateEventW(nullptr, TRUE, TRUE, nullptr));
  CTarvixConnection connection;
  connection.SetCancelEvent(cancel.Get());
  EXPECT_FALSE(connection.OpenPipe(".", UniquePipeName("cancel").c_str(), AddinParams()));
  EXPECT_EQ(connection.LastOpenAttempts(), 0u);
}

TEST(TarvixPipe, SignallingTheCurrentEventEndsAWaitingRead) {
  std::string name = UniquePipeName("wake");
  CPipeServer server(PathOf(name), 1, [](HANDLE h) {
    char c;
    RawRead(h, &c, 1);
  });
  CUniqueConnection client = OpenClientEnd(name);
  ASSERT_TRUE(client);
  TarvixPipe pipe;
  pipe.Attach(std::move(client), nullptr, 60000);
  EXPECT_EQ(pipe.CurrentEvent(), pipe.OwnEvent()) << "no event given: the own one";
  std::thread waker([&] {
    Sleep(150);
    SetEvent(pipe.CurrentEvent());
  });
  uint64_t t0 = GetTickCount64();
  char c;
  EXPECT_FALSE(pipe.ReadStream().ReadExact(&c, 1));
  EXPECT_LT(GetTickCount64() - t0, 10000u);
  waker.join();
  pipe.Close();
  EXPECT_FALSE(pipe.IsOpen());
}

TEST(TarvixPipe, AttachDetachAndTakeOver) {
  std::string name = UniquePipeName("handover");
  CPipeServer server(PathOf(name), 1, [](HANDLE h) {
    RawWrite(h, "xy", 2);
    char c;
    RawRead(h, &c, 1);
  });
  CUniqueConnection opened = OpenClientEnd(name);
  ASSERT_TRUE(opened);
  platform::FileHandle client = opened.Get().value;
  CUniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  TarvixPipe first, second;
  first.Attach(std::move(opened), event.Get(), 7000);
  EXPECT_EQ(first.IoTimeLimit(), 7000u);
  EXPECT_EQ(first.CurrentEvent(), event.Get());
  char c = 0;
  ASSERT_TRUE(first.ReadStream().ReadExact(&c, 1));
  EXPECT_EQ(c, 'x');

  second.TakeOver(first);
  EXPECT_FALSE(first.IsOpen());
  EXPECT_EQ(first.CurrentEvent(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(second.Handle(), client);
  EXPECT_EQ(second.CurrentEvent(), event.Get());
  EXPECT_EQ(second.IoTimeLimit(), TarvixPipe::kDefaultIoTimeLimit) << "time limit unchanged";
  // The byte the first pipe had buffered is not replayed; the stream goes on
  // from the handle.
  CUniqueConnection back = second.Detach();
  EXPECT_EQ(back.Get().value, client);
  EXPECT_FALSE(second.IsOpen());
  DWORD flags;
  EXPECT_TRUE(GetNamedPipeHandleStateA(client, &flags, nullptr, nullptr, nullptr, nullptr, 0))
      << "detaching closes nothing";
  second.Attach(std::move(back), nullptr, 0);
  second.Close();
  EXPECT_FALSE(GetNamedPipeHandleStateA(client, &flags, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(WaitForSingleObject(event.Get(), 0), WAIT_TIMEOUT)
      << "a caller's event is never signalled";
}

TEST(HostNames, DisplayRule) {
  EXPECT_STREQ(DisplayHostName(".").GetString(), ".");
  EXPECT_STREQ(DisplayHostName("server.example.test").GetString(), "server.example.test");
  EXPECT_STREQ(DisplayHostName("no-such-host-xyz.invalid").GetString(), "no-such-host-xyz.invalid");
}

TEST(OpenSocket, HandshakeOverLoopback) {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  CUniqueSocket listening(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  ASSERT_TRUE(listening);
  SOCKET listener = listening.Get();
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  int length = sizeof address;
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  uint16_t port = ntohs(address.sin_port);

  std::atomic<int> serverResult{1};
  std::atomic<uint32_t> clientType{0};
  std::thread server([&] {
    SOCKET s = accept(listener, nullptr, nullptr);
    if (s == INVALID_SOCKET) return;
    CTarvixConnection end(true);
    end.Attach(OwnSocket(reinterpret_cast<platform::FileHandle>(s)), nullptr, 5000);
    serverResult = static_cast<int>(end.ServerHandshake(kServiceType));
    clientType = end.PeerAppType();
    char c;
    end.ReadStream().ReadExact(&c, 1);
    end.Close();
  });
  CTarvixConnection connection;
  EXPECT_TRUE(connection.OpenSocket("127.0.0.1", port, AddinParams()));
  EXPECT_TRUE(connection.IsSocket());
  EXPECT_EQ(connection.PeerAppType(), kServiceType);
  EXPECT_EQ(connection.ConnectTimeLimit(), 300000u);
  connection.Close();
  server.join();
  EXPECT_EQ(serverResult.load(), 0);
  EXPECT_EQ(clientType.load(), kMailAddinType);
}

}  // namespace
}  // namespace comm
}  // namespace tarvixlib
