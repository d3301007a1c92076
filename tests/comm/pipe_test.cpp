// The pipe connection under wine: opening with its retry rules against a
// missing, a hung and a real server end, the handshake in both roles over a
// real pipe, waking waits, and the TCP variant on loopback.
#include "comm/tarvixpipe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvixlib {
namespace comm {
namespace {

std::string UniquePipeName(const char* what) {
  static int serial = 0;
  return std::string("tarvix-test-") + what + "-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(++serial);
}

ConnectParams AddinParams() {
  ConnectParams p;
  p.appType = 0x2002;
  p.processId = GetCurrentProcessId();
  return p;
}

// Serves instances of one pipe on a thread; each connected instance is
// handed to `serve`, then closed. Stops when asked or after `instances`.
class PipeServer {
public:
  using Serve = std::function<void(HANDLE)>;
  PipeServer(const std::string& name, int instances, Serve serve)
      : path_(PipePath(".", name.c_str()).GetString()), serve_(std::move(serve)) {
    // The first instance exists before the client looks for it.
    HANDLE first = NewInstance();
    thread_ = std::thread([this, first, instances] {
      HANDLE h = first;
      for (int i = 0; i < instances && !stop_; ++i) {
        if (i > 0) h = NewInstance();
        if (h == INVALID_HANDLE_VALUE) break;
        OVERLAPPED ov = {};
        ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        BOOL ok = ConnectNamedPipe(h, &ov);
        DWORD error = GetLastError();
        if (!ok && error == ERROR_IO_PENDING) {
          while (!stop_ && WaitForSingleObject(ov.hEvent, 50) == WAIT_TIMEOUT) {
          }
          DWORD n;
          ok = !stop_ && GetOverlappedResult(h, &ov, &n, FALSE);
        } else if (!ok && error == ERROR_PIPE_CONNECTED) {
          ok = TRUE;
        }
        CloseHandle(ov.hEvent);
        if (ok) {
          ++served_;
          serve_(h);
        }
        CancelIo(h);
        DisconnectNamedPipe(h);
        CloseHandle(h);
      }
    });
  }
  ~PipeServer() {
    stop_ = true;
    thread_.join();
  }
  int Served() const { return served_; }

private:
  HANDLE NewInstance() {
    return CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                            PIPE_UNLIMITED_INSTANCES, 65536, 65536, 0, nullptr);
  }
  std::string path_;
  Serve serve_;
  std::atomic<bool> stop_{false};
  std::atomic<int> served_{0};
  std::thread thread_;
};

// Raw overlapped I/O for the scripted server ends.
bool RawWrite(HANDLE h, const void* data, DWORD length) {
  TarvixPipe pipe;
  pipe.Attach(h, nullptr, 5000);
  bool ok = pipe.WriteStream().WriteBuffered(data, length) == length &&
            pipe.WriteStream().FlushWriteBuffer() >= 0;
  pipe.Detach();
  return ok;
}
bool RawRead(HANDLE h, void* data, DWORD length) {
  TarvixPipe pipe;
  pipe.Attach(h, nullptr, 5000);
  bool ok = pipe.ReadStream().ReadExact(data, length);
  pipe.Detach();
  return ok;
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
    PipeServer server(name, 1, [&](HANDLE h) {
      CTarvixConnection end;
      end.Attach(h, nullptr, 5000);
      serverResult = end.ServerHandshake(0x1001);
      clientType = end.PeerAppType();
      clientPid = end.PeerProcessId();
      // Say one line on the connection, then let the client close.
      end.WriteStream().WriteBuffered("100 OK\r\n", 8);
      end.WriteStream().FlushWriteBuffer();
      char c;
      end.ReadStream().ReadExact(&c, 1);
      end.Detach();
    });
    CTarvixConnection connection;
    ASSERT_TRUE(connection.OpenPipe(".", name.c_str(), AddinParams()));
    EXPECT_EQ(connection.PeerAppType(), 0x1001u);
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
  EXPECT_EQ(clientType.load(), 0x2002u);
  EXPECT_EQ(clientPid.load(), GetCurrentProcessId());
}

TEST(OpenPipe, AVersionTwoServerIsAnsweredWithZeroOnEveryAttempt) {
  std::string name = UniquePipeName("v2");
  std::vector<uint32_t> answers;
  std::mutex lock;
  PipeServer server(name, 5, [&](HANDLE h) {
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
  for (uint32_t a : answers) EXPECT_EQ(a, 0u);
}

TEST(OpenPipe, AHungServerReleasesTheCallerAfterTheTimeLimit) {
  std::string name = UniquePipeName("hung");
  PipeServer server(name, 5, [](HANDLE h) {
    char c;
    RawRead(h, &c, 1);  // says nothing; returns when the client goes away
  });
  CTarvixConnection connection;
  connection.SetConnectTimeLimit(300);
  uint64_t t0 = GetTickCount64();
  EXPECT_FALSE(connection.OpenPipe(".", name.c_str(), AddinParams()));
  uint64_t took = GetTickCount64() - t0;
  EXPECT_GE(took, 250u) << "the handshake read waited for its limit";
  EXPECT_LT(took, 4000u) << "five attempts at most, each bounded by 300 ms of I/O";
}

TEST(OpenPipe, ASignalledCancelEventMakesNoAttempt) {
  HANDLE cancel = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  CTarvixConnection connection;
  connection.SetCancelEvent(cancel);
  EXPECT_FALSE(connection.OpenPipe(".", UniquePipeName("cancel").c_str(), AddinParams()));
  EXPECT_EQ(connection.LastOpenAttempts(), 0u);
  CloseHandle(cancel);
}

TEST(TarvixPipe, SignallingTheCurrentEventEndsAWaitingRead) {
  std::string name = UniquePipeName("wake");
  PipeServer server(name, 1, [](HANDLE h) {
    char c;
    RawRead(h, &c, 1);
  });
  HANDLE client = CreateFileA(PipePath(".", name.c_str()).GetString(), GENERIC_READ | GENERIC_WRITE,
                              0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  TarvixPipe pipe;
  pipe.Attach(client, nullptr, 60000);
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
  PipeServer server(name, 1, [](HANDLE h) {
    RawWrite(h, "xy", 2);
    char c;
    RawRead(h, &c, 1);
  });
  HANDLE client = CreateFileA(PipePath(".", name.c_str()).GetString(), GENERIC_READ | GENERIC_WRITE,
                              0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  TarvixPipe first, second;
  first.Attach(client, event, 7000);
  EXPECT_EQ(first.IoTimeLimit(), 7000u);
  EXPECT_EQ(first.CurrentEvent(), event);
  char c = 0;
  ASSERT_TRUE(first.ReadStream().ReadExact(&c, 1));
  EXPECT_EQ(c, 'x');

  second.TakeOver(first);
  EXPECT_FALSE(first.IsOpen());
  EXPECT_EQ(first.CurrentEvent(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(second.Handle(), client);
  EXPECT_EQ(second.CurrentEvent(), event);
  EXPECT_EQ(second.IoTimeLimit(), TarvixPipe::kDefaultIoTimeLimit) << "time limit unchanged";
  // The byte the first pipe had buffered is not replayed; the stream goes on
  // from the handle.
  HANDLE h = second.Detach();
  EXPECT_EQ(h, client);
  EXPECT_FALSE(second.IsOpen());
  DWORD flags;
  EXPECT_TRUE(GetNamedPipeHandleStateA(h, &flags, nullptr, nullptr, nullptr, nullptr, 0))
      << "detaching closes nothing";
  second.Attach(h, nullptr, 0);
  second.Close();
  EXPECT_FALSE(GetNamedPipeHandleStateA(h, &flags, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "a caller's event is never signalled";
  CloseHandle(event);
}

TEST(HostNames, DisplayRuleAndPipePath) {
  EXPECT_STREQ(DisplayHostName(".").GetString(), ".");
  EXPECT_STREQ(DisplayHostName("server.example.test").GetString(), "server.example.test");
  EXPECT_STREQ(DisplayHostName("no-such-host-xyz.invalid").GetString(), "no-such-host-xyz.invalid");
  EXPECT_STREQ(PipePath("", "").GetString(), "\\\\.\\pipe\\TarvixPipe");
  EXPECT_STREQ(PipePath("host", "Other").GetString(), "\\\\host\\pipe\\Other");
}

TEST(OpenSocket, HandshakeOverLoopback) {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(listener, INVALID_SOCKET);
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
    end.Attach(reinterpret_cast<HANDLE>(s), nullptr, 5000);
    serverResult = end.ServerHandshake(0x1001);
    clientType = end.PeerAppType();
    char c;
    end.ReadStream().ReadExact(&c, 1);
    end.Close();
  });
  CTarvixConnection connection;
  EXPECT_TRUE(connection.OpenSocket("127.0.0.1", port, AddinParams()));
  EXPECT_TRUE(connection.IsSocket());
  EXPECT_EQ(connection.PeerAppType(), 0x1001u);
  EXPECT_EQ(connection.ConnectTimeLimit(), 300000u);
  connection.Close();
  server.join();
  closesocket(listener);
  EXPECT_EQ(serverResult.load(), 0);
  EXPECT_EQ(clientType.load(), 0x2002u);
}

}  // namespace
}  // namespace comm
}  // namespace tarvixlib
